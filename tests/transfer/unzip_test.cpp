// Member extraction from archives made by the real tools: zip, gzip and Python's zipfile.
#include "client/cache/unzip.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "transfer_util.h"

using namespace transfer_test;

// The world's object password as the identity module would give it.
std::string test_object_password;
const char* object_password() { return test_object_password.c_str(); }

namespace {

// Text that compresses but is not trivial: words from a fixed seed, over 32 KB so that the
// output window fills more than once.
std::string sample_text(size_t size) {
  static const char* words[] = {"cell", "model", "texture", "avatar", "prop", "world",
                                "sequence", "mask", "sound", "backdrop", "\n"};
  std::mt19937 gen(1234);
  std::string s;
  while (s.size() < size) {
    s += words[gen() % 11];
    s += ' ';
    s += std::to_string(gen() % 1000);
  }
  s.resize(size);
  return s;
}

class UnzipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test_object_password.clear();
    text_ = sample_text(70000);
    write_file(dir_.file("member.txt"), text_);
  }
  // Runs a shell command in the temp folder.
  void run(const std::string& command) {
    std::string full = "cd '" + dir_.path() + "' && " + command;
    ASSERT_EQ(std::system(full.c_str()), 0) << command;
  }
  std::vector<uint8_t> bytes(const std::string& name) {
    std::string s = read_file(dir_.file(name));
    EXPECT_GT(s.size(), 10u) << name;
    if (s.size() < 32) s.resize(32);
    return std::vector<uint8_t>(s.begin(), s.end());
  }
  int extract(std::vector<uint8_t> data, int* enciphered = nullptr) {
    std::remove(out().c_str());
    return unzip_to_file(data.data(), data.size(), out().c_str(), enciphered);
  }
  std::string out() const { return dir_.file("out.bin"); }

  // Every cut of the archive either fails with a code and leaves no file, or (once the
  // member's deflate data are whole) gives the member exactly. The cuts that succeed are
  // all those from one length on, and none below min_ok.
  void check_truncations(const std::vector<uint8_t>& archive, size_t min_ok) {
    size_t first_ok = archive.size() + 1;
    std::remove(out().c_str());
    // Every cut near both ends, a fixed stride through the middle.
    for (size_t n = 0; n <= archive.size(); n += (n < 300 || n + 300 > archive.size()) ? 1 : 97) {
      // A heap copy of exactly n bytes so that an over-read shows under the sanitizers.
      uint8_t* copy = static_cast<uint8_t*>(std::malloc(n ? n : 1));
      if (n) std::memcpy(copy, archive.data(), n);
      int rc = unzip_to_file(copy, n, out().c_str(), nullptr);
      std::free(copy);
      if (rc == UNZIP_OK) {
        ASSERT_EQ(read_file(out()), text_) << "cut at " << n;
        if (first_ok > n) first_ok = n;
        std::remove(out().c_str());
      } else {
        ASSERT_FALSE(exists(out())) << "cut at " << n << " left a file, code " << rc;
        ASSERT_EQ(first_ok, archive.size() + 1) << "cut at " << n << " failed after a shorter one worked";
      }
    }
    EXPECT_GE(first_ok, min_ok);
    EXPECT_LE(first_ok, archive.size());
  }
  TempDir dir_;
  std::string text_;
};

unsigned le16(const std::vector<uint8_t>& b, size_t at) { return b[at] | (b[at + 1] << 8); }
uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

TEST_F(UnzipTest, GzipWithAndWithoutStoredName) {
  ASSERT_NO_FATAL_FAILURE(run("gzip -c member.txt > named.gz && gzip -n -c member.txt > plain.gz"));
  std::vector<uint8_t> named = bytes("named.gz");
  std::vector<uint8_t> plain = bytes("plain.gz");
  ASSERT_EQ(named[3] & 0x08, 0x08);
  ASSERT_EQ(plain[3] & 0x08, 0);
  int enciphered = -1;
  EXPECT_EQ(extract(named, &enciphered), UNZIP_OK);
  EXPECT_EQ(enciphered, 0);
  EXPECT_EQ(read_file(out()), text_);
  EXPECT_EQ(extract(plain), UNZIP_OK);
  EXPECT_EQ(read_file(out()), text_);
  // The 8-byte trailer (check sum and size) is not needed; everything before it is.
  ASSERT_NO_FATAL_FAILURE(check_truncations(named, named.size() - 8));
  ASSERT_NO_FATAL_FAILURE(check_truncations(plain, plain.size() - 8));
}

