#pragma once
// Settings access over tessel.ini in the program directory. Values are read at the moment
// they are needed, never cached here.

// Joins directory and name ("\tessel.ini" or "/tessel.ini") into the settings path.
// Returns true when that file exists.
bool profile_init(const char* directory, const char* name);
// The settings path in use (empty before profile_init).
const char* profile_path();

// -1 when absent, 0 when the value is not a number.
int profile_int(const char* section, const char* key);
void profile_set_int(const char* section, const char* key, int value);
// Value (at most 127 characters) in the next of five rotating buffers; "" when absent.
const char* profile_string(const char* section, const char* key);
void profile_set_string(const char* section, const char* key, const char* text);
// Deciphered value in the next rotating buffer, or "" when absent or too short.
const char* profile_encrypted_string(const char* section, const char* key);
void profile_set_encrypted_string(const char* section, const char* key, const char* text);
