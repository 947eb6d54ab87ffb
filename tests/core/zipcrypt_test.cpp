#include "client/core/zipcrypt.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace {

uint16_t le16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}
uint32_t le32(const std::string& b, size_t at) {
  return static_cast<uint32_t>(le16(b, at)) | static_cast<uint32_t>(le16(b, at + 2)) << 16;
}

struct Member {
  uint16_t flags = 0, method = 0, mtime = 0;
  uint32_t crc = 0, csize = 0;
  std::vector<uint8_t> data;  // 12-byte header + enciphered bytes
};

// Reads the first member of an archive: flags and time from the local header, CRC and size
// from the central directory (the local header may defer them to a data descriptor).
bool read_first_member(const std::string& zip, Member* m) {
  if (zip.size() < 30 || le32(zip, 0) != 0x04034b50) return false;
  m->flags = le16(zip, 6);
  m->method = le16(zip, 8);
  m->mtime = le16(zip, 10);
  size_t data_at = 30 + le16(zip, 26) + le16(zip, 28);
  size_t cd = zip.rfind(std::string("PK\x01\x02", 4));
  if (cd == std::string::npos || cd + 46 > zip.size()) return false;
  m->crc = le32(zip, cd + 16);
  m->csize = le32(zip, cd + 20);
  if (data_at + m->csize > zip.size()) return false;
  m->data.assign(zip.begin() + data_at, zip.begin() + data_at + m->csize);
  return true;
}

class ZipCryptTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("zip -v > /dev/null 2>&1") != 0) GTEST_SKIP() << "zip tool missing";
  }
  // Makes an archive of one stored, encrypted member and returns its bytes.
  std::string make_archive(const std::string& content, const std::string& password) {
    write_file(dir_.file("member.txt"), content);
    std::string cmd = "cd '" + dir_.path() + "' && zip -q -0 -e -P '" + password +
                      "' test.zip member.txt";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    return read_file(dir_.file("test.zip"));
  }
  uint8_t check_byte(const Member& m) {
    return (m.flags & 0x08) ? static_cast<uint8_t>(m.mtime >> 8) : static_cast<uint8_t>(m.crc >> 24);
  }
  TempDir dir_;
};

}  // namespace

TEST(ZipCrypt, Crc32KnownValue) {
  const char* s = "123456789";
  EXPECT_EQ(zipcrypt_crc32(reinterpret_cast<const uint8_t*>(s), 9), 0xCBF43926u);
}

TEST_F(ZipCryptTool, DeciphersArchiveMadeByZipTool) {
  std::string content = "The quick brown fox jumps over the lazy dog.\nline two\n";
  std::string zip = make_archive(content, "password");
  Member m;
  ASSERT_TRUE(read_first_member(zip, &m));
  ASSERT_EQ(m.method, 0);     // stored
  ASSERT_TRUE(m.flags & 1);   // encrypted
  ASSERT_EQ(m.data.size(), content.size() + 12);
  std::vector<uint8_t> header(m.data.begin(), m.data.begin() + 12);
  ASSERT_EQ(zipcrypt_decrypt_entry("password", 8, m.data.data(), m.data.size(), check_byte(m)), 1);
  EXPECT_EQ(std::string(m.data.begin() + 12, m.data.end()), content);
  // The header bytes are left as they were.
  EXPECT_EQ(std::vector<uint8_t>(m.data.begin(), m.data.begin() + 12), header);
  EXPECT_EQ(zipcrypt_crc32(m.data.data() + 12, content.size()), m.crc);
}

TEST_F(ZipCryptTool, WrongPasswordIsRefusedOrGivesOtherBytes) {
  std::string content(300, 'x');
  std::string zip = make_archive(content, "secret");
  Member m;
  ASSERT_TRUE(read_first_member(zip, &m));
  std::vector<uint8_t> before = m.data;
  int rc = zipcrypt_decrypt_entry("wrong", 5, m.data.data(), m.data.size(), check_byte(m));
  if (rc == 0) {
    EXPECT_EQ(m.data, before);  // nothing deciphered
  } else {
    // A 1 in 256 chance that the check byte matches: the content cannot.
    EXPECT_NE(std::string(m.data.begin() + 12, m.data.end()), content);
  }
}

TEST(ZipCrypt, EntryWithoutPasswordOrTooShort) {
  std::vector<uint8_t> data(40, 0x5a);
  std::vector<uint8_t> before = data;
  EXPECT_EQ(zipcrypt_decrypt_entry(nullptr, 0, data.data(), data.size(), 0), 0);
  EXPECT_EQ(zipcrypt_decrypt_entry("", 0, data.data(), data.size(), 0), 0);
  EXPECT_EQ(data, before);
  // Shorter than the 12-byte header: refused, never read past the end.
  std::vector<uint8_t> shortdata(5, 1);
  EXPECT_EQ(zipcrypt_decrypt_entry("pw", 2, shortdata.data(), shortdata.size(), 0), 0);
  EXPECT_EQ(zipcrypt_header_size(), 12);
}

TEST(ZipCrypt, RoundTripAndKeyDependence) {
  std::string plain = "settings password";
  std::vector<uint8_t> a(plain.begin(), plain.end()), b = a;
  zipcrypt_encrypt("k1", 2, a.data(), a.size());
  zipcrypt_encrypt("k2", 2, b.data(), b.size());
  EXPECT_NE(a, b);
  EXPECT_NE(std::string(a.begin(), a.end()), plain);
  zipcrypt_decrypt("k1", 2, a.data(), a.size());
  EXPECT_EQ(std::string(a.begin(), a.end()), plain);
  // No key text selects the built-in key, the same as naming none with a length of 0.
  std::vector<uint8_t> c(plain.begin(), plain.end()), d = c;
  zipcrypt_encrypt(nullptr, 0, c.data(), c.size());
  zipcrypt_encrypt("ignored", 0, d.data(), d.size());
  EXPECT_EQ(c, d);
}
