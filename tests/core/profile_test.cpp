#include "client/core/profile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "client/core/files.h"
#include "client/core/ini.h"
#include "temp_dir.h"

namespace {

// A settings file as a person edits it by hand.
const char kHandEdited[] =
    "; tessel settings\r\n"
    "[General]\r\n"
    "Messages = german\r\n"
    "Volume=7\r\n"
    "\r\n"
    "[Debug]\r\n"
    "TRACE=1\r\n"
    "trace=0\r\n"
    "empty=\r\n"
    "word=abc\r\n"
    "neg=-12\r\n"
    "; comment in a section\r\n"
    "[universe]\r\n"
    "host=example.invalid";  // no final line break

class Profile : public ::testing::Test {
 protected:
  void SetUp() override {
    file_term();
    write_file(dir_.file("tessel.ini"), kHandEdited);
    ASSERT_TRUE(profile_init(dir_.path().c_str(), "\\tessel.ini"));
  }
  void TearDown() override { file_term(); }
  std::string ini() { return read_file(dir_.file("tessel.ini")); }
  TempDir dir_;
};

// Changes one byte of the file in place: same length, same inode.
void overwrite_byte(const std::string& path, long offset, char c) {
  FILE* f = std::fopen(path.c_str(), "r+");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fseek(f, offset, SEEK_SET), 0);
  std::fputc(c, f);
  std::fclose(f);
}

}  // namespace

TEST_F(Profile, ReadsWithoutRegardToCase) {
  EXPECT_STREQ(profile_string("general", "MESSAGES"), "german");
  EXPECT_EQ(profile_int("GENERAL", "volume"), 7);
  EXPECT_EQ(profile_path(), dir_.file("tessel.ini"));
}

TEST_F(Profile, AbsentNonNumericEmptyAndDuplicateKeys) {
  EXPECT_EQ(profile_int("general", "missing"), -1);
  EXPECT_EQ(profile_int("nosection", "volume"), -1);
  EXPECT_EQ(profile_int("debug", "word"), 0);
  EXPECT_EQ(profile_int("debug", "empty"), 0);
  EXPECT_EQ(profile_int("debug", "neg"), -12);
  EXPECT_STREQ(profile_string("debug", "empty"), "");
  EXPECT_STREQ(profile_string("debug", "missing"), "");
  EXPECT_EQ(profile_int("debug", "trace"), 1);  // the first of the duplicates wins
  // Last line without a line break.
  EXPECT_STREQ(profile_string("universe", "host"), "example.invalid");
  // A comment is never a key.
  EXPECT_STREQ(profile_string("debug", "; comment in a section"), "");
}

TEST_F(Profile, WriteKeepsEveryOtherLine) {
  profile_set_int("DEBUG", "trace", 5);
  std::string expected = kHandEdited;
  expected.replace(expected.find("TRACE=1"), 7, "trace=5");
  EXPECT_EQ(ini(), expected);
  EXPECT_EQ(profile_int("debug", "trace"), 5);
}

TEST_F(Profile, NewKeyGoesToItsSectionWithTheFilesLineEnds) {
  profile_set_string("general", "avatar", "3");
  std::string expected = kHandEdited;
  expected.insert(expected.find("\r\n\r\n[Debug]") + 2, "avatar=3\r\n");
  EXPECT_EQ(ini(), expected);
}

TEST_F(Profile, MissingSectionIsAppendedAfterALastLineWithoutBreak) {
  profile_set_string("Chat", "font", "Arial");
  EXPECT_EQ(ini(), std::string(kHandEdited) + "\r\n[Chat]\r\nfont=Arial\r\n");
  EXPECT_STREQ(profile_string("chat", "FONT"), "Arial");
  EXPECT_STREQ(profile_string("universe", "host"), "example.invalid");
}

TEST_F(Profile, ValuesAreCutAt127Characters) {
  std::string longvalue(300, 'v');
  longvalue[127] = 'X';
  write_file(dir_.file("tessel.ini"), "[a]\nlong=" + longvalue + "\nafter=1\n");
  const char* v = profile_string("a", "long");
  EXPECT_EQ(std::strlen(v), 127u);
  EXPECT_EQ(std::string(v), longvalue.substr(0, 127));
  EXPECT_EQ(profile_int("a", "after"), 1);  // a long line does not swallow the next
  profile_set_int("a", "after", 2);
  EXPECT_EQ(read_file(dir_.file("tessel.ini")), "[a]\nlong=" + longvalue + "\nafter=2\n");
}

