#include "client/core/msg.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "client/core/files.h"
#include "client/core/profile.h"
#include "platform/headless_host.h"
#include "platform/progdir.h"
#include "temp_dir.h"

namespace {

class Messages : public ::testing::Test {
 protected:
  void SetUp() override {
    msg_reset();
    file_term();
    mkdir(dir_.file("Messages").c_str(), 0755);
    platform_set_program_dir(dir_.path());
    write_file(dir_.file("tessel.ini"), "[general]\n");
    profile_init(dir_.path().c_str(), "/tessel.ini");
  }
  void TearDown() override {
    msg_reset();
    file_term();
    host_set(nullptr);
  }
  void set(const std::string& name, const std::string& text) {
    write_file(dir_.file("Messages/" + name + ".tzm"), text);
  }
  TempDir dir_;
};

int refreshed = 0;
void count_refresh() { ++refreshed; }
int other_refreshed = 0;
void count_other() { ++other_refreshed; }

}  // namespace

TEST_F(Messages, FileFormat) {
  set("default",
      "comment line\n"
      "12 _word\n"
      "13 word\n"
      " \t14\tword two\n"
      "15x   text after a number with letters\n"
      "660 out of range\n"
      "-3 negative\n"
      "#16 hash\n"
      "17 first\n"
      "17 second\n"
      "18 crlf\r\n"
      "19 last line without break");
  ASSERT_EQ(msg_load("default"), 1);
  EXPECT_STREQ(msg(12), " word");
  EXPECT_STREQ(msg(13), "word");
  EXPECT_STREQ(msg(14), "word two");
  EXPECT_STREQ(msg(15), "text after a number with letters");
  EXPECT_STREQ(msg(16), "16");  // no entry: shown as its number
  EXPECT_STREQ(msg(17), "second");
  EXPECT_STREQ(msg(18), "crlf");
  EXPECT_STREQ(msg(19), "");  // no line break: the empty text
  EXPECT_STREQ(msg(3), "3");
  EXPECT_STREQ(msg(659), "659");
  EXPECT_STREQ(msg(660), "");
  EXPECT_STREQ(msg(-1), "");
  EXPECT_STREQ(msg_current(), "default");
}

TEST_F(Messages, OverLongLineStoresEmptyTextAndItsRestIsNoEntry) {
  // The part beyond the first 511 bytes starts with digits: it must not become entry 99.
  std::string line = "20 " + std::string(508, 'x') + "99 injected\n";
  // A line of several pieces.
  std::string line2 = "22 " + std::string(1500, 'y') + "\n";
  set("default", "20 old\n99 kept\n" + line + line2 + "21 after\n");
  ASSERT_EQ(msg_load("default"), 1);
  EXPECT_STREQ(msg(20), "");
  EXPECT_STREQ(msg(99), "kept");
  EXPECT_STREQ(msg(22), "");
  EXPECT_STREQ(msg(21), "after");
}

TEST_F(Messages, MissingFilesAndSetBesideTheProgramDirectory) {
  EXPECT_EQ(msg_init(), 432);
  EXPECT_EQ(msg_load("nosuch"), 0);
  EXPECT_STREQ(msg_current(), "");
  EXPECT_EQ(msg_load("../tessel"), 0);  // a name, never a path
  // "<dir>/../<name>.tzm" is the second place looked at.
  TempDir outer;
  std::string inner = outer.file("prog");
  mkdir(inner.c_str(), 0755);
  platform_set_program_dir(inner);
  write_file(outer.file("beside.tzm"), "5 beside\n");
  EXPECT_EQ(msg_load("beside"), 1);
  EXPECT_STREQ(msg(5), "beside");
}

