#pragma once
// The three administration dialogs: the world's features (dialog 604, over the world
// attribute slots), the universe's attributes (dialog 626) and ejecting a user (dialog 622).
// Each runs modally with frames going on meanwhile. Window thread only.
#include <cstdint>

enum WorldFeaturesIds {
  WORLDOPTS_DIALOG = 604,
  WORLDOPTS_TITLE = 101,
  WORLDOPTS_BACKDROP = 102,
  WORLDOPTS_GROUND = 103,
  WORLDOPTS_OBJECT_PATH = 104,
  WORLDOPTS_RESTRICTED_RADIUS = 106,
  WORLDOPTS_HOME_PAGE = 107,
  WORLDOPTS_ENTER_RIGHTS = 108,
  WORLDOPTS_SPECIAL_RIGHTS = 110,
  WORLDOPTS_EMINENT_RIGHTS = 111,
  WORLDOPTS_BUILD_RIGHTS = 112,
  WORLDOPTS_REFRESH = 113,
  WORLDOPTS_SWATCH = 114,
  WORLDOPTS_CHANGE_COLOR = 115,
  WORLDOPTS_SPEAKER_RIGHTS = 116,
  WORLDOPTS_PASSWORD = 118,
  WORLDOPTS_NO_URL_COMMAND = 119,
  WORLDOPTS_EJECT_RIGHTS = 120,
  WORLDOPTS_WELCOME = 121,
  WORLDOPTS_RATING = 122,
  WORLDOPTS_CELL_LIMIT = 123,
  WORLDOPTS_PASS_THROUGH = 124,
  WORLDOPTS_FLYING = 125,
  WORLDOPTS_LOCAL_TELEPORTS = 126,
  WORLDOPTS_VRML_SCALING = 127,
  WORLDOPTS_FIRST_LABEL = 128,  // 128 to 149
  WORLDOPTS_LAST_LABEL = 149,
};

enum UniverseAdminIds {
  ADMIN_DIALOG = 626,
  ADMIN_MINIMUM_BROWSER = 450,
  ADMIN_DEFAULT_WORLD = 451,
  ADMIN_LATEST_BROWSER = 452,
  ADMIN_STATUS = 453,
  ADMIN_BETA_BROWSER = 454,
  ADMIN_MINIMUM_WORLD = 455,
  ADMIN_FIRST_LABEL = 456,  // 456 to 461
};
constexpr int ADMIN_FIELD_LIMIT = 8;

enum EjectIds {
  EJECT_DIALOG = 622,
  EJECT_FIVE_MINUTES = 551,
  EJECT_HOUR = 552,
  EJECT_DAY = 553,
  EJECT_WEEK = 554,
  EJECT_NAME = 555,
  EJECT_STATUS = 556,
  EJECT_NAME_LABEL = 557,
  EJECT_TIME_LABEL = 558,
};
constexpr int EJECT_NAME_LIMIT = 17;

// The system's colour chooser (Qt installs it): false when the user cancelled. Colours are
// 0x00BBGGRR; custom holds 16 colours kept for the run.
using features_color_chooser = bool (*)(uint32_t current, uint32_t custom[16], uint32_t* chosen);
void features_set_color_chooser(features_color_chooser chooser);

// Command 151: asks for the attributes and opens dialog 604. 1 when OK was pressed.
int worldopts_dialog();
// The attribute query's answer (block, length, rc).
void worldopts_attributes(const uint8_t* block, int length, int rc);

// Command 152: dialog 626. admin_refresh: when it is open, its fields again (universe
// attributes arrived).
int admin_universe();
void admin_refresh();

// Connects the eject answer of the old object protocol. Returns 0.
int eject_init();
// Dialog 622 for the user's name and session.
int eject_dialog(const char* name, int session);
void eject_result(int rc);

// A rights list as sent: cut at the first character that is not a digit, a blank, '*' or ','.
void worldopts_cut_rights(char* list);
// Forgets the open dialogs and the custom colours (tests).
void features_reset();
