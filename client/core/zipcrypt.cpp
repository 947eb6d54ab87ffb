#include "client/core/zipcrypt.h"

#include <array>

namespace {

constexpr std::array<uint32_t, 256> make_crc_table() {
  std::array<uint32_t, 256> t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[n] = c;
  }
  return t;
}
constexpr std::array<uint32_t, 256> kCrcTable = make_crc_table();

// The built-in key for settings values: 3C9A51E07B42D68F1A25C3E4960B7D58F21E8A4C6B03D9E7.
constexpr char kBuiltInKey[24] = {
    '\x3C', '\x9A', '\x51', '\xE0', '\x7B', '\x42', '\xD6', '\x8F', '\x1A', '\x25', '\xC3', '\xE4',
    '\x96', '\x0B', '\x7D', '\x58', '\xF2', '\x1E', '\x8A', '\x4C', '\x6B', '\x03', '\xD9', '\xE7'};

uint32_t keys[3];

inline uint32_t crc_step(uint32_t crc, uint8_t b) { return (crc >> 8) ^ kCrcTable[(crc ^ b) & 0xFF]; }

}  // namespace

uint32_t zipcrypt_crc32(const uint8_t* data, size_t length) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < length; ++i) c = crc_step(c, data[i]);
  return c ^ 0xFFFFFFFFu;
}

void zipcrypt_init_keys(const char* text, size_t length) {
  keys[0] = 0x12345678u;
  keys[1] = 0x23456789u;
  keys[2] = 0x34567890u;
  if (!text || length == 0) {
    text = kBuiltInKey;
    length = sizeof kBuiltInKey;
  }
  for (size_t i = 0; i < length; ++i) zipcrypt_update_keys(static_cast<uint8_t>(text[i]));
}

uint8_t zipcrypt_update_keys(uint8_t plain) {
  keys[0] = crc_step(keys[0], plain);
  keys[1] = (keys[1] + (keys[0] & 0xFF)) * 134775813u + 1;
  keys[2] = crc_step(keys[2], static_cast<uint8_t>(keys[1] >> 24));
  return plain;
}

uint8_t zipcrypt_stream_byte() {
  uint32_t t = keys[2] | 2;
  return static_cast<uint8_t>(((t * (t ^ 1)) >> 8) & 0xFF);
}

uint8_t zipcrypt_encrypt_byte(uint8_t plain) {
  uint8_t c = plain ^ zipcrypt_stream_byte();
  zipcrypt_update_keys(plain);
  return c;
}

uint8_t zipcrypt_decrypt_byte(uint8_t cipher) {
  uint8_t p = cipher ^ zipcrypt_stream_byte();
  zipcrypt_update_keys(p);
  return p;
}

void zipcrypt_encrypt(const char* key, size_t key_length, uint8_t* buffer, size_t length) {
  zipcrypt_init_keys(key, key_length);
  for (size_t i = 0; i < length; ++i) buffer[i] = zipcrypt_encrypt_byte(buffer[i]);
}

void zipcrypt_decrypt(const char* key, size_t key_length, uint8_t* buffer, size_t length) {
  zipcrypt_init_keys(key, key_length);
  for (size_t i = 0; i < length; ++i) buffer[i] = zipcrypt_decrypt_byte(buffer[i]);
}

int zipcrypt_decrypt_entry(const char* password, size_t password_length, uint8_t* data,
                           size_t length, uint8_t check) {
  // No password would select the built-in key, which never enciphers archive members.
  if (!password || password_length == 0 || !data) return 0;
  const size_t header = static_cast<size_t>(zipcrypt_header_size());
  if (length < header) return 0;
  zipcrypt_init_keys(password, password_length);
  uint8_t last = 0;
  for (size_t i = 0; i < header; ++i) last = zipcrypt_decrypt_byte(data[i]);
  if (last != check) return 0;
  for (size_t i = header; i < length; ++i) data[i] = zipcrypt_decrypt_byte(data[i]);
  return 1;
}

int zipcrypt_header_size() { return 12; }
