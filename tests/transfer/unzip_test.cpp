// Member extraction from archives made by the real tools: zip, gzip and Python's zipfile.
#include "client/cache/unzip.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "client/core/identity.h"
#include "transfer_util.h"

using namespace transfer_test;


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
    object_password_set("", 0);
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
    return unzip_to_file(data.data(), data.size(), out().c_str(), enciphered, UNZIP_KIND_MODEL);
  }
  std::string out() const { return dir_.file("out.bin"); }
  std::vector<std::string> names() const {
    std::vector<std::string> all;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path())) all.push_back(e.path().filename().string());
    std::sort(all.begin(), all.end());
    return all;
  }

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
      int rc = unzip_to_file(copy, n, out().c_str(), nullptr, UNZIP_KIND_MODEL);
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
  // Everything up to the end of the 8-byte trailer (check sum and size) is needed.
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
    object_password_set(wrong, 0);
    int rc = extract(zip, &enciphered);
    EXPECT_TRUE(rc == UNZIP_PASSWORD || rc == UNZIP_CORRUPT) << wrong << ": " << rc;
    refused += rc == UNZIP_PASSWORD;
    EXPECT_FALSE(exists(out())) << wrong;
  }
  EXPECT_GE(refused, 1);
  object_password_set("s3cret", 0);
  EXPECT_EQ(extract(zip, &enciphered), UNZIP_OK);
  EXPECT_EQ(enciphered, 1);
  EXPECT_EQ(read_file(out()), text_);
  // The member is deciphered in the caller's buffer.
  std::vector<uint8_t> buffer = zip;
  ASSERT_EQ(unzip_memory(buffer.data(), buffer.size(), out().c_str(), UNZIP_KIND_MODEL), UNZIP_OK);
  EXPECT_NE(buffer, zip);
  ASSERT_NO_FATAL_FAILURE(check_truncations(zip, 30 + le16(zip, 26) + le16(zip, 28) + le32(zip, 18)));
}

TEST_F(UnzipTest, EncipheredStreamChecksTheTimeByte) {
  ASSERT_NO_FATAL_FAILURE(run("cat member.txt | zip -q -e -P s3cret - - | cat > secret_stream.zip"));
  std::vector<uint8_t> zip = bytes("secret_stream.zip");
  ASSERT_EQ(zip[6] & 0x09, 0x09);
  object_password_set("s3cret", 0);
  int enciphered = 0;
  EXPECT_EQ(extract(zip, &enciphered), UNZIP_OK);
  EXPECT_EQ(enciphered, 1);
  EXPECT_EQ(read_file(out()), text_);
  // A wrong password is refused by the check byte, but for the one in 256 whose deciphered
  // check byte matches by chance (the header is random): even then nothing comes out whole.
  int refused = 0;
  for (const char* wrong : {"S3cret", "s3creT", "x", "secret", "s3cret!", "S3CRET", "pass", "s3cre"}) {
    object_password_set(wrong, 0);
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
  EXPECT_EQ(unzip_to_file(nullptr, 10, out().c_str(), nullptr, UNZIP_KIND_MODEL), UNZIP_NOT_ARCHIVE);
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
  EXPECT_EQ(unzip_to_file(gz.data(), gz.size(), dir_.file("no/such/dir/x").c_str(), nullptr, UNZIP_KIND_MODEL),
            UNZIP_CREATE);
  // A device at the path is not a file of ours to replace: it stays where it is.
  if (exists("/dev/full")) {
    EXPECT_EQ(unzip_to_file(gz.data(), gz.size(), "/dev/full", nullptr, UNZIP_KIND_MODEL), UNZIP_CREATE);
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
  }
  // A full disk: the writes fail part way. Nothing is left beside the path, and the file
  // already there stays as it was.
  write_file(out(), "the member before");
  const auto before = names();
  std::string got = testutil::in_child([&] {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{20000, RLIM_INFINITY};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return std::string("no limit");
    return std::to_string(unzip_to_file(gz.data(), gz.size(), out().c_str(), nullptr, UNZIP_KIND_MODEL));
  });
  EXPECT_EQ(got, std::to_string(UNZIP_CORRUPT));
  EXPECT_EQ(read_file(out()), "the member before");
  EXPECT_EQ(names(), before);
}

// A replacement member of a different size over an existing file leaves only the new one.
// One planted at the path as a link, whatever the umask, never reaches the link's target:
// the member takes the link's place as a file of the person's own.
TEST_F(UnzipTest, ExistingOutputIsReplaced) {
  write_file(out(), std::string(200000, 'x'));
  ASSERT_NO_FATAL_FAILURE(run("gzip -n -c member.txt > plain.gz"));
  EXPECT_EQ(extract(bytes("plain.gz")), UNZIP_OK);
  EXPECT_EQ(read_file(out()), text_);

  TempDir elsewhere;
  const std::string target = elsewhere.file("theirs.txt");
  write_file(target, "theirs");
  std::vector<uint8_t> gz = bytes("plain.gz");
  const mode_t old = umask(0);
  for (const char* name : {"linked.bin", "dangling.bin"}) {
    const std::string link = dir_.file(name);
    std::filesystem::create_symlink(std::string(name) == "linked.bin" ? target : elsewhere.file("new.txt"), link);
    EXPECT_EQ(unzip_to_file(gz.data(), gz.size(), link.c_str(), nullptr, UNZIP_KIND_SOUND), UNZIP_OK) << name;
    EXPECT_FALSE(std::filesystem::is_symlink(link)) << name;
    EXPECT_EQ(read_file(link), text_) << name;
    EXPECT_EQ(std::filesystem::status(link).permissions(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write) << name;
  }
  umask(old);
  EXPECT_EQ(read_file(target), "theirs");
  EXPECT_FALSE(exists(elsewhere.file("new.txt")));
}

}  // namespace

// --- archives from a hostile server -------------------------------------------------------

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, unsigned v) { b.push_back(v & 255), b.push_back(v >> 8 & 255); }
void put32(Bytes& b, uint32_t v) { put16(b, v & 0xffff), put16(b, v >> 16); }

