#pragma once
// The window set's resource numbers in one place: each dialog's template number with its
// controls' ids, and the menu and command ids the modules handle, one enum per dialog or menu.
// Each module's header includes this, so its callers see the numbers as before. The window
// layer builds the dialogs and routes commands by these numbers: they are fixed.

// The settings sheet (psheet.h).
enum PsheetIds : int {
  PSHEET_DIALOG = 22,       // the sheet's dialog (its caption is message 22)
  PSHEET_TABS = 12320,      // the page selector: one entry per page, selecting shows it
  PSHEET_APPLY = 12321,
  PSHEET_HELP = 9,          // the page's help topic; available for pages that have one
  PSHEET_PAGES = 8,
};

// Settings page "Performance" (perform.h).
enum PerformIds : int {
  PERFORM_PAGE = 603,
  PERFORM_AVATARS = 801,
  PERFORM_ANIMATION = 802,
  PERFORM_PANNING = 803,
  PERFORM_FRAMERATE = 804,
  PERFORM_VISIBILITY = 805,
  PERFORM_FRAMERATE_UPDOWN = 806,
  PERFORM_VISIBILITY_UPDOWN = 807,
  PERFORM_DIRECTDRAW = 808,
  PERFORM_MMX = 809,
};

// Settings page "Disk Usage" (disk_page.h).
enum DiskPageIds : int {
  DISK_PAGE = 607,
  DISK_NO_LIMIT = 601,
  DISK_LIMIT = 602,
  DISK_LIMIT_MB = 603,
  DISK_DELETE = 605,
  DISK_DELETE_DAYS = 606,
  DISK_TOTAL = 608,
};

// Settings page "Proxy" (proxy_page.h).
enum ProxyPageIds : int {
  PROXY_PAGE = 611,
  PROXY_USE = 401,
  PROXY_ADDRESS = 402,
  PROXY_PORT = 403,
  PROXY_NOTE = 404,
};

// Settings page "General" (general.h).
enum GeneralIds : int {
  GENERAL_PAGE = 612,
  GENERAL_MUSIC = 1101,
  GENERAL_SOUND = 1102,
  GENERAL_RATING = 1103,
};

// Settings page "Download Options" (dloptions.h).
enum DloptionsIds : int {
  DLOPTIONS_PAGE = 613,
  DLOPTIONS_PICTURES_NONE = 1201,
  DLOPTIONS_PICTURES_LIMIT = 1202,
  DLOPTIONS_PICTURES_ALL = 1203,
  DLOPTIONS_PICTURES_KB = 1204,
  DLOPTIONS_AUDIO_NONE = 1206,
  DLOPTIONS_AUDIO_LIMIT = 1207,
  DLOPTIONS_AUDIO_ALL = 1208,
  DLOPTIONS_AUDIO_KB = 1209,
};

// Settings page "Privacy" (privacy.h).
enum PrivacyIds : int {
  PRIVACY_PAGE = 620,
  PRIVACY_JOIN_ASK = 201,    // join = 0
  PRIVACY_JOIN_ALLOW = 202,  // 1
  PRIVACY_JOIN_REFUSE = 203, // 2
  PRIVACY_VERIFY = 204,
  PRIVACY_HIDE_WORLD = 205,
};

// Settings page "Chat" (chat_page.h).
enum ChatPageIds : int {
  CHAT_PAGE = 618,
  CHAT_BALLOONS = 1151,
  CHAT_LOGGING = 1153,
  CHAT_LOGFILE = 1154,
  CHAT_BROWSE = 1155,
  CHAT_AVATARS = 1156,
  CHAT_NEAR = 1157,
};

// Settings page "Advanced" (advanced.h).
enum AdvancedIds : int {
  ADVANCED_PAGE = 609,
  ADVANCED_PATH = 651,
  ADVANCED_CD = 652,
  ADVANCED_MESSAGES = 655,
};

// Contacts page (contacts.h).
enum ContactsMenuIds {
  CONTACTS_MENU_JOIN = 9100,
  CONTACTS_MENU_TELEGRAM = 9101,
  CONTACTS_MENU_DELETE = 9102,
  CONTACTS_MENU_ADD = 9103,
};

