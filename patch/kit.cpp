#include "patch/kit.h"

#include <sodium.h>
#include <zlib.h>

#include <cstring>
#include <set>

namespace {

void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

struct Reader {
  const uint8_t* p;
  size_t left;
  bool take(void* out, size_t n) {
    if (n > left) return false;
    if (n == 0) return true;
    std::memcpy(out, p, n);
    p += n;
    left -= n;
    return true;
  }
  bool u16(uint32_t* v) {
    uint8_t b[2];
    if (!take(b, 2)) return false;
    *v = b[0] | (uint32_t(b[1]) << 8);
    return true;
  }
  bool u32(uint32_t* v) {
    uint8_t b[4];
    if (!take(b, 4)) return false;
    *v = b[0] | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
    return true;
  }
};

constexpr char kSignatureMagic[4] = {'T', 'S', 'I', 'G'};
constexpr size_t kSignatureSize = crypto_sign_BYTES;
static_assert(KIT_PUBLIC_KEY_SIZE == crypto_sign_PUBLICKEYBYTES && KIT_SECRET_KEY_SIZE == crypto_sign_SECRETKEYBYTES,
              "key sizes of the signature scheme");
static_assert(KIT_SIGNATURE_BLOCK_SIZE == 4 + 2 + 2 + KIT_KEY_ID_SIZE + 4 + kSignatureSize, "signature block layout");
constexpr uint8_t kSignatureVersion = 2;
// The block of version 1 named no build.
constexpr size_t kOldBlockSize = KIT_SIGNATURE_BLOCK_SIZE - 4;

bool crypto_ready() { return sodium_init() >= 0; }

uint32_t crc_of(const std::vector<uint8_t>& data) {
  return uint32_t(crc32(0L, data.data(), uInt(data.size())));
}

}  // namespace

bool kit_name_safe(const std::string& name) {
  if (name.empty() || name.size() > 255 || name[0] == '/') return false;
  if (name.find('\\') != std::string::npos || name.find('\0') != std::string::npos) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

std::vector<uint8_t> kit_build(const std::vector<kit_entry>& entries) {
  std::vector<uint8_t> out = {'T', 'K', 'I', 'T'};
  put16(out, 1);
  put16(out, 0);
  put32(out, uint32_t(entries.size()));
  for (const kit_entry& e : entries) {
    put16(out, uint32_t(e.name.size()));
    out.insert(out.end(), e.name.begin(), e.name.end());
    out.push_back(e.kind);
    put32(out, e.mode);
    std::vector<uint8_t> stored = e.data;
    if (e.kind == KIT_FILE && !e.data.empty()) {
      uLongf length = compressBound(uLong(e.data.size()));
      std::vector<uint8_t> packed(length);
      if (compress2(packed.data(), &length, e.data.data(), uLong(e.data.size()), 9) == Z_OK &&
          length < e.data.size()) {
        packed.resize(length);
        stored.swap(packed);
      }
    }
    put32(out, uint32_t(e.data.size()));
    put32(out, uint32_t(stored.size()));
    put32(out, crc_of(e.data));
    out.insert(out.end(), stored.begin(), stored.end());
  }
  put32(out, uint32_t(crc32(0L, out.data(), uInt(out.size()))));
  return out;
}

bool kit_parse(const uint8_t* data, size_t size, std::vector<kit_entry>* entries, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    entries->clear();
    return false;
  };
  entries->clear();
  if (!data || size < 16) return fail("not an upgrade kit");
  uint32_t whole = data[size - 4] | (uint32_t(data[size - 3]) << 8) | (uint32_t(data[size - 2]) << 16) |
                   (uint32_t(data[size - 1]) << 24);
  bool whole_ok = uint32_t(crc32(0L, data, uInt(size - 4))) == whole;
  Reader r{data, size - 4};
  char magic[4];
  uint32_t version = 0, reserved = 0, count = 0;
  if (!r.take(magic, 4) || std::memcmp(magic, "TKIT", 4) != 0) return fail("not an upgrade kit");
  if (!r.u16(&version) || !r.u16(&reserved) || version != 1) return fail("unknown kit version");
  if (!r.u32(&count) || count > KIT_MAX_ENTRIES) return fail("bad entry count");
  std::set<std::string> names;
  for (uint32_t i = 0; i < count; ++i) {
    kit_entry e;
    uint32_t name_length = 0, kind = 0, size_field = 0, stored = 0, crc = 0;
    if (!r.u16(&name_length) || name_length == 0 || name_length > 255) return fail("bad name");
    e.name.resize(name_length);
    if (!r.take(e.name.data(), name_length)) return fail("kit is cut short");
    if (!kit_name_safe(e.name)) return fail("unsafe name " + e.name);
    // Two entries for one file could not both be carried out.
    if (!names.insert(e.name).second) return fail("two entries for " + e.name);
    uint8_t k = 0;
    if (!r.take(&k, 1)) return fail("kit is cut short");
    kind = k;
    if (kind != KIT_FILE && kind != KIT_DELETE) return fail("unknown entry kind");
    e.kind = KitKind(kind);
    if (!r.u32(&e.mode) || !r.u32(&size_field) || !r.u32(&stored) || !r.u32(&crc))
      return fail("kit is cut short");
    e.mode &= 07777;
    if (size_field > KIT_MAX_FILE || stored > r.left) return fail("bad size for " + e.name);
    if (e.kind == KIT_DELETE && (size_field || stored)) return fail("delete entry with data");
    e.data.resize(size_field);
    if (stored == size_field) {
      if (!r.take(e.data.data(), stored)) return fail("kit is cut short");
    } else {
      uLongf length = size_field;
      if (uncompress(e.data.data(), &length, r.p, stored) != Z_OK || length != size_field)
        return fail("damaged data for " + e.name);
      r.p += stored;
      r.left -= stored;
    }
    if (crc_of(e.data) != crc) return fail("checksum mismatch for " + e.name);
    entries->push_back(std::move(e));
  }
  if (r.left) return fail("data after the last entry");
  if (!whole_ok) return fail("the kit's checksum does not match");
  return true;
}