// A file that holds no numbered text is no message set: the table stays as it was and the
// place beside the program directory is looked at next. Numbers the set lacks show as
// themselves until a later set gives them a text.
TEST_F(Messages, FilesWithoutNumberedTextsAreMissingAndLackingNumbersShowThemselves) {
  const std::string utf16("\xff\xfe" "6\0" "8\0" " \0" "T\0" "\n\0", 12);
  for (const std::string& bytes : {std::string(), std::string("\x7f" "ELF\x02\x01 junk\n# no digits\n"), utf16}) {
    set("default", bytes);
    EXPECT_EQ(msg_init(), 432) << testing::PrintToString(bytes);
  }
  std::string file = dir_.file("Messages/default.tzm");
  std::remove(file.c_str());
  ASSERT_EQ(mkdir(file.c_str(), 0755), 0);
  EXPECT_EQ(msg_init(), 432);
  EXPECT_STREQ(msg_current(), "");
  EXPECT_STREQ(msg(68), "");  // nothing was loaded: no number stands in yet
  set("german", "23 Chatzeile\n");
  write_file(dir_.file("tessel.ini"), "[general]\nmessages=german\n");
  rmdir(file.c_str());
  set("default", "68 Tessel\n24 lost\n");
  EXPECT_EQ(msg_init(), 0);
  EXPECT_STREQ(msg(68), "Tessel");
  EXPECT_STREQ(msg(23), "Chatzeile");
  EXPECT_STREQ(msg(124), "124");
  EXPECT_STREQ(msg_arg(151, 7), "151");
  msg_switch("default");
  EXPECT_STREQ(msg(24), "lost");
  // An empty set loaded over it changes nothing.
  set("empty", "");
  EXPECT_EQ(msg_load("empty"), 0);
  EXPECT_STREQ(msg_current(), "default");
}

TEST_F(Messages, InitLoadsDefaultThenTheNamedSetOverIt) {
  set("default", "1 one\n2 two\n");
  set("german", "2 zwei\n");
  write_file(dir_.file("tessel.ini"), "[general]\nmessages=german\n");
  EXPECT_EQ(msg_init(), 0);
  EXPECT_STREQ(msg(1), "one");
  EXPECT_STREQ(msg(2), "zwei");
  EXPECT_STREQ(msg_current(), "german");
}

TEST_F(Messages, SwitchReloadsWritesSettingAndRefreshes) {
  set("default", "1 one\n2 two\n");
  set("german", "2 zwei\n");
  set("french", "1 un\n");
  refreshed = other_refreshed = 0;
  msg_add_refresh(count_refresh);
  msg_add_refresh(count_refresh);  // once only
  msg_add_refresh(count_other);
  ASSERT_EQ(msg_init(), 0);
  msg_switch("german");
  EXPECT_STREQ(msg(2), "zwei");
  EXPECT_EQ(refreshed, 1);
  EXPECT_EQ(other_refreshed, 1);
  EXPECT_STREQ(profile_string("general", "messages"), "german");
  msg_switch("GERMAN");  // the current set in another case: nothing happens
  EXPECT_EQ(refreshed, 1);
  msg_remove_refresh(count_other);
  msg_switch("french");
  // The default is reloaded first, so german's text 2 is gone.
  EXPECT_STREQ(msg(1), "un");
  EXPECT_STREQ(msg(2), "two");
  EXPECT_EQ(refreshed, 2);
  EXPECT_EQ(other_refreshed, 1);
  msg_switch("Default");
  EXPECT_STREQ(msg(1), "one");
  EXPECT_STREQ(msg_current(), "default");
}

TEST_F(Messages, ArgFormatsAndRotatesFiveBuffers) {
  set("default", "30 %s has %d items\n31 %5.1f%%\n32 %u %x %c\n");
  ASSERT_EQ(msg_load("default"), 1);
  EXPECT_STREQ(msg_arg(30, "Ann", 3), "Ann has 3 items");
  EXPECT_STREQ(msg_arg(31, 12.34), " 12.3%");
  EXPECT_STREQ(msg_arg(32, -1, 255u, 'A'), "4294967295 ff A");
  const char* first = msg_arg(30, "a", 1);
  const char* r[5];
  for (auto& p : r) p = msg_arg(30, "b", 2);
  EXPECT_NE(first, r[3]);
  EXPECT_EQ(first, r[4]);
}

TEST_F(Messages, UntrustedFormatsAreShownRawNeverRead) {
  set("default",
      "40 %s %s %s %s\n"
      "41 %n\n"
      "42 %*d\n"
      "43 %s\n"
      "44 %99999d\n"
      "45 100%\n");
  ASSERT_EQ(msg_load("default"), 1);
  EXPECT_STREQ(msg_arg(40, "one"), "%s %s %s %s");  // more conversions than arguments
  EXPECT_STREQ(msg_arg(41, 1), "%n");
  EXPECT_STREQ(msg_arg(42, 1, 2), "%*d");
  EXPECT_STREQ(msg_arg(43, 7), "%s");  // a number where a text was expected
  EXPECT_STREQ(msg_arg(44, 7), "%99999d");
  EXPECT_STREQ(msg_arg(45), "100%");
  EXPECT_STREQ(msg_arg(46, 1), "46");  // no text at all: its number
}

