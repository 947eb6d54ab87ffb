// The registry reader: both file versions, the token errors, recovery and the flat lists.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "Zembrel/Pose/Anim/anim.h"
#include "Zembrel/Pose/Anim/registry.h"
#include "tests/support/test_util.h"

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reg = AnimRegistry::Get();
    ASSERT_NE(reg, nullptr);
    reg->Clear();
  }
  void TearDown() override { reg->Clear(); }
  bool read(const std::string& text) {
    std::istringstream in(text);
    return reg->Read(in, "avatars.dat");
  }
  std::string name(int i) { return reg->Entry(i)->Attribute(AnimName("name")).c_str(); }
  AnimRegistry* reg = nullptr;
};

const char* kV3 =
    "# animation registry version 0.3\n"
    "version 3\n"
    "avatar name = Andy geometry = andy.rwx\n"
    "  beginimp walk = andywalk wait = andywait endwait = andyend endimp\n"
    "  beginexp wave = andywave dance = andy-dance_2 endexp\n"
    "endavatar\n"
    "avatar\n name = Beth # a comment after a value\n beginimp endimp beginexp endexp\nendavatar\n";

TEST_F(RegistryTest, ReadsVersion3) {
  ASSERT_TRUE(read(kV3));
  ASSERT_EQ(reg->Count(), 2);
  const AvatarRecord* a = reg->Entry(0);
  EXPECT_STREQ(a->Attribute(AnimName("geometry")).c_str(), "andy.rwx");
  ASSERT_EQ(a->ImplicitSequences().size(), 3u);
  EXPECT_STREQ(a->ImplicitSequences()[2].c_str(), "andyend");
  ASSERT_EQ(a->ExplicitActions().size(), 2u);
  EXPECT_STREQ(a->ExplicitActions()[1].c_str(), "dance");
  EXPECT_STREQ(a->ExplicitSequences()[1].c_str(), "andy-dance_2");
  EXPECT_EQ(name(1), "Beth");
  EXPECT_TRUE(reg->Entry(1)->ExplicitActions().empty());
  EXPECT_EQ(reg->Entry(2), nullptr);
  EXPECT_EQ(reg->Entry(-1), nullptr);
  EXPECT_EQ(reg->Entry(250), nullptr);
  EXPECT_STREQ(reg->Entry(253)->Attribute(AnimName("name")).c_str(), "special3");
  EXPECT_STREQ(reg->Entry(255)->ImplicitSequences()[2].c_str(), "sp5end");
}

TEST_F(RegistryTest, ReadsVersion2WithDefaultFirst) {
  ASSERT_TRUE(read("# animation registry version 0.2\r\n"
                   "avatar cy geometry = other.rwx endavatar\n"
                   "avatar bob geometry = bob.rwx walk = bw wave = bwave colour = red endwait = be endavatar\n"));
  ASSERT_EQ(reg->Count(), 2);  // the cy block is dropped, the default cy stays first
  EXPECT_EQ(name(0), "cy");
  EXPECT_STREQ(reg->Entry(0)->Attribute(AnimName("geometry")).c_str(), "cy.vxx");
  const AvatarRecord* b = reg->Entry(1);
  EXPECT_EQ(name(1), "bob");
  ASSERT_EQ(b->ImplicitSequences().size(), 3u);
  EXPECT_STREQ(b->ImplicitSequences()[0].c_str(), "bw");
  EXPECT_STREQ(b->ImplicitSequences()[1].c_str(), "");  // no wait given
  EXPECT_STREQ(b->ImplicitSequences()[2].c_str(), "be");
  ASSERT_EQ(b->ExplicitActions().size(), 1u);
  EXPECT_STREQ(b->ExplicitActions()[0].c_str(), "wave");
  EXPECT_STREQ(b->ExplicitSequences()[0].c_str(), "bwave");
}

TEST_F(RegistryTest, BadBlocksAreSkippedLaterOnesLoad) {
  ASSERT_TRUE(read("# animation registry version 0.3\nversion 3\n"
                   "avatar name = = x endavatar\n"
                   "avatar name = one endavatar\n"
                   "avatar name endavatar\n"  // the error token is the end itself
                   "avatar name = two beginimp walk = 7 endimp endavatar\n"
                   "avatar name = three endavatar\n"));
  ASSERT_EQ(reg->Count(), 2);
  EXPECT_EQ(name(0), "one");
  EXPECT_EQ(name(1), "three");
}