// Raw deflate data of n zero bytes (zlib) and their check sum.
Bytes deflate_zeros(size_t n, uint32_t* crc) {
  static const std::vector<uint8_t> zeros(1 << 20, 0);
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 1, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes out;
  uint8_t buffer[65536];
  *crc = static_cast<uint32_t>(::crc32(0, nullptr, 0));
  for (size_t left = n;;) {
    size_t take = std::min(left, zeros.size());
    *crc = static_cast<uint32_t>(::crc32(*crc, zeros.data(), static_cast<uInt>(take)));
    left -= take;
    z.next_in = const_cast<Bytef*>(zeros.data());
    z.avail_in = static_cast<uInt>(take);
    int flush = left ? Z_NO_FLUSH : Z_FINISH;
    int rc;
    do {
      z.next_out = buffer;
      z.avail_out = sizeof buffer;
      rc = deflate(&z, flush);
      out.insert(out.end(), buffer, buffer + (sizeof buffer - z.avail_out));
    } while (z.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
    if (!left) break;
  }
  deflateEnd(&z);
  return out;
}

// A one-member zip of n zeros whose header claims claimed bytes (with a data descriptor
// instead when described).
Bytes zip_zeros(size_t n, uint64_t claimed, bool described = false) {
  uint32_t crc;
  Bytes raw = deflate_zeros(n, &crc);
  Bytes b;
  put32(b, 0x04034b50u), put16(b, 20), put16(b, described ? 8 : 0), put16(b, 8), put32(b, 0);
  put32(b, described ? 0 : crc), put32(b, described ? 0 : static_cast<uint32_t>(raw.size()));
  put32(b, described ? 0 : static_cast<uint32_t>(claimed)), put16(b, 5), put16(b, 0);
  b.insert(b.end(), {'z', '.', 'v', 'x', 'x'});
  b.insert(b.end(), raw.begin(), raw.end());
  if (described) put32(b, 0x08074b50u), put32(b, crc), put32(b, static_cast<uint32_t>(raw.size())), put32(b, static_cast<uint32_t>(claimed));
  return b;
}

Bytes gzip_zeros(size_t n) {
  uint32_t crc;
  Bytes raw = deflate_zeros(n, &crc);
  Bytes b{0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 0, 3};
  b.insert(b.end(), raw.begin(), raw.end());
  put32(b, crc), put32(b, static_cast<uint32_t>(n));
  return b;
}

uintmax_t folder_bytes(const std::string& dir) {
  uintmax_t total = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    if (e.is_regular_file()) total += e.file_size();
  return total;
}

}  // namespace

