#pragma once
// Every [section] key of tessel.ini that the program reads, each read through one accessor
// that applies the default and range of the settings table in settings.cpp, so that a missing
// or out-of-range key means the same in every module. The file is the one store: the
// accessors read it at each call and the settings pages write it at once, so a change is
// seen everywhere from the next read. Window thread.
#include <string>

// [performance]
int perform_avatars();     // 1; 0 or 1: other users shown in their own avatar types
int perform_zembrels();    // 1; 0 or 1: avatars animated
int perform_panning();     // 0; 0 or 1
int perform_framerate();   // 7; 3 .. 30
int perform_visibility();  // 40; 25 .. 120
int perform_mmx();         // as stored, -1 absent
void perform_set_mmx(int value);
int perform_direct3d();  // as stored, -1 absent
int perform_hr();        // as stored, -1 absent
int perform_urls();      // 1; 0 switches URL pictures and sounds off by default
// The DirectDraw switches as stored (-1 absent); the performance module keeps the run's own.
int perform_stored_directdraw();
int perform_stored_try_directdraw();

// [general]
int general_sound();   // 1; 0 or 1
int general_music();   // 1; 0 or 1
int general_rating();  // 2; 0 "G", 1 "PG", 2 "R", 3 "X"
const char* general_messages();  // the message set's name, "" for the default

// [downloads]: 0 none fetched, 1 no limit, 10 .. 999 a limit in KB; else the default, which
// is 100 (pictures) or 150 (audio), or 0 when [performance] urls is 0.
int dloptions_pictures();
int dloptions_audio();

// [privacy]
int privacy_join();        // 0; 0, 1 or 2
int privacy_verify();      // 0; 0 or 1
int privacy_hide_world();  // 0; 0 or 1

// [chat]
int chat_avatars();          // 50; 12 .. 50
int chat_near();             // 12; 0 .. 50
int chat_balloons();         // 1; 0 or 1
int chat_logging();          // 0; 0 or 1
const char* chat_logfile();  // "chat.txt" when absent or empty

// [advanced] local_path and cd, validated when loaded and when stored: an empty path stays;
// an existing folder stays (and cd is turned on when it lies on a CD-ROM file system); any
// other path is cleared.
void advanced_load();
const char* advanced_local_path();  // nullptr when none
int advanced_use_local_path();
// True when the path is kept (cleared otherwise).
bool advanced_validate(std::string& path, int* cd);
// Validates and, when kept, writes both keys; false (nothing written) when refused.
bool advanced_store(const std::string& path, int cd);

// [proxy]
const char* proxy_setting_address();  // "" when none
int proxy_setting_port();             // 0 .. 65535; 65535 when absent or out of range

// [disk] limit (megabytes; 100, 0 none, else 20 .. 999) and delete (days; 0 never, else
// 1 .. 180) are read with settings_int: a value beyond the range is brought to its nearer end.
// Every value read that is not wholly a number gives the default, and every value not used as
// it stands is named once in the log.

// Keys of the other sections, each with its row in the table (an unlisted key is a fault of
// the caller: it is logged and reads as absent).
int show_setting(const char* key);  // [show]: the pane or bar shown, 0 or 1
void show_set(const char* key, bool shown);
int layout_setting(const char* key);  // [layout]: as stored, -1 absent
void layout_set(const char* key, int value);
int settings_int(const char* section, const char* key);
const char* settings_text(const char* section, const char* key);  // "" when absent
// A password kept enciphered; "" when absent.
const char* settings_secret(const char* section, const char* key);

// Inspection for tests: every row of the table as "section.key".
int settings_count();
std::string settings_name(int row);
