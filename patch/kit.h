#pragma once
// Our upgrade kit format. Little-endian:
//   "TKIT", uint16 version (1), uint16 0, uint32 entry count, then per entry
//   uint16 name length (1..255), name (relative, '/' separated), uint8 kind (1 file, 2 delete),
//   uint32 mode (permission bits), uint32 size, uint32 stored size, uint32 CRC-32 of the file,
//   stored bytes (a zlib stream when stored size differs from size, else the bytes as they are);
//   after the last entry, uint32 CRC-32 of every byte before it, so that any damage is found.
// A kit is installed only with its signature block after those bytes (docs/kit.md):
//   "TSIG", uint16 version (2), uint16 0, the first 8 bytes of the signer's public key,
//   uint32 the build the kit makes of an installation, a 64-byte Ed25519 signature of every
//   byte before the signature itself. Blocks of version 1 named no build: they are refused.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum KitKind : uint8_t { KIT_FILE = 1, KIT_DELETE = 2 };

struct kit_entry {
  std::string name;
  KitKind kind = KIT_FILE;
  uint32_t mode = 0644;
  std::vector<uint8_t> data;
};

constexpr uint32_t KIT_MAX_ENTRIES = 65536;
constexpr uint32_t KIT_MAX_FILE = 256u << 20;

// A name the kit may write: relative, no "." or ".." parts, no empty parts, no '\\', no NUL.
bool kit_name_safe(const std::string& name);
// The kit as bytes (files compressed when that makes them smaller).
std::vector<uint8_t> kit_build(const std::vector<kit_entry>& entries);
// Reads and checks a whole kit: every name safe and given once, every size bounded, every
// CRC right.
bool kit_parse(const uint8_t* data, size_t size, std::vector<kit_entry>* entries, std::string* error);

constexpr size_t KIT_PUBLIC_KEY_SIZE = 32;
constexpr size_t KIT_SECRET_KEY_SIZE = 64;
constexpr size_t KIT_KEY_ID_SIZE = 8;
constexpr size_t KIT_SIGNATURE_BLOCK_SIZE = 4 + 2 + 2 + KIT_KEY_ID_SIZE + 4 + 64;
// The public key the installation trusts, in its program directory.
#define KIT_TRUSTED_KEY_FILE "kit-key.pub"
// The build of the last kit installed in the folder, kept by the library (decimal, a line).
#define KIT_BUILD_FILE "kit-build"
// The record of an install under way, kept by the library until it has ended.
#define KIT_JOURNAL_FILE "kit-journal"

// A new key pair; false when the crypto library cannot start.
bool kit_keygen(std::vector<uint8_t>* public_key, std::vector<uint8_t>* secret_key);
// The kit with its signature block appended, signed for the build it makes (empty when the
// key has the wrong size or the build is 0).
std::vector<uint8_t> kit_sign(const std::vector<uint8_t>& kit, const std::vector<uint8_t>& secret_key,
                              uint32_t build);
// Checks the signature block against the trusted public key. On success *body is the size of
// the kit before the block and *build the build it was signed for; on failure error says why.
bool kit_verify(const uint8_t* data, size_t size, const std::vector<uint8_t>& public_key, size_t* body,
                uint32_t* build, std::string* error);
// Key files hold the key as hex text (blanks and a line end allowed around it).
std::string kit_key_text(const std::vector<uint8_t>& key);
bool kit_key_parse(const std::string& text, size_t size, std::vector<uint8_t>* key);