bool kit_keygen(std::vector<uint8_t>* public_key, std::vector<uint8_t>* secret_key) {
  if (!crypto_ready()) return false;
  public_key->assign(KIT_PUBLIC_KEY_SIZE, 0);
  secret_key->assign(KIT_SECRET_KEY_SIZE, 0);
  return crypto_sign_keypair(public_key->data(), secret_key->data()) == 0;
}

std::vector<uint8_t> kit_sign(const std::vector<uint8_t>& kit, const std::vector<uint8_t>& secret_key,
                              uint32_t build) {
  if (secret_key.size() != KIT_SECRET_KEY_SIZE || build == 0 || !crypto_ready()) return {};
  std::vector<uint8_t> out = kit;
  out.insert(out.end(), kSignatureMagic, kSignatureMagic + 4);
  put16(out, kSignatureVersion);
  put16(out, 0);
  // The secret key's second half is its public key: its first bytes name the signer.
  const uint8_t* public_key = secret_key.data() + KIT_SECRET_KEY_SIZE - KIT_PUBLIC_KEY_SIZE;
  out.insert(out.end(), public_key, public_key + KIT_KEY_ID_SIZE);
  // Signed with the rest: an older kit cannot be passed off as a newer one.
  put32(out, build);
  uint8_t signature[kSignatureSize];
  if (crypto_sign_detached(signature, nullptr, out.data(), out.size(), secret_key.data()) != 0) return {};
  out.insert(out.end(), signature, signature + kSignatureSize);
  return out;
}

bool kit_verify(const uint8_t* data, size_t size, const std::vector<uint8_t>& public_key, size_t* body,
                uint32_t* build, std::string* error) {
  auto fail = [&](const char* why) {
    if (error) *error = why;
    return false;
  };
  if (public_key.size() != KIT_PUBLIC_KEY_SIZE) return fail("no trusted key to check it with");
  if (!crypto_ready()) return fail("the signature check cannot start");
  const uint8_t* old = data && size >= kOldBlockSize ? data + size - kOldBlockSize : nullptr;
  if (old && std::memcmp(old, kSignatureMagic, 4) == 0 && old[4] == 1 && old[5] == 0)
    return fail("the kit is signed in an older form that names no build");
  if (!data || size < KIT_SIGNATURE_BLOCK_SIZE) return fail("the kit is not signed");
  const uint8_t* block = data + size - KIT_SIGNATURE_BLOCK_SIZE;
  if (std::memcmp(block, kSignatureMagic, 4) != 0) return fail("the kit is not signed");
  if (block[4] != kSignatureVersion || block[5] != 0 || block[6] != 0 || block[7] != 0)
    return fail("unknown signature version");
  if (std::memcmp(block + 8, public_key.data(), KIT_KEY_ID_SIZE) != 0)
    return fail("the kit is signed with a key this installation does not trust");
  const uint8_t* signature = block + 8 + KIT_KEY_ID_SIZE + 4;
  if (crypto_sign_verify_detached(signature, data, size - kSignatureSize, public_key.data()) != 0)
    return fail("the kit's signature does not match its bytes");
  const uint8_t* b = block + 8 + KIT_KEY_ID_SIZE;
  if (build) *build = b[0] | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
  if (body) *body = size - KIT_SIGNATURE_BLOCK_SIZE;
  return true;
}

std::string kit_key_text(const std::vector<uint8_t>& key) {
  std::string hex(key.size() * 2 + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), key.data(), key.size());
  hex.back() = '\n';
  return hex;
}

bool kit_key_parse(const std::string& text, size_t size, std::vector<uint8_t>* key) {
  if (!crypto_ready()) return false;
  size_t begin = text.find_first_not_of(" \t\r\n");
  size_t end = text.find_last_not_of(" \t\r\n");
  if (begin == std::string::npos || end - begin + 1 != size * 2) return false;
  key->assign(size, 0);
  size_t length = 0;
  if (sodium_hex2bin(key->data(), size, text.data() + begin, size * 2, nullptr, &length, nullptr) != 0 ||
      length != size) {
    key->clear();
    return false;
  }
  return true;
}