TEST_F(UnzipTest, GzipHeaderRefusals) {
  ASSERT_NO_FATAL_FAILURE(run("gzip -n -c member.txt > plain.gz"));
  std::vector<uint8_t> gz = bytes("plain.gz");
  for (uint8_t flag : {0x02, 0x04, 0x10, 0x20, 0x80}) {
    std::vector<uint8_t> odd = gz;
    odd[3] |= flag;
    EXPECT_EQ(extract(odd), UNZIP_BAD_FLAGS) << int(flag);
    EXPECT_FALSE(exists(out()));
  }
  std::vector<uint8_t> text_flag = gz;
  text_flag[3] |= 0x01;
  EXPECT_EQ(extract(text_flag), UNZIP_OK);
  std::vector<uint8_t> method = gz;
  method[2] = 7;
  EXPECT_EQ(extract(method), UNZIP_NOT_DEFLATE);
}

TEST_F(UnzipTest, ZipDeflatedAndStored) {
  ASSERT_NO_FATAL_FAILURE(run("zip -q -9 deflated.zip member.txt && zip -q -0 stored.zip member.txt"));
  std::vector<uint8_t> zip = bytes("deflated.zip");
  ASSERT_EQ(zip[8], 8);
  EXPECT_EQ(extract(zip), UNZIP_OK);
  EXPECT_EQ(read_file(out()), text_);
  size_t data_end = 30 + le16(zip, 26) + le16(zip, 28) + le32(zip, 18);
  ASSERT_NO_FATAL_FAILURE(check_truncations(zip, data_end));
  EXPECT_EQ(extract(bytes("stored.zip")), UNZIP_NOT_DEFLATE);
  EXPECT_FALSE(exists(out()));
}

TEST_F(UnzipTest, ZipWithDataDescriptor) {
  ASSERT_NO_FATAL_FAILURE(run("zip -q -fd described.zip member.txt"));
  std::vector<uint8_t> fd = bytes("described.zip");
  ASSERT_EQ(fd[6] & 0x08, 0x08);
  EXPECT_EQ(extract(fd), UNZIP_OK);
  EXPECT_EQ(read_file(out()), text_);
  ASSERT_NO_FATAL_FAILURE(check_truncations(fd, 30 + le16(fd, 26) + le16(fd, 28) + 100));
}

TEST_F(UnzipTest, ZipStreamedFromStandardInput) {
  ASSERT_NO_FATAL_FAILURE(run("cat member.txt | zip -q - - | cat > streamed.zip"));
  std::vector<uint8_t> st = bytes("streamed.zip");
  ASSERT_EQ(st[8], 8);
  ASSERT_EQ(st[6] & 0x08, 0x08);
  EXPECT_EQ(extract(st), UNZIP_OK);
  EXPECT_EQ(read_file(out()), text_);
  ASSERT_NO_FATAL_FAILURE(check_truncations(st, 30 + le16(st, 26) + le16(st, 28) + 100));
}

TEST_F(UnzipTest, PythonZipfile) {
  ASSERT_NO_FATAL_FAILURE(run("python3 -c \"import zipfile; z = zipfile.ZipFile('py.zip', 'w', zipfile.ZIP_DEFLATED); "
      "z.write('member.txt'); z.close(); "
      "s = zipfile.ZipFile('pystored.zip', 'w', zipfile.ZIP_STORED); s.write('member.txt'); s.close()\""));
  std::vector<uint8_t> py = bytes("py.zip");
  EXPECT_EQ(extract(py), UNZIP_OK);
  EXPECT_EQ(read_file(out()), text_);
  ASSERT_NO_FATAL_FAILURE(check_truncations(py, 30 + le16(py, 26) + le16(py, 28) + le32(py, 18)));
  EXPECT_EQ(extract(bytes("pystored.zip")), UNZIP_NOT_DEFLATE);
}

TEST_F(UnzipTest, EncipheredMemberNeedsTheObjectPassword) {
  ASSERT_NO_FATAL_FAILURE(run("zip -q -e -P s3cret secret.zip member.txt"));
  std::vector<uint8_t> zip = bytes("secret.zip");
  ASSERT_EQ(zip[6] & 0x01, 0x01);
  int enciphered = -1;
  EXPECT_EQ(extract(zip, &enciphered), UNZIP_PASSWORD) << "no password";
  EXPECT_EQ(enciphered, 0);
  // A wrong password passes the one-byte check of the member's random header once in 256:
  // it then deciphers to data that fails as corrupt. Never is it taken, nor anything written.
  int refused = 0;
  for (const char* wrong : {"wrong", "wrong1", "wrong2", "wrong3"}) {
    test_object_password = wrong;
    int rc = extract(zip, &enciphered);
    EXPECT_TRUE(rc == UNZIP_PASSWORD || rc == UNZIP_CORRUPT) << wrong << ": " << rc;
    refused += rc == UNZIP_PASSWORD;
    EXPECT_FALSE(exists(out())) << wrong;
  }
  EXPECT_GE(refused, 1);
  test_object_password = "s3cret";
  EXPECT_EQ(extract(zip, &enciphered), UNZIP_OK);
  EXPECT_EQ(enciphered, 1);
  EXPECT_EQ(read_file(out()), text_);
  // The member is deciphered in the caller's buffer.
  std::vector<uint8_t> buffer = zip;
  ASSERT_EQ(unzip_memory(buffer.data(), buffer.size(), out().c_str()), UNZIP_OK);
  EXPECT_NE(buffer, zip);
  ASSERT_NO_FATAL_FAILURE(check_truncations(zip, 30 + le16(zip, 26) + le16(zip, 28) + le32(zip, 18)));
}