// Small archives that inflate to tens of megabytes, a header that lies about the size, a check sum
// that does not match: each is refused, nothing of it stays on disk, and the file already
// at the path is kept as it was.
TEST_F(UnzipTest, BombsAndMismatchedMembersAreRefusedAndTheOldFileStays) {
  const std::string old = "the model that was there before";
  auto refused = [&](Bytes archive, unzip_kind kind, int want, const std::string& what) {
    write_file(out(), old);
    EXPECT_EQ(unzip_to_file(archive.data(), archive.size(), out().c_str(), nullptr, kind), want) << what;
    EXPECT_EQ(read_file(out()), old) << what;
    // member.txt, out.bin and whatever the tools made: no temporary, no partial member.
    EXPECT_LT(folder_bytes(dir_.path()), 1u << 20) << what;
  };
  const size_t big = size_t{64} << 20;
  ASSERT_NO_FATAL_FAILURE(refused(zip_zeros(big, big), UNZIP_KIND_MODEL, UNZIP_TOO_LARGE, "honest 64 MiB zip"));
  ASSERT_NO_FATAL_FAILURE(refused(zip_zeros(big, 1000), UNZIP_KIND_MODEL, UNZIP_TOO_LARGE, "zip claiming 1000"));
  ASSERT_NO_FATAL_FAILURE(refused(zip_zeros(big, 1000, true), UNZIP_KIND_SEQUENCE, UNZIP_TOO_LARGE, "described zip"));
  ASSERT_NO_FATAL_FAILURE(refused(gzip_zeros(big), UNZIP_KIND_SOUND, UNZIP_TOO_LARGE, "gzip"));

  // Every kind's limit holds for zip and gzip alike, and a member of just that size is taken.
  for (int k = 0; k < UNZIP_KINDS; ++k) {
    const auto kind = static_cast<unzip_kind>(k);
    const size_t limit = unzip_limit(kind);
    EXPECT_GE(limit, 1u << 20) << "kind " << k;
    for (bool gz : {false, true}) {
      Bytes fits = gz ? gzip_zeros(limit) : zip_zeros(limit, limit);
      EXPECT_EQ(unzip_to_file(fits.data(), fits.size(), out().c_str(), nullptr, kind), UNZIP_OK) << k << gz;
      EXPECT_EQ(std::filesystem::file_size(out()), limit);
      ASSERT_NO_FATAL_FAILURE(refused(gz ? gzip_zeros(limit + 1) : zip_zeros(limit + 1, limit + 1), kind,
                                      UNZIP_TOO_LARGE, "one past the limit"));
    }
  }

  // Check sums and sizes from the real tools' archives, each changed by one bit.
  ASSERT_NO_FATAL_FAILURE(run("zip -q -9 plain.zip member.txt && zip -q -fd described.zip member.txt && "
                              "gzip -n -c member.txt > plain.gz"));
  const Bytes zip = bytes("plain.zip"), described = bytes("described.zip"), gz = bytes("plain.gz");
  auto flipped = [](Bytes b, size_t at) {
    b[at] ^= 1;
    return b;
  };
  size_t descriptor = 30;
  while (descriptor + 4 < described.size() && le32(described, descriptor) != 0x08074b50u) ++descriptor;
  ASSERT_LT(descriptor + 16, described.size());
  const std::pair<Bytes, std::string> damaged[] = {
      {flipped(zip, 14), "zip check sum"},
      {flipped(zip, 22), "zip size"},
      {flipped(described, descriptor + 4), "descriptor check sum"},
      {flipped(described, descriptor + 12), "descriptor size"},
      {flipped(gz, gz.size() - 8), "gzip check sum"},
      {flipped(gz, gz.size() - 4), "gzip size"},
  };
  for (const auto& [archive, what] : damaged)
    ASSERT_NO_FATAL_FAILURE(refused(archive, UNZIP_KIND_MODEL, UNZIP_CORRUPT, what));
  // The same archives unchanged are taken.
  for (const Bytes& good : {zip, described, gz}) {
    Bytes copy = good;
    EXPECT_EQ(unzip_to_file(copy.data(), copy.size(), out().c_str(), nullptr, UNZIP_KIND_MODEL), UNZIP_OK);
    EXPECT_EQ(read_file(out()), text_);
  }
}
