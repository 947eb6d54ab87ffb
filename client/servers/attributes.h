#pragma once
// World attributes: 35 numbered slots set by the world's owner. A slot without a received
// value reads as its built-in default. On the wire (world reply 1, world request 2, the login
// reply of old servers) and in the world database the slots travel as an attribute block:
// entries of {byte slot, byte length n, n bytes}, in any order, delimited by the block's length.
#include <cstdint>

enum { ATTRIBUTE_COUNT = 35, ATTRIBUTE_MAX_VALUE = 255 };

// Slots the client reads by number.
enum AttributeSlot {
  ATTR_TITLE = 0,
  ATTR_BACKDROP = 1,
  ATTR_GROUND = 2,
  ATTR_OBJECT_PATH = 3,
  ATTR_REFRESH = 5,
  ATTR_RED = 11,
  ATTR_GREEN = 12,
  ATTR_BLUE = 13,
  ATTR_RIGHTS = 14,
  ATTR_BUILD_REFUSAL = 15,
  ATTR_PUBLIC_SPEAKER = 17,
  ATTR_CONTENTS = 19,
  ATTR_WEB_PAGE = 20,
  ATTR_SERVER_BUILD = 21,
  ATTR_OBJECT_PASSWORD = 22,
  ATTR_URL_COMMAND = 23,
  ATTR_RATING = 24,
  ATTR_WELCOME = 25,
  ATTR_EJECT = 27,
  ATTR_LOAD_RATE = 29,
  ATTR_BUILDING = 30,
  ATTR_PASS_THROUGH = 31,
  ATTR_FLYING = 32,
  ATTR_TELEPORT_WITHIN = 33,
  ATTR_MODEL_GLUE = 34,
};

// Replaces the slot's value with a copy of the bytes (kept with a terminating 0). Nothing is
// stored for a slot outside 0 to 34, or when the slot holds no value and the bytes equal its
// default. Returns the stored copy, or null.
const char* attribute_set(int slot, const void* bytes, int length);
// The received value, else the default; null outside 0 to 34.
const char* attribute_get(int slot);
// The received value's length, else the default's; 0 outside 0 to 34.
int attribute_length(int slot);
// atoi of the slot's text.
int attribute_number(int slot);
// The slot's text is exactly "Y".
bool attribute_yes(int slot);
// True when the slot holds a received value.
bool attribute_received(int slot);

// Frees every received value, then sets the slots of the block entry by entry. An entry whose
// length runs past the end of the block ends the reading (it and anything after it are
// dropped); entries for slots outside 0 to 34 are skipped.
void attributes_load(const uint8_t* block, int length);
// A new std::malloc'ed block of every received slot in slot order, except the slots never sent
// back (14, 16, 17, 19, 21, 27, 28, 30). Null with *length 0 when memory runs out, or when a
// value to be sent is longer than 255 bytes (its length byte could not say so: the block would
// be corrupt).
uint8_t* attributes_pack(int* length);
// Frees every received value (tests, shutdown).
void attributes_clear();

// Applies the slots to the modules, in a fixed order (see attributes.cpp). new_world is 1 when
// the world has just been connected to (the cached block), 0 when the server's block arrived.
void world_apply_attributes(int new_world);
// Forgets what the previous application remembered (world name and contents marker) and the
// application flags (tests, world change).
void attributes_forget_applied();
// The contents marker remembered by the previous application is dropped (a world connect).
void attributes_drop_contents_memory();
// Loading rate (slot 29) to the visibility load factor: 1 up to 1500, 3 above 2500, else 2.
int attributes_load_factor(int rate);
