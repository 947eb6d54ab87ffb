#pragma once
// The identity in use (citizen name, password, citizen number) and the world's object
// password, kept plain in memory and enciphered in the world attributes.
#include <cstddef>
#include <cstdint>


// Keeps a copy of name (tourist names come in double quotes). A stored name that differs from
// the new one (exactly, letter case counts) counts as a change. Returns the stored copy.
const char* citizen_set_name(const char* name);
// The name, or message 81 when none.
const char* citizen_name();
int citizen_name_changes();
int32_t citizen_number();
void citizen_set_number(int32_t number);
void citizen_store_number(int32_t number);
const char* citizen_password();
void citizen_set_password(const char* text);
// The number sent in the world login: 0 without a citizen number; else the privilege in use
// when there is one, else the own number.
int32_t citizen_effective_number();

// The plain object password, or "" when none.
const char* object_password();
// Replaces the store with the deciphered bytes (length 0: the empty string).
void object_password_set_enciphered(const uint8_t* bytes, size_t length);
// A heap copy enciphered over its string length (the caller frees it), nullptr when empty.
// *length (when given) receives its length.
uint8_t* object_password_enciphered(size_t* length);
// Stores a plain copy of text. With a non-zero length the enciphered copy goes into the
// world's attribute 22 as well.
void object_password_set(const char* text, size_t length);

// Forgets the identity and the password (tests, shutdown).
void identity_reset();

// Filled by the modules that provide them: chat_init (the own balloon shows a new name),
// privilege_init (the privilege in use) and world_init (the world attributes). A null entry
// is skipped.
struct identity_hooks {
  void (*chat_set_balloon)(const char* text);
  int (*privilege_number)();
  const char* (*attribute_set)(int slot, const void* bytes, int length);
};
extern identity_hooks identity_hook;
