#pragma once
// The main window's menu bar as a model (titles, items, texts from the message table,
// greyed and checked states, the Avatar pop-up), its accelerators, and the dispatch of every
// command id below 3000 to the module that carries it out. Window thread only. The Qt bar
// (client/ui/menu.h) draws this model and sends its commands back through menu_handle.
#include <cstddef>

enum MenuCommandIds {
  MENU_EXIT = 101,
  MENU_ABOUT = 102,
  MENU_LOGIN_CITIZEN = 103,
  MENU_LOGIN_TOURIST = 104,
  MENU_HELP_TOPICS = 105,
  MENU_FORWARD = 106,
  MENU_BACK = 107,
  MENU_MOVER = 118,
  MENU_SHOW_POSITION = 119,
  MENU_SHOW_VISIBILITY = 120,
  MENU_SHOW_FPS = 121,
  MENU_SHOW_BPS = 122,
  MENU_SHOW_DOWNLOADS = 123,
  MENU_LOOK_UP = 124,
  MENU_LOOK_DOWN = 125,
  MENU_FIRST_PERSON = 126,
  MENU_THIRD_PERSON = 127,
  MENU_TELEPORT_TO = 128,
  MENU_SHOW_TOOLBAR = 129,
  MENU_SHOW_WEB = 130,
  MENU_LOOK_LEVEL = 131,
  MENU_SHOW_ALTITUDE = 132,
  MENU_SHOW_CACHE = 133,
  MENU_WEB_BACK = 134,
  MENU_WEB_FORWARD = 135,
  MENU_WEB_STOP = 136,
  MENU_WEB_REFRESH = 137,
  MENU_WEB_OPEN = 138,
  MENU_UNDO = 140,
  MENU_SHOW_VRT = 141,
  MENU_REGISTRATION = 142,
  MENU_IMMIGRATE = 143,
  MENU_REMEMBER = 144,
  MENU_PRIVILEGES = 145,
  MENU_HOME = 146,
  MENU_SET_HOME = 147,
  MENU_HELP_HELP = 148,
  MENU_CITIZEN = 149,
  MENU_SETTINGS = 150,
  MENU_WORLD = 151,
  MENU_UNIVERSE = 152,
  MENU_AVATAR_FIRST = 1000,  // Avatar pop-up item i has id 1000 + i
  MENU_GESTURE_FIRST = 3000,  // ids from here belong to the gesture buttons
};

enum { MENU_TITLES = 9, MENU_AVATAR_POSITION = 6, MENU_EXTRA_AVATARS = 5 };

// Modules the menus call, filled by their own init. A null entry greys the items
// that need it (and the command does nothing); the avatar and gesture entries are skipped.
struct menu_hooks {
  void (*avatar_set_type)(int type);
  void (*gesture_set_reserved_shortcuts)(const char* letters);
  void (*gesture_show)();
  void (*pick_command)(int id);  // 108-117, 140
  void (*mouse_as_mover)();
  void (*pick_off)();
  void (*tab_show_help)();
  void (*fps_toggle)();
  void (*bps_toggle)();
  void (*web_toggle)(int);
  int (*web_back)();
  void (*web_forward)();
  void (*web_stop)();
  void (*web_refresh)();
  void (*web_get_url)();
  void (*vrt_toggle)();
  void (*help_registration)();
  void (*help_with_help)();
  void (*psheet)();
  void (*worldopts_dialog)();
  void (*admin_universe)();
};
extern menu_hooks menu_hook;

// The Qt bar (or a test) watching the model. id: the item whose text, grey or check changed;
// 0: the structure or several items changed (read everything again).
class MenuView {
 public:
  virtual ~MenuView() = default;
  virtual void changed(int id) = 0;
};
void menu_set_view(MenuView* view);

// Builds the bar (with the Avatar pop-up at position 6), fills the other modules' menu
// entries and sets the texts. Returns 0.
int menu_init(void* main_window, void* instance);
// Titles and item texts from the message table; the titles' mnemonic letters go to the
// gesture buttons. Again whenever the message language changes.
void menu_set_texts();
// Citizen... (149) and Privileges... (145) follow citizen_effective_number.
void menu_identity_changed();
void menu_enable(int id);
void menu_disable(int id);
void menu_check(int id);
void menu_uncheck(int id);
void menu_reset_avatars();
void menu_set_public_speaker(int flag);
void menu_rebuild_avatars();
void menu_select_avatar(int id);
// Every command id below 3000 from the main window. 0, or web_back's result for 134.
int menu_handle(int id);
void menu_term();

// The model, for the Qt bar and tests. Positions 0..8 are the pop-ups in bar order.
struct menu_item_view {
  int id;       // 0 for a separator
  int message;  // the text's message number (0 for avatar items and separators)
  const char* text;
  bool enabled;
  bool checked;
  bool column_break;  // starts a new column (Avatar pop-up)
};
int menu_title_count();  // 0 before menu_init
int menu_title_message(int position);
const char* menu_title_text(int position);  // "" outside
int menu_item_count(int position);
bool menu_item_at(int position, int index, menu_item_view* out);
bool menu_find(int id, menu_item_view* out);
bool menu_is_enabled(int id);
bool menu_is_checked(int id);
// The nine titles' mnemonic letters, lower-cased, in bar order.
const char* menu_reserved_keys();
// Avatar pop-up state.
int menu_avatar_count();
int menu_world_avatar_count();
int menu_avatar_checked();  // index, -1 when none
bool menu_public_speaker();
// The rows per Avatar column (screen height / (item height + 2)); default 20 rows.
void menu_set_rows_per_column(int rows);

// The accelerator table (virtual-key codes).
struct menu_accelerator {
  int key;
  int id;
};
const menu_accelerator* menu_accelerators(size_t* count);
// The command of a virtual key, 0 when none.
int menu_accelerator_command(int key);
// Start-up: the table takes effect (the bar shows and binds its keys from now on).
void menu_load_accelerators();
bool menu_accelerators_loaded();
// What the main window does with a key before anything else: the command it stands for once
// the table is loaded, else 0.
int menu_translate_accelerator(int key);

// Tests: back to the state before menu_init (hooks cleared too).
void menu_reset_for_test();