TEST_F(Messages, FormattedTextIsBoundedBy512) {
  set("default", "50 %s%s\n");
  ASSERT_EQ(msg_load("default"), 1);
  std::string big(400, 'q');
  const char* out = msg_arg(50, big.c_str(), big.c_str());
  EXPECT_EQ(std::strlen(out), 511u);
  char small[8];
  MsgArg a = msg_make_arg("abcdefghij");
  EXPECT_TRUE(msg_format(small, sizeof small, "<%s>", &a, 1));
  EXPECT_STREQ(small, "<abcdef");
}

TEST_F(Messages, NoteShowsTaskModalErrorBoxThroughHost) {
  set("default", "68 Failure\n");
  ASSERT_EQ(msg_load("default"), 1);
  HeadlessHost h;
  host_set(&h);
  h.script_answer(HOST_IDCANCEL);
  bool seen_showing = false;
  struct Probe : HeadlessHost {
    bool* seen;
    int message_box(const char* t, const char* c, unsigned f) override {
      *seen = note_showing();
      return HeadlessHost::message_box(t, c, f);
    }
  } probe;
  EXPECT_EQ(note("world %s is %d km away", "Alpha", 4), HOST_IDCANCEL);
  ASSERT_EQ(h.boxes().size(), 1u);
  EXPECT_EQ(h.boxes()[0].text, "world Alpha is 4 km away");
  EXPECT_EQ(h.boxes()[0].caption, "Failure");
  EXPECT_EQ(h.boxes()[0].flags, unsigned(HOST_MB_TASKMODAL | HOST_MB_ICONERROR));
  probe.seen = &seen_showing;
  host_set(&probe);
  EXPECT_EQ(note("%s %s", "only one"), HOST_IDOK);  // shown raw
  EXPECT_TRUE(seen_showing);
  EXPECT_FALSE(note_showing());
  EXPECT_EQ(probe.boxes()[0].text, "%s %s");
}

TEST(MessageFormat, ArgumentKindsMustFitTheirConversions) {
  char out[64];
  const unsigned char wire[] = "bytes";
  MsgArg s = msg_make_arg(wire);
  EXPECT_TRUE(msg_format(out, sizeof out, "[%s]", &s, 1));
  EXPECT_STREQ(out, "[bytes]");
  MsgArg d = msg_make_arg(2.5);
  EXPECT_FALSE(msg_format(out, sizeof out, "%d", &d, 1));  // a real number for %d: raw text
  EXPECT_STREQ(out, "%d");
  MsgArg big = msg_make_arg(static_cast<int64_t>(-5000000000LL));
  MsgArg two[2] = {big, msg_make_arg(7)};
  EXPECT_TRUE(msg_format(out, sizeof out, "%ld|%5d", two, 2));
  EXPECT_STREQ(out, "-5000000000|    7");
  MsgArg none = msg_make_arg(static_cast<const char*>(nullptr));
  EXPECT_TRUE(msg_format(out, sizeof out, "%s", &none, 1));
  EXPECT_STREQ(out, "(null)");
  EXPECT_FALSE(msg_format(out, sizeof out, nullptr, nullptr, 0));
  EXPECT_STREQ(out, "");
}

TEST(ShippedMessages, DefaultSetHasTheCoreTexts) {
  msg_reset();
  platform_set_program_dir(std::string(TESSEL_SOURCE_DIR) + "/data");
  ASSERT_EQ(msg_load("default"), 1);
  for (int n : {68, 144, 145}) EXPECT_STRNE(msg(n), "") << n;
  // Message 145 takes exactly one number.
  EXPECT_NE(std::string(msg_arg(145, 7)).find('7'), std::string::npos);
  EXPECT_EQ(std::string(msg_arg(145, 7)).find('%'), std::string::npos);
  msg_reset();
}

// The window title, the tourist and citizenship texts name the system by message 163: it is
// the system's name itself, as message 68 is.
TEST(ShippedMessages, TheSystemIsNamedByItsNameInTitlesAndAccountTexts) {
  msg_reset();
  platform_set_program_dir(std::string(TESSEL_SOURCE_DIR) + "/data");
  ASSERT_EQ(msg_load("default"), 1);
  EXPECT_STREQ(msg(163), msg(68));
  std::string title = msg_arg(46, msg(163), "demo", "1N 2W", "north");
  EXPECT_EQ(0u, title.rfind(std::string(msg(68)) + " - demo at ", 0)) << title;
  msg_reset();
}
