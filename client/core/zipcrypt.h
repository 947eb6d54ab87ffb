#pragma once
// The traditional ZIP cipher: settings passwords, encrypted archive members and a few
// protocol fields. The three keys are module-global: one operation at a time.
#include <cstddef>
#include <cstdint>

// text == nullptr or length 0 selects the built-in 24-byte key.
void zipcrypt_init_keys(const char* text, size_t length);
uint8_t zipcrypt_update_keys(uint8_t plain);
uint8_t zipcrypt_stream_byte();
uint8_t zipcrypt_encrypt_byte(uint8_t plain);
uint8_t zipcrypt_decrypt_byte(uint8_t cipher);
void zipcrypt_encrypt(const char* key, size_t key_length, uint8_t* buffer, size_t length);
void zipcrypt_decrypt(const char* key, size_t key_length, uint8_t* buffer, size_t length);
// Deciphers the 12-byte header (left as it was in the buffer) and, when its last byte
// equals check, the rest of data in place. 1 on success; 0 without a password, for data
// shorter than the header, or on a wrong check byte.
int zipcrypt_decrypt_entry(const char* password, size_t password_length, uint8_t* data,
                           size_t length, uint8_t check);
int zipcrypt_header_size();
// The standard CRC-32 over a buffer (reflected polynomial 0xEDB88320).
uint32_t zipcrypt_crc32(const uint8_t* data, size_t length);