TEST_F(Profile, ValueWithLineBreakCannotAddLines) {
  profile_set_string("general", "name", "joe\r\n[debug]\r\nall=1");
  EXPECT_STREQ(profile_string("general", "name"), "joe");
  EXPECT_EQ(profile_int("debug", "all"), -1);
}

TEST_F(Profile, SixStringReadsReuseTheFirstBuffer) {
  const char* first = profile_string("general", "messages");
  const char* results[5];
  for (auto& r : results) r = profile_string("universe", "host");
  EXPECT_NE(first, results[0]);
  EXPECT_NE(first, results[3]);
  EXPECT_EQ(first, results[4]);
  EXPECT_STREQ(first, "example.invalid");
}

TEST_F(Profile, EncryptedValueIsLowerCaseHexOfTwiceTheLength) {
  profile_set_encrypted_string("citizen", "password", "Secret99");
  std::string stored = profile_string("citizen", "password");
  ASSERT_EQ(stored.size(), 16u);
  for (char c : stored) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << stored;
  EXPECT_NE(stored, "5365637265743939");  // not the plain bytes
  EXPECT_STREQ(profile_encrypted_string("citizen", "password"), "Secret99");
}

TEST_F(Profile, EncryptedEdgeValues) {
  profile_set_encrypted_string("citizen", "one", "x");
  std::string one = profile_string("citizen", "one");
  // A stored value of one hex digit is too short.
  profile_set_string("citizen", "cut", one.substr(0, 1).c_str());
  EXPECT_STREQ(profile_encrypted_string("citizen", "cut"), "");
  EXPECT_STREQ(profile_encrypted_string("citizen", "absent"), "");
  // An odd last digit is ignored.
  profile_set_string("citizen", "odd", (one + "7").c_str());
  EXPECT_STREQ(profile_encrypted_string("citizen", "odd"), "x");
  // Text that is not hex ends the value instead of being read as garbage.
  profile_set_string("citizen", "bad", (one + "zz41").c_str());
  EXPECT_STREQ(profile_encrypted_string("citizen", "bad"), "x");
}

TEST(ProfileMissing, MissingOrUnreadableFile) {
  file_term();
  TempDir dir;
  EXPECT_FALSE(profile_init(dir.path().c_str(), "/tessel.ini"));
  EXPECT_EQ(profile_int("general", "volume"), -1);
  EXPECT_STREQ(profile_string("general", "messages"), "");
  EXPECT_STREQ(profile_encrypted_string("citizen", "password"), "");
  // A directory where the file should be: reads give nothing, nothing crashes.
  mkdir(dir.file("tessel.ini").c_str(), 0755);
  EXPECT_EQ(profile_int("general", "volume"), -1);
  EXPECT_STREQ(profile_string("general", "messages"), "");
  // A FIFO with no writer: read without waiting for one, as nothing.
  rmdir(dir.file("tessel.ini").c_str());
  ASSERT_EQ(0, mkfifo(dir.file("tessel.ini").c_str(), 0600));
  EXPECT_EQ(profile_int("general", "volume"), -1);
  file_term();
}

TEST(Ini, WriteCreatesFileAndReplacesAtomically) {
  TempDir dir;
  std::string path = dir.file("new.ini");
  ASSERT_TRUE(ini_set(path.c_str(), "s", "k", "v"));
  EXPECT_EQ(read_file(path), "[s]\nk=v\n");
  ASSERT_TRUE(ini_set(path.c_str(), "s", "k2", "w"));
  ASSERT_TRUE(ini_set(path.c_str(), "s", "k", nullptr));  // removal
  EXPECT_EQ(read_file(path), "[s]\nk2=w\n");
  // No temporary file is left beside it.
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1);
  // Whatever the umask, the file made is its owner's alone.
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // One an older run left open to all is written back the owner's alone.
  ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
  ASSERT_TRUE(ini_set(path.c_str(), "s", "k", "v"));
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // A write into a folder that does not exist fails and creates nothing.
  EXPECT_FALSE(ini_set(dir.file("no/such.ini").c_str(), "s", "k", "v"));
}