TEST_F(RegistryTest, BlanksAfterTheCookieKeepEveryAvatar) {
  // Trailing blanks, a tab and a carriage return after the cookie, as editors leave them.
  std::string text = kV3;
  text.insert(text.find('\n'), "   \t \r");
  ASSERT_TRUE(read(text));
  EXPECT_EQ(reg->Count(), 2);
  EXPECT_EQ(name(1), "Beth");
  reg->Clear();
  ASSERT_TRUE(read("# animation registry version 0.2  \navatar bob geometry = bob.rwx endavatar\n"));
  EXPECT_EQ(name(1), "bob");
  reg->Clear();
  // Anything but blanks after it is another cookie.
  EXPECT_FALSE(read("# animation registry version 0.31\nversion 3\n"));
  EXPECT_FALSE(read("# animation registry version 0.3 x\nversion 3\n"));
  EXPECT_FALSE(read("# animation registry version 0.\nversion 3\n"));
  EXPECT_EQ(reg->Count(), 0);
}

TEST_F(RegistryTest, RefusesWrongCookiesAndTopLevelErrors) {
  EXPECT_FALSE(read(""));
  EXPECT_EQ(reg->Count(), 0);
  EXPECT_FALSE(read("# animation registry version 0.4\nversion 3\n"));
  EXPECT_FALSE(read("# Animation registry version 0.3\nversion 3\n"));
  EXPECT_FALSE(read("# animation registry version 0.3\nversion 4\n"));
  // A two-digit version is an identifier, not a value.
  EXPECT_FALSE(read("# animation registry version 0.3\nversion 12\n"));
  // Avatars read before a top-level error stay.
  EXPECT_FALSE(read("# animation registry version 0.3\nversion 3\navatar name = a endavatar\nendavatar\n"));
  EXPECT_EQ(reg->Count(), 1);
  reg->Clear();
  // An avatar block cut off by the end of the file is dropped, and the file still counts.
  EXPECT_TRUE(read("# animation registry version 0.3\nversion 3\navatar name = a endavatar avatar name = b"));
  EXPECT_EQ(reg->Count(), 1);
  reg->Clear();
  // Keywords are case-sensitive: "Avatar" is an identifier at the top level.
  EXPECT_FALSE(read("# animation registry version 0.3\nversion 3\nAvatar name = a endavatar\n"));
  EXPECT_EQ(reg->Count(), 0);
  // A longer word beginning with a keyword is an identifier: a valid attribute name.
  ASSERT_TRUE(read("# animation registry version 0.3\nversion 3\navatar avatarx = 1a name = z endavatar\n"));
  EXPECT_STREQ(reg->Entry(0)->Attribute(AnimName("avatarx")).c_str(), "1a");
}

TEST_F(RegistryTest, HugeIdentifiersAndBinaryJunkAreSafe) {
  std::string text = "# animation registry version 0.3\nversion 3\navatar name = ";
  text += std::string(5000, 'q');
  text += " endavatar\navatar name = \x01\xff\x80 endavatar\n";
  text += std::string("\0\0\0", 3);
  EXPECT_FALSE(read(text));  // the NUL bytes at the top level end the reading
  ASSERT_EQ(reg->Count(), 1);
  EXPECT_EQ(name(0).size(), 255u);
}