// Telegrams (telegram.h).
enum TelegramIds {
  TELEGRAM_DIALOG = 619,
  TELEGRAM_RECIPIENT = 1801,
  TELEGRAM_TEXT = 1802,
  TELEGRAM_STATUS = 1803,
  TELEGRAM_RECIPIENT_LABEL = 1804,
  TELEGRAM_TEXT_LABEL = 1805,
  TELEGRAM_MENU_REPLY = 9200,
  TELEGRAM_MENU_DELETE = 9201,
};

// Administration dialogs (features.h): world features, universe attributes, eject.
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

// Citizen login (login.h).
enum LoginDialogIds {
  LOGIN_DIALOG = 616,
  LOGIN_NAME = 1501,
  LOGIN_PASSWORD = 1502,
  LOGIN_FORGOTTEN = 1503,
  LOGIN_STATUS = 1504,
  LOGIN_REMEMBER = 1505,
  LOGIN_TOURIST = 1506,
  LOGIN_NAME_LABEL = 1508,
  LOGIN_PASSWORD_LABEL = 1509,
};

// Tourist login (tourist.h).
enum TouristDialogIds {
  TOURIST_DIALOG = 614,
  TOURIST_NAME = 1300,
  TOURIST_STATUS = 1301,
  TOURIST_CITIZEN = 1302,
};

// Citizenship sign-up (signup.h).
enum RegisterDialogIds {
  REGISTER_DIALOG = 623,
  REGISTER_MONTH = 251,
  REGISTER_YEAR = 252,
  REGISTER_CARD_NAME = 253,
  REGISTER_BUSINESS = 254,
  REGISTER_STREET = 255,
  REGISTER_CITY = 256,
  REGISTER_STATE = 257,
  REGISTER_POSTAL = 258,
  REGISTER_CARD_NUMBER = 259,
  REGISTER_PHONE = 260,
  REGISTER_NAME = 261,
  REGISTER_PASSWORD = 262,
  REGISTER_CONFIRM = 263,
  REGISTER_EMAIL = 264,
  REGISTER_STATUS = 265,
  REGISTER_CARD_TYPE_1 = 266,
  REGISTER_CARD_TYPE_2 = 287,
  REGISTER_CARD_TYPE_3 = 288,
  REGISTER_CARD_TYPE_4 = 289,
};

// Citizenship (immigrate.h).
enum ImmigrateDialogIds {
  IMMIGRATE_DIALOG = 615,             // mode 0
  IMMIGRATE_ATTRIBUTES_DIALOG = 621,  // mode 1
  IMMIGRATE_NAME = 1401,
  IMMIGRATE_PASSWORD = 1402,
  IMMIGRATE_CONFIRM = 1403,
  IMMIGRATE_EMAIL = 1404,
  IMMIGRATE_PRIVILEGE_LABEL = 1405,
  IMMIGRATE_STATUS = 1406,
  IMMIGRATE_PRIVILEGE_PASSWORD = 1408,
  IMMIGRATE_IMMIGRATED = 1409,
  IMMIGRATE_RENEW = 1410,
  IMMIGRATE_INSTRUCTIONS = 1411,
  IMMIGRATE_LABEL_NAME = 1412,
  IMMIGRATE_LABEL_PASSWORD = 1413,
  IMMIGRATE_LABEL_CONFIRM = 1414,
  IMMIGRATE_LABEL_1415 = 1415,
  IMMIGRATE_LABEL_EMAIL = 1416,
  IMMIGRATE_LABEL_1417 = 1417,
  IMMIGRATE_LABEL_1418 = 1418,
  IMMIGRATE_LABEL_1419 = 1419,
};

// Privileges (privilege.h).
enum PrivilegeDialogIds {
  PRIVILEGE_DIALOG = 627,
  PRIVILEGE_NAME = 301,
  PRIVILEGE_PASSWORD = 302,
  PRIVILEGE_ENABLE = 303,  // check box
  PRIVILEGE_STATUS = 304,
  PRIVILEGE_NAME_LABEL = 305,
  PRIVILEGE_PASSWORD_LABEL = 306,
};