TEST(Ini, DuplicateKeysFirstReplacedSecondKept) {
  TempDir dir;
  std::string path = dir.file("d.ini");
  write_file(path, "[x]\nk=1\nk=2\n[y]\nk=3\n[X]\nk=4\n");
  char out[16];
  ASSERT_TRUE(ini_get(path.c_str(), "x", "K", "", out, sizeof out));
  EXPECT_STREQ(out, "1");
  ASSERT_TRUE(ini_set(path.c_str(), "x", "k", "9"));
  EXPECT_EQ(read_file(path), "[x]\nk=9\nk=2\n[y]\nk=3\n[X]\nk=4\n");
  // A new key goes to the first occurrence of the section.
  ASSERT_TRUE(ini_set(path.c_str(), "X", "n", "5"));
  EXPECT_EQ(read_file(path), "[x]\nk=9\nk=2\nn=5\n[y]\nk=3\n[X]\nk=4\n");
  // A small output buffer is never overrun.
  char tiny[3];
  ini_get(path.c_str(), "y", "k", "", tiny, sizeof tiny);
  EXPECT_STREQ(tiny, "3");
  write_file(path, "[y]\nk=12345\n");
  ini_get(path.c_str(), "y", "k", "", tiny, sizeof tiny);
  EXPECT_STREQ(tiny, "12");
}

// Reads are answered from what the file held at the last read only while it holds the same
// bytes: an edit in place, of the same length and at once after a read, is seen at the next.
TEST(Ini, AnEditInPlaceOfTheSameLengthIsReadAtOnce) {
  TempDir dir;
  std::string path = dir.file("e.ini");
  write_file(path, "[s]\nk=1\n[t]\nk=2\n");
  EXPECT_EQ(ini_get_int(path.c_str(), "s", "k", -1), 1);
  ASSERT_NO_FATAL_FAILURE(overwrite_byte(path, 6, '7'));
  EXPECT_EQ(ini_get_int(path.c_str(), "s", "k", -1), 7);
  EXPECT_EQ(ini_get_int(path.c_str(), "t", "k", -1), 2);
  // Removed, the file's values are gone too.
  std::remove(path.c_str());
  EXPECT_EQ(ini_get_int(path.c_str(), "s", "k", -1), -1);
}

// A settings file larger than the reader takes whole (16 MB): a write leaves every line of it
// as it was, and the value set holds for the run.
TEST(Ini, AWriteLeavesAFileOverTheCapAsItWas) {
  TempDir dir;
  std::string path = dir.file("big.ini");
  const std::string head = "[general]\nkeep=1\n", tail = "\n[tail]\nlast=1\n";
  const off_t size = 16 * 1024 * 1024 + 4096;
  {
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, head.data(), head.size(), 0), static_cast<ssize_t>(head.size()));
    ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), size - static_cast<off_t>(tail.size())),
              static_cast<ssize_t>(tail.size()));
    ::close(fd);
  }
  EXPECT_FALSE(ini_set(path.c_str(), "general", "sound", "0"));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, size);
  std::string end(tail.size(), '\0');
  int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::pread(fd, end.data(), end.size(), size - static_cast<off_t>(end.size())),
            static_cast<ssize_t>(end.size()));
  ::close(fd);
  EXPECT_EQ(end, tail);
  char out[16];
  EXPECT_TRUE(ini_get(path.c_str(), "general", "sound", "", out, sizeof out));
  EXPECT_STREQ(out, "0");
  EXPECT_TRUE(ini_get(path.c_str(), "general", "keep", "", out, sizeof out));
  EXPECT_STREQ(out, "1");
}

// A write the system refuses (here its folder is gone) changes nothing on disk, and the value
// still holds for the rest of the run.
TEST(Ini, AValueThatCannotBeWrittenHoldsForTheRun) {
  TempDir dir;
  std::string path = dir.file("gone/s.ini");
  EXPECT_FALSE(ini_set(path.c_str(), "general", "sound", "0"));
  char out[16];
  EXPECT_TRUE(ini_get(path.c_str(), "general", "sound", "", out, sizeof out));
  EXPECT_STREQ(out, "0");
  struct stat st {};
  EXPECT_NE(::stat(dir.file("gone").c_str(), &st), 0);
}

