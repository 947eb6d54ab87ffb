#pragma once
// Our upgrade kit format. Little-endian:
//   "TKIT", uint16 version (1), uint16 0, uint32 entry count, then per entry
//   uint16 name length (1..255), name (relative, '/' separated), uint8 kind (1 file, 2 delete),
//   uint32 mode (permission bits), uint32 size, uint32 stored size, uint32 CRC-32 of the file,
//   stored bytes (a zlib stream when stored size differs from size, else the bytes as they are);
//   after the last entry, uint32 CRC-32 of every byte before it, so that any damage is found.
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
// Reads and checks a whole kit: every name safe, every size bounded, every CRC right.
bool kit_parse(const uint8_t* data, size_t size, std::vector<kit_entry>* entries, std::string* error);
