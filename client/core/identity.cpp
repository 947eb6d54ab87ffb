#include "client/core/identity.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "client/core/msg.h"
#include "client/core/strutil.h"
#include "client/core/zipcrypt.h"

identity_hooks identity_hook{};

namespace {
char* name = nullptr;
char* password = nullptr;
int32_t own_number = 0;
int name_changes = 0;
char* object_pass = nullptr;
// World attribute that carries the enciphered object password.
constexpr int OBJECT_PASSWORD_SLOT = 22;
}  // namespace


const char* citizen_set_name(const char* text) {
  if (!text) text = "";
  if (name && std::strcmp(name, text) != 0) {
    ++name_changes;
    if (identity_hook.chat_set_balloon) identity_hook.chat_set_balloon(text);
  }
  char* copy = string_copy(text);
  if (!copy) return name;  // keep the old name rather than lose it
  std::free(name);
  name = copy;
  return name;
}

const char* citizen_name() { return name ? name : msg(81); }
int citizen_name_changes() { return name_changes; }
int32_t citizen_number() { return own_number; }
void citizen_set_number(int32_t number) { own_number = number; }
void citizen_store_number(int32_t number) { own_number = number; }
const char* citizen_password() { return password ? password : ""; }

void citizen_set_password(const char* text) {
  char* copy = string_copy(text ? text : "");
  if (!copy) return;
  std::free(password);
  password = copy;
}

int32_t citizen_effective_number() {
  if (own_number == 0) return 0;
  int32_t privilege = identity_hook.privilege_number ? identity_hook.privilege_number() : 0;
  return privilege ? privilege : own_number;
}

const char* object_password() { return object_pass ? object_pass : ""; }

void object_password_set_enciphered(const uint8_t* bytes, size_t length) {
  if (!bytes) length = 0;
  char* copy = static_cast<char*>(std::malloc(length + 1));
  if (!copy) return;
  if (length) {
    std::memcpy(copy, bytes, length);
    zipcrypt_decrypt(nullptr, 0, reinterpret_cast<uint8_t*>(copy), length);
  }
  copy[length] = 0;
  std::free(object_pass);
  object_pass = copy;
}

uint8_t* object_password_enciphered(size_t* length) {
  if (length) *length = 0;
  if (!object_pass || !*object_pass) return nullptr;
  size_t n = std::strlen(object_pass);
  uint8_t* copy = static_cast<uint8_t*>(std::malloc(n + 1));
  if (!copy) return nullptr;
  std::memcpy(copy, object_pass, n + 1);
  zipcrypt_encrypt(nullptr, 0, copy, n);
  copy[n] = 0;
  if (length) *length = n;
  return copy;
}

void object_password_set(const char* text, size_t length) {
  char* copy = string_copy(text ? text : "");
  if (!copy) return;
  std::free(object_pass);
  object_pass = copy;
  if (length == 0 || !identity_hook.attribute_set) return;
  // Never more than the text has.
  size_t n = std::min(length, std::strlen(copy));
  uint8_t* enciphered = static_cast<uint8_t*>(std::malloc(n + 1));
  if (!enciphered) return;
  std::memcpy(enciphered, copy, n);
  zipcrypt_encrypt(nullptr, 0, enciphered, n);
  identity_hook.attribute_set(OBJECT_PASSWORD_SLOT, enciphered, static_cast<int>(n));
  std::free(enciphered);
}

void identity_reset() {
  std::free(name);
  std::free(password);
  std::free(object_pass);
  name = password = object_pass = nullptr;
  own_number = 0;
  name_changes = 0;
}