// A file whose inode, size and time stamp are as at the last read is not read again: here its
// bytes changed behind a restored time stamp, and the reading stays the one taken before.
TEST(Ini, AnUnchangedFileIsNotReadAgain) {
  TempDir dir;
  std::string path = dir.file("s.ini");
  write_file(path, "[s]\nk=1\n");
  struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
  EXPECT_EQ(ini_get_int(path.c_str(), "s", "k", -1), 1);
  ASSERT_NO_FATAL_FAILURE(overwrite_byte(path, 6, '7'));
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
  EXPECT_EQ(ini_get_int(path.c_str(), "s", "k", -1), 1);
  // A new time stamp is a change.
  struct timespec later[2] = {{1000000100, 0}, {1000000100, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
  EXPECT_EQ(ini_get_int(path.c_str(), "s", "k", -1), 7);
}

// A reading kept from before is used only while nothing can have changed: a file put in its
// place (another inode, same size and time stamp) is read again, and so is one edited in place
// whose recent time stamp was put back, since a stamp that young may not have moved.
TEST(Ini, AReplacedOrFreshlyEditedFileIsReadAgain) {
  TempDir dir;
  std::string path = dir.file("s.ini"), other = dir.file("other.ini");
  write_file(path, "[s]\nk=1\n");
  struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
  EXPECT_EQ(ini_get_int(path.c_str(), "s", "k", -1), 1);
  write_file(other, "[s]\nk=2\n");
  ASSERT_EQ(::utimensat(AT_FDCWD, other.c_str(), old, 0), 0);
  ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
  EXPECT_EQ(ini_get_int(path.c_str(), "s", "k", -1), 2);

  struct stat st {};
  write_file(path, "[s]\nk=3\n");
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(ini_get_int(path.c_str(), "s", "k", -1), 3);
  ASSERT_NO_FATAL_FAILURE(overwrite_byte(path, 6, '4'));
  struct timespec recent[2] = {st.st_mtim, st.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), recent, 0), 0);
  EXPECT_EQ(ini_get_int(path.c_str(), "s", "k", -1), 4);
}

// A file over the cap is read up to its last whole line: a line the cap cuts is no value.
TEST(Ini, AValueCutByTheReadCapIsNotRead) {
  TempDir dir;
  std::string path = dir.file("big.ini");
  const off_t cap = 16 * 1024 * 1024;
  const std::string head = "[s]\nfirst=1\n", cut = "\nk=123456789\n";  // the cap falls after "k=123"
  {
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, head.data(), head.size(), 0), static_cast<ssize_t>(head.size()));
    ASSERT_EQ(::pwrite(fd, cut.data(), cut.size(), cap - 6), static_cast<ssize_t>(cut.size()));
    ::close(fd);
  }
  char out[16];
  EXPECT_TRUE(ini_get(path.c_str(), "s", "first", "", out, sizeof out));
  EXPECT_FALSE(ini_get(path.c_str(), "s", "k", "none", out, sizeof out)) << out;
  EXPECT_STREQ(out, "none");
}

// A byte-order mark is no part of the first line: the section after it is read, and a write
// keeps the mark where it was. UTF-16 text, in either order, is read as its text and never
// rewritten (the value holds for the run).
TEST(Ini, MarkedFilesAreReadAsTheirText) {
  TempDir dir;
  std::string path = dir.file("m.ini");
  write_file(path, "\xEF\xBB\xBF[universe]\r\nhost=h\r\n");
  char out[16];
  EXPECT_TRUE(ini_get(path.c_str(), "universe", "host", "", out, sizeof out));
  EXPECT_STREQ(out, "h");
  ASSERT_TRUE(ini_set(path.c_str(), "universe", "port", "5"));
  EXPECT_EQ(read_file(path), "\xEF\xBB\xBF[universe]\r\nhost=h\r\nport=5\r\n");
  std::string why;
  EXPECT_TRUE(ini_can_save(path.c_str(), &why)) << why;

  const std::string text = "[universe]\r\nhost=h\xE9\r\n";
  for (bool little : {true, false}) {
    std::string utf16 = little ? "\xFF\xFE" : "\xFE\xFF";
    for (char c : text) utf16 += little ? std::string{c, '\0'} : std::string{'\0', c};
    utf16 += little ? std::string("\x3A\x26", 2) : std::string("\x26\x3A", 2);  // a character past Latin-1
    write_file(path, utf16);
    EXPECT_TRUE(ini_get(path.c_str(), "universe", "host", "", out, sizeof out)) << little;
    EXPECT_STREQ(out, "h\xE9");
    EXPECT_FALSE(ini_set(path.c_str(), "universe", "port", "6"));
    EXPECT_EQ(read_file(path), utf16);
    EXPECT_EQ(ini_get_int(path.c_str(), "universe", "port", -1), 6);
    EXPECT_FALSE(ini_can_save(path.c_str(), &why));
    EXPECT_NE(why.find("UTF-16"), std::string::npos) << why;
  }
}