// One-line prompt (prompt.h).
enum PromptDialogIds {
  PROMPT_DIALOG = 610,        // wide
  PROMPT_DIALOG_SMALL = 617,  // narrow
  PROMPT_LABEL = 1901,
  PROMPT_EDIT = 1902,
};

// The Teleport dialog and its controls (teleport.h).
enum TeleportDialogIds {
  TELEPORT_DIALOG = 605,
  TELEPORT_COORDINATES = 1002,
  TELEPORT_WORLD = 1003,
  TELEPORT_WORLD_LABEL = 1004,
  TELEPORT_COORDINATES_LABEL = 1005,
  TELEPORT_HINT_LABEL = 1006,
};
// The tree's pop-up menu.
enum TeleportMenuIds {
  TELEPORT_MENU_RENAME = 100,
  TELEPORT_MENU_DELETE = 101,
  TELEPORT_MENU_DIALOG = 102,
  TELEPORT_MENU_BACK = 103,
  TELEPORT_MENU_FORWARD = 104,
  TELEPORT_MENU_HOME = 105,
  TELEPORT_MENU_REMEMBER = 106,
};

// Location history (history.h): menu and toolbar ids of the two commands.
enum HistoryCommandIds {
  HISTORY_FORWARD = 106,
  HISTORY_BACK = 107,
};

// Worlds page (worlds.h).
enum WorldsMenuIds {
  WORLDS_MENU_TELEPORT = 100,
  WORLDS_MENU_CLOSED = 101,
  WORLDS_MENU_EMPTY = 102,
};

// Upgrade offer (upgrade.h).
constexpr int UPGRADE_DIALOG = 624;          // offered at login
constexpr int UPGRADE_DIALOG_RUNNING = 625;  // offered while the program runs
enum : int { UPGRADE_TEXT = 350, UPGRADE_SKIP = 351, UPGRADE_OK = 352 };

// Colour depth warning (display.h): control ids of dialog 601.
enum : int {
  DEPTH_EXIT = 1,
  DEPTH_TEXT = 1601,
  DEPTH_DONT_ASK = 1602,
  DEPTH_CONTINUE = 1603,
  DEPTH_ADVICE = 1604,
  DEPTH_DIALOG = 601,
};

// Object properties (pdialog.h).
enum PdialogControl {
  PDIALOG_DIALOG = 606,
  PDIALOG_DESCRIPTION = 901,
  PDIALOG_ACTION = 902,
  PDIALOG_OWNER = 903,
  PDIALOG_MODEL = 904,
  PDIALOG_OWNER_NAME = 905,
  PDIALOG_BUILD_TIME = 105,
  PDIALOG_LABEL_MODEL = 906,
  PDIALOG_LABEL_DESCRIPTION = 907,
  PDIALOG_LABEL_ACTION = 908,
  PDIALOG_LABEL_OWNER = 909,
  PDIALOG_LABEL_OWNER_NAME = 1508,
  PDIALOG_LABEL_BUILD_TIME = 910,
  // The menu's two top items, addressed by position.
  PDIALOG_MENU_TOP_0 = 60600,
  PDIALOG_MENU_TOP_1 = 60601,
};

// Builder commands (pick.h): the object dialog's menu and toolbar, and the main command
// dispatcher.
enum PickCommand {
  PICK_DELETE = 108,
  PICK_DUPLICATE = 109,
  PICK_RAISE = 110,
  PICK_LOWER = 111,
  PICK_MOVE_AWAY = 112,     // view quadrant q
  PICK_MOVE_TOWARD = 113,   // q + 2
  PICK_MOVE_RIGHT = 114,    // q + 1
  PICK_MOVE_LEFT = 115,     // q + 3
  PICK_TURN_LEFT = 116,     // + angle step
  PICK_TURN_RIGHT = 117,    // - angle step
  PICK_UNDO = 140,
};

// Avatar pop-up menu (avatar.h).
enum AvatarMenuItem { AVATAR_MENU_MUTE = 9000, AVATAR_MENU_CONTACT = 9001, AVATAR_MENU_EJECT = 9002 };