TEST_F(UnzipTest, EncipheredStreamChecksTheTimeByte) {
  ASSERT_NO_FATAL_FAILURE(run("cat member.txt | zip -q -e -P s3cret - - | cat > secret_stream.zip"));
  std::vector<uint8_t> zip = bytes("secret_stream.zip");
  ASSERT_EQ(zip[6] & 0x09, 0x09);
  test_object_password = "s3cret";
  int enciphered = 0;
  EXPECT_EQ(extract(zip, &enciphered), UNZIP_OK);
  EXPECT_EQ(enciphered, 1);
  EXPECT_EQ(read_file(out()), text_);
  // A wrong password is refused by the check byte, but for the one in 256 whose deciphered
  // check byte matches by chance (the header is random): even then nothing comes out whole.
  int refused = 0;
  for (const char* wrong : {"S3cret", "s3creT", "x", "secret", "s3cret!", "S3CRET", "pass", "s3cre"}) {
    test_object_password = wrong;
    const int rc = extract(zip);
    EXPECT_NE(rc, UNZIP_OK) << wrong;
    refused += rc == UNZIP_PASSWORD;
  }
  EXPECT_GE(refused, 7);
}

TEST_F(UnzipTest, ShortAndForeignInput) {
  ASSERT_NO_FATAL_FAILURE(run("zip -q -9 deflated.zip member.txt"));
  std::vector<uint8_t> zip = bytes("deflated.zip");
  EXPECT_EQ(extract(std::vector<uint8_t>(zip.begin(), zip.begin() + 29)), UNZIP_SHORT_HEADER);
  EXPECT_EQ(extract(std::vector<uint8_t>(zip.begin(), zip.begin() + 31)), UNZIP_SHORT_HEADER);
  EXPECT_EQ(extract(std::vector<uint8_t>{'P', 'K', 5, 6, 0, 0}), UNZIP_NOT_ARCHIVE);
  EXPECT_EQ(extract(std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}), UNZIP_NOT_ARCHIVE);
  EXPECT_EQ(extract(std::vector<uint8_t>{}), UNZIP_NOT_ARCHIVE);
  EXPECT_EQ(unzip_to_file(nullptr, 10, out().c_str(), nullptr), UNZIP_NOT_ARCHIVE);
  // A corrupt deflate stream, not just a cut one.
  std::vector<uint8_t> bad = zip;
  size_t data = 30 + le16(zip, 26) + le16(zip, 28);
  for (size_t i = data; i < data + 64 && i < bad.size(); ++i) bad[i] = 0xFF;
  EXPECT_EQ(extract(bad), UNZIP_CORRUPT);
  EXPECT_FALSE(exists(out()));
  EXPECT_FALSE(exists(out()));
}

TEST_F(UnzipTest, OutputThatCannotBeWrittenFails) {
  ASSERT_NO_FATAL_FAILURE(run("gzip -n -c member.txt > plain.gz"));
  std::vector<uint8_t> gz = bytes("plain.gz");
  EXPECT_EQ(unzip_to_file(gz.data(), gz.size(), dir_.file("no/such/dir/x").c_str(), nullptr),
            UNZIP_CREATE);
  // A full disk: every write fails. The device itself must stay where it is.
  if (exists("/dev/full")) {
    EXPECT_EQ(unzip_to_file(gz.data(), gz.size(), "/dev/full", nullptr), UNZIP_CORRUPT);
    EXPECT_TRUE(exists("/dev/full"));
  }
}

// A replacement member of a different size over an existing file leaves only the new one.
TEST_F(UnzipTest, ExistingOutputIsReplaced) {
  write_file(out(), std::string(200000, 'x'));
  ASSERT_NO_FATAL_FAILURE(run("gzip -n -c member.txt > plain.gz"));
  EXPECT_EQ(extract(bytes("plain.gz")), UNZIP_OK);
  EXPECT_EQ(read_file(out()), text_);
}

}  // namespace
