#pragma once
// The three administration dialogs: the world's features (dialog 604, over the world
// attribute slots), the universe's attributes (dialog 626) and ejecting a user (dialog 622).
// Each runs modally with frames going on meanwhile. Window thread only.
#include <cstdint>

#include "client/core/control_ids.h"

// Longest texts of the universe attribute fields and of the eject dialog's name.
constexpr int ADMIN_FIELD_LIMIT = 8;
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
