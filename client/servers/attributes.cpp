#include "client/servers/attributes.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "client/cache/download.h"
#include "client/core/identity.h"
#include "client/core/log.h"
#include "client/core/tessel.h"
#include "client/servers/world.h"

namespace {

struct slot_value {
  char* value = nullptr;  // received copy with a terminating 0, or none
  int length = 0;
};
slot_value slots[ATTRIBUTE_COUNT];

const char* const defaults[ATTRIBUTE_COUNT] = {
    "",        // 0 title
    "",        // 1 backdrop
    "",        // 2 ground
    "objects.veldara.net/tz",  // 3 object path: the service's default object server
    "",        // 4
    "10080",   // 5 cache refresh in minutes
    "", "", "", "", "",        // 6 to 10
    "0", "0", "178",           // 11 to 13 backdrop colour
    "",        // 14 rights
    "0",       // 15 shown on build refusal 114
    "tz",      // 16
    "",        // 17 public speaker
    "",        // 18
    "",        // 19 contents marker
    "",        // 20 web page
    "0",       // 21 world server build
    "",        // 22 object password
    "N",       // 23 url command
    "1",       // 24 rating
    "",        // 25 welcome
    "",        // 26
    "",        // 27 eject right
    "",        // 28
    "1500",    // 29 loading rate
    "N",       // 30 building
    "Y",       // 31 pass-through
    "Y",       // 32 flying
    "Y",       // 33 teleports within the world
    "Y",       // 34 model glue
};

bool never_sent(int slot) {
  switch (slot) {
    case 14: case 16: case 17: case 19: case 21: case 27: case 28: case 30: return true;
    default: return false;
  }
}

// What the previous application remembered.
struct applied_memory {
  bool have_contents = false;
  std::string contents;
  bool have_world = false;
  std::string world;
  bool have_path = false;
  std::string path;
};
applied_memory applied;

void clear_slot(int slot) {
  std::free(slots[slot].value);
  slots[slot].value = nullptr;
  slots[slot].length = 0;
}

#define ATRACE(...) LOG_TRACE(TRACE_WORLD, __VA_ARGS__)

}  // namespace

const char* attribute_set(int slot, const void* bytes, int length) {
  if (slot < 0 || slot >= ATTRIBUTE_COUNT || length < 0) return nullptr;
  if (!bytes) length = 0;
  const char* d = defaults[slot];
  if (!slots[slot].value && static_cast<size_t>(length) == std::strlen(d) &&
      (length == 0 || std::memcmp(bytes, d, static_cast<size_t>(length)) == 0))
    return nullptr;
  char* copy = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
  if (!copy) return nullptr;  // the slot keeps what it had
  if (length) std::memcpy(copy, bytes, static_cast<size_t>(length));
  copy[length] = 0;
  clear_slot(slot);
  slots[slot].value = copy;
  slots[slot].length = length;
  return copy;
}

const char* attribute_get(int slot) {
  if (slot < 0 || slot >= ATTRIBUTE_COUNT) return nullptr;
  return slots[slot].value ? slots[slot].value : defaults[slot];
}

int attribute_length(int slot) {
  if (slot < 0 || slot >= ATTRIBUTE_COUNT) return 0;
  return slots[slot].value ? slots[slot].length : static_cast<int>(std::strlen(defaults[slot]));
}

int attribute_number(int slot) {
  const char* t = attribute_get(slot);
  return t ? std::atoi(t) : 0;
}

bool attribute_yes(int slot) {
  const char* t = attribute_get(slot);
  return t && std::strcmp(t, "Y") == 0;
}

bool attribute_received(int slot) { return slot >= 0 && slot < ATTRIBUTE_COUNT && slots[slot].value; }

void attributes_clear() {
  for (int i = 0; i < ATTRIBUTE_COUNT; ++i) clear_slot(i);
}

void attributes_load(const uint8_t* block, int length) {
  attributes_clear();
  if (!block || length <= 0) return;
  int pos = 0;
  while (pos < length) {
    // The slot and length bytes, then the value, must all lie inside the block.
    if (length - pos < 2) {
      ATRACE("attributes_load: entry head cut at %d of %d", pos, length);
      break;
    }
    int slot = block[pos];
    int n = block[pos + 1];
    if (n > length - pos - 2) {
      ATRACE("attributes_load: slot %d of %d bytes runs past the block", slot, n);
      break;
    }
    if (slot < ATTRIBUTE_COUNT) attribute_set(slot, block + pos + 2, n);
    pos += 2 + n;
  }
}

