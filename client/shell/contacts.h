#pragma once
// Contacts: up to 100 other citizens kept as numbers in "contacts.txt" beside the program,
// listed on the contacts page with their names, online states and worlds as the universe
// reports them; joined, written to, deleted and added from the page's pop-up menu.
// Window thread only.
#include <cstdint>
#include <vector>

#include "client/core/control_ids.h"

struct universe_contact_entry;

constexpr int CONTACTS_MAX = 100;
constexpr int CONTACTS_BUCKETS = 53;
constexpr int CONTACTS_NAME_LENGTH = 16;
constexpr int CONTACTS_WORLD_LENGTH = 8;

// Makes the (hidden) list, loads "contacts.txt", asks for a refresh; connects universe
// replies 15 and the contact half of 12, the connection's refresh and the join module's
// look-up. Returns 0.
int contacts_init();
void contacts_term();
void contacts_show();
void contacts_hide();
void contacts_move_window(int x, int y, int width, int height);
void contacts_refresh();
// Task "contacts".
void contacts_update();
// Universe message 40 with every number in table order; nothing without contacts.
int send_contacts();
// Universe replies 15 and 12.
void contacts_state(int rc, const std::vector<universe_contact_entry>& entries);
void contacts_receive_number(int rc, const char* name, int32_t number);
// Asks the universe for the name's number; the answer adds the contact.
void contacts_add(const char* name);
bool contacts_full();
// The stored name, or null when the number is not a contact.
const char* contacts_lookup_name(int32_t number);
// What the list tells the module.
void contacts_right_click();
void contacts_focused();
// Reads and writes "contacts.txt" (program directory).
void contacts_load();
void contacts_save();

// Accessors (tests).
struct contacts_row {
  int32_t number;
  const char* name;
  const char* world;  // as last reported online (kept while offline)
  bool online;
};
int contacts_count();
// Table order.
std::vector<int32_t> contacts_numbers();
bool contacts_find(int32_t number, contacts_row* out);
int contacts_rows();  // rows in the list
bool contacts_row_at(int index, contacts_row* out);
const char* contacts_pending();  // null when none
bool contacts_is_shown();
// Forgets everything (tests).
void contacts_reset();