TEST_F(RegistryTest, FlatInterfaceListsNamesAndActions) {
  testutil::TempDir dir("anim_reg_");
  std::string path = dir.file("avatars.dat");
  testutil::write_file(path,
                       "# animation registry version 0.3\nversion 3\n"
                       "avatar geometry = g.rwx beginexp hi = s1 bow = s2 endexp endavatar\n"
                       "avatar name = B endavatar\n");
  AnimReset(dir.path().c_str());
  AnimLoadRegistry(path.c_str());
  int count = -1;
  char** names = AnimGetAvatarNames(&count);
  ASSERT_EQ(count, 2);
  EXPECT_STREQ(names[0], "");  // no "name" attribute
  EXPECT_STREQ(names[1], "B");
  AnimFreeAvatarNames(names, count);

  char buffer[16];
  EXPECT_EQ(AnimGetAvatarActions(0, &count, buffer, 7), 1);  // "hi\0bow\0" exactly
  EXPECT_EQ(count, 2);
  EXPECT_EQ(std::string(buffer, 7), std::string("hi\0bow\0", 7));
  EXPECT_EQ(AnimGetAvatarActions(0, &count, buffer, 6), 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(AnimGetAvatarActions(253, &count, buffer, sizeof buffer), 1);
  EXPECT_EQ(count, 1);
  EXPECT_STREQ(buffer, "act1");
  EXPECT_EQ(AnimGetAvatarActions(2, &count, buffer, sizeof buffer), 0);

  // A missing file leaves the registry empty; null gives the default avatar.
  AnimLoadRegistry(dir.file("missing.dat").c_str());
  AnimFreeAvatarNames(AnimGetAvatarNames(&count), count);
  EXPECT_EQ(count, 0);
  AnimLoadRegistry(nullptr);
  names = AnimGetAvatarNames(&count);
  ASSERT_EQ(count, 1);
  EXPECT_STREQ(names[0], "cy");
  AnimFreeAvatarNames(names, count);
  AnimReset(dir.path().c_str());
  EXPECT_EQ(AnimRegistry::Get()->Count(), 0);
}

// A world's list of 62,000 avatars: an avatar number reaches only the first 251, so only
// those are kept (and offered), with one line in the log; the special avatars stay theirs.
TEST_F(RegistryTest, AListLongerThanTheAvatarNumbersReachIsCutWithOneLogLine) {
  static std::vector<std::string>* lines = nullptr;
  std::vector<std::string> logged;
  lines = &logged;
  AnimCallbacks cb{};
  cb.log = [](const char* text) { lines->emplace_back(text); };
  AnimSetCallbacks(&cb);
  testutil::TempDir dir("anim_reg_");
  std::string path = dir.file("avatars.dat");
  std::string text = "# animation registry version 0.3\nversion 3\n";
  for (int i = 0; i < 62000; ++i)
    text += "avatar name = a" + std::to_string(i) + " geometry = a" + std::to_string(i) +
            ".rwx beginimp walk = w endimp beginexp wave = v endexp endavatar\n";
  testutil::write_file(path, text);
  AnimReset(dir.path().c_str());
  AnimLoadRegistry(path.c_str());
  int count = -1;
  char** names = AnimGetAvatarNames(&count);
  ASSERT_EQ(count, 251);
  EXPECT_STREQ(names[250], "a250");
  AnimFreeAvatarNames(names, count);
  EXPECT_STREQ(reg->Entry(251)->Attribute(AnimName("name")).c_str(), "special1");
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find(path), std::string::npos) << logged[0];
  EXPECT_NE(logged[0].find("251"), std::string::npos) << logged[0];
  // Exactly 251 in the file: nothing is left out, nothing is said.
  text = "# animation registry version 0.2\n";  // the default avatar comes first
  for (int i = 0; i < 250; ++i) text += "avatar b" + std::to_string(i) + " geometry = b.rwx endavatar\n";
  testutil::write_file(path, text);
  AnimLoadRegistry(path.c_str());
  EXPECT_EQ(reg->Count(), 251);
  EXPECT_EQ(logged.size(), 1u);
  AnimSetCallbacks(nullptr);
}

}  // namespace

namespace {

TEST(ChannelNamesTest, JointsAndNewNamesGetStableNumbers) {
  AnimReset("/nonexistent");
  int pelvis = AnimJointNameNumber(1);
  EXPECT_GE(pelvis, 3);  // 1 and 2 are the root channels
  for (int tag = 2; tag <= 30; ++tag) EXPECT_EQ(AnimJointNameNumber(tag), AnimJointNameNumber(tag - 1) + 1);
  EXPECT_EQ(AnimJointNameNumber(0), 0);
  EXPECT_EQ(AnimJointNameNumber(31), 0);
  EXPECT_EQ(AnimInternName("head"), AnimJointNameNumber(4));
  int fresh = AnimInternName("channel-names-test-a");
  EXPECT_GT(fresh, AnimJointNameNumber(30));
  EXPECT_EQ(AnimInternName("channel-names-test-b"), fresh + 1);
  EXPECT_EQ(AnimInternName("channel-names-test-a"), fresh);
  AnimReset("/elsewhere");  // a second reset leaves the table alone
  EXPECT_EQ(AnimJointNameNumber(1), pelvis);
  EXPECT_EQ(AnimInternName("channel-names-test-b"), fresh + 1);
  EXPECT_STREQ(anim_settings().sequence_path, "/elsewhere/seqs");
  EXPECT_STREQ(anim_settings().avatar_folder, "avatars");
}

}  // namespace