uint8_t* attributes_pack(int* length) {
  if (length) *length = 0;
  size_t total = 0;
  for (int i = 0; i < ATTRIBUTE_COUNT; ++i) {
    if (!slots[i].value || never_sent(i)) continue;
    if (slots[i].length > ATTRIBUTE_MAX_VALUE) {
      ATRACE("attributes_pack: slot %d of %d bytes cannot be sent", i, slots[i].length);
      return nullptr;
    }
    total += 2 + static_cast<size_t>(slots[i].length);
  }
  auto* out = static_cast<uint8_t*>(std::malloc(total ? total : 1));
  if (!out) return nullptr;
  size_t pos = 0;
  for (int i = 0; i < ATTRIBUTE_COUNT; ++i) {
    if (!slots[i].value || never_sent(i)) continue;
    out[pos++] = static_cast<uint8_t>(i);
    out[pos++] = static_cast<uint8_t>(slots[i].length);
    std::memcpy(out + pos, slots[i].value, static_cast<size_t>(slots[i].length));
    pos += static_cast<size_t>(slots[i].length);
  }
  if (length) *length = static_cast<int>(pos);
  return out;
}

int attributes_load_factor(int rate) {
  if (rate <= 1500) return 1;
  if (rate > 2500) return 3;
  return 2;
}

void attributes_forget_applied() { applied = applied_memory{}; }

void attributes_drop_contents_memory() {
  applied.have_contents = false;
  applied.contents.clear();
}

void world_apply_attributes(int new_world) {
  ATRACE("world_apply_attributes (%d)", new_world);
  world_hooks& h = world_hook;
  std::string name = world_name();

  // 1.
  download_set_refresh(attribute_number(ATTR_REFRESH));
  world_set_title(attribute_get(ATTR_TITLE));

  // 2.
  std::string contents(attribute_get(ATTR_CONTENTS), static_cast<size_t>(attribute_length(ATTR_CONTENTS)));
  int changed = applied.have_contents && applied.contents != contents;
  world_set_contents_changed(changed);

  // 3.
  world_make_property_path();

  // 4. The download queue reports a change of world; the path itself is compared here.
  std::string path(attribute_get(ATTR_OBJECT_PATH), static_cast<size_t>(attribute_length(ATTR_OBJECT_PATH)));
  int path_changed = download_set_path(path.c_str());
  if (applied.have_path && applied.path != path) path_changed = 1;
  applied.have_path = true;
  applied.path = path;
  bool reset = path_changed || new_world || changed || (applied.have_world && applied.world != name);
  if (reset) tessel_reset_modules();

  // 5.
  if (changed && world_state() == WORLD_IN) {
    if (h.prop_reset) h.prop_reset();
    world_set_query_after_attributes();
  }

  // 6.
  applied.have_world = true;
  applied.world = name;
  applied.have_contents = true;
  applied.contents = contents;
  world_set_contents_changed(0);

  // 7.
  if (h.backdrop_set) h.backdrop_set(attribute_get(ATTR_BACKDROP), attribute_length(ATTR_BACKDROP));
  if (h.camera_set_color)
    h.camera_set_color(attribute_number(ATTR_RED), attribute_number(ATTR_GREEN), attribute_number(ATTR_BLUE));
  if (h.ground_set) h.ground_set(attribute_get(ATTR_GROUND), attribute_length(ATTR_GROUND));
  if (h.self_invalidate_title) h.self_invalidate_title();

  // 8.
  int speaker = attribute_yes(ATTR_PUBLIC_SPEAKER) ? 1 : 0;
  if (h.avatar_set_public_speaker) h.avatar_set_public_speaker(speaker);
  if (h.menu_set_public_speaker) h.menu_set_public_speaker(speaker);
  if (h.web_navigate) h.web_navigate(attribute_get(ATTR_WEB_PAGE), 1);
  world_set_server_build(attribute_number(ATTR_SERVER_BUILD));
  object_password_set_enciphered(reinterpret_cast<const uint8_t*>(attribute_get(ATTR_OBJECT_PASSWORD)),
                                 static_cast<size_t>(attribute_length(ATTR_OBJECT_PASSWORD)));
  world_show_welcome();
  if (h.worlds_mark_current) h.worlds_mark_current(name.c_str());

  // 9.
  bool rights = attribute_yes(ATTR_RIGHTS);
  world_set_rights(rights);
  if (h.self_pass_through) h.self_pass_through(rights || attribute_yes(ATTR_PASS_THROUGH));
  if (h.self_flying) h.self_flying(rights || attribute_yes(ATTR_FLYING));
  bool within = rights || attribute_yes(ATTR_TELEPORT_WITHIN);
  if (h.teleport_within_world) h.teleport_within_world(within);
  if (!within && world_first_application() && h.self_set_position) h.self_set_position(0, 0, 0, 0);
  if (h.pick_building) h.pick_building(rights || attribute_yes(ATTR_BUILDING));

  // 10.
  if (h.avatar_set_eject_right) h.avatar_set_eject_right(attribute_yes(ATTR_EJECT) ? 1 : 0);
  if (h.visible_set_load_factor) h.visible_set_load_factor(attributes_load_factor(attribute_number(ATTR_LOAD_RATE)));
  world_clear_first_application();
}
