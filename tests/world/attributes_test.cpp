// World attributes: the slot table with its defaults, loading and packing of blocks (also
// damaged ones), and their application to the other modules, without a network.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "client/core/zipcrypt.h"
#include "tests/world/world_test_util.h"

using namespace wtest;

namespace {

std::vector<uint8_t> pack() {
  int length = -1;
  uint8_t* p = attributes_pack(&length);
  if (!p) return {0xEE, static_cast<uint8_t>(length)};  // marks a refused pack
  std::vector<uint8_t> out(p, p + length);
  std::free(p);
  return out;
}

class AttributeSlots : public ::testing::Test {
 protected:
  void SetUp() override { attributes_clear(); }
  void TearDown() override { attributes_clear(); }
};

TEST_F(AttributeSlots, DefaultsAreTheBuiltInTexts) {
  EXPECT_STREQ("", attribute_get(0));
  EXPECT_STREQ("10080", attribute_get(5));
  EXPECT_STREQ("178", attribute_get(13));
  EXPECT_STREQ("1500", attribute_get(29));
  EXPECT_STREQ("N", attribute_get(30));
  EXPECT_STREQ("Y", attribute_get(33));
  EXPECT_EQ(5, attribute_length(5));
  EXPECT_EQ(nullptr, attribute_get(35));
  EXPECT_EQ(nullptr, attribute_get(-1));
  EXPECT_EQ(0, attribute_length(35));
  // Slot 3 names the service's object server, under "/tz".
  std::string path = attribute_get(3);
  EXPECT_EQ("/tz", path.substr(path.size() - 3));
}

TEST_F(AttributeSlots, AValueEqualToTheDefaultIsNotStoredNorSentBack) {
  EXPECT_EQ(nullptr, attribute_set(5, "10080", 5));
  EXPECT_FALSE(attribute_received(5));
  EXPECT_EQ(0u, pack().size());
  // Once a value was received, setting the default text is stored (and packed).
  ASSERT_NE(nullptr, attribute_set(5, "60", 2));
  ASSERT_NE(nullptr, attribute_set(5, "10080", 5));
  EXPECT_EQ((std::vector<uint8_t>{5, 5, '1', '0', '0', '8', '0'}), pack());
}

TEST_F(AttributeSlots, PackIsInSlotOrderAndLeavesOutTheSlotsNeverSentBack) {
  for (int slot : {30, 28, 27, 21, 19, 17, 16, 14}) ASSERT_NE(nullptr, attribute_set(slot, "Q", 1));
  ASSERT_NE(nullptr, attribute_set(20, "web", 3));
  ASSERT_NE(nullptr, attribute_set(0, "Hi", 2));
  ASSERT_NE(nullptr, attribute_set(34, "N", 1));
  EXPECT_EQ((std::vector<uint8_t>{0, 2, 'H', 'i', 20, 3, 'w', 'e', 'b', 34, 1, 'N'}), pack());
}

TEST_F(AttributeSlots, AValueLongerThan255BytesIsNeverPackedCut) {
  std::string long_text(300, 'x');
  ASSERT_NE(nullptr, attribute_set(25, long_text.data(), 300));
  EXPECT_EQ(300, attribute_length(25));
  int length = 7;
  EXPECT_EQ(nullptr, attributes_pack(&length));
  EXPECT_EQ(0, length);
  // 255 bytes still pack.
  ASSERT_NE(nullptr, attribute_set(25, long_text.data(), 255));
  std::vector<uint8_t> p = pack();
  ASSERT_EQ(257u, p.size());
  EXPECT_EQ(25, p[0]);
  EXPECT_EQ(255, p[1]);
}

TEST_F(AttributeSlots, LoadReadsEntriesAndSkipsUnknownSlots) {
  std::vector<uint8_t> b = {0, 4, 'D', 'e', 'm', 'o', 40, 1, 'Z', 31, 1, 'N', 0, 5, 'L', 'a', 't', 'e', 'r'};
  attributes_load(b.data(), static_cast<int>(b.size()));
  EXPECT_STREQ("Later", attribute_get(0));  // the later entry of a slot wins
  EXPECT_STREQ("N", attribute_get(31));
  EXPECT_EQ(0, attribute_length(40));
}

TEST_F(AttributeSlots, LoadFreesWhatWasThereAndAnEmptyBlockGivesDefaults) {
  ASSERT_NE(nullptr, attribute_set(31, "N", 1));
  attributes_load(nullptr, 0);
  EXPECT_STREQ("Y", attribute_get(31));
  EXPECT_FALSE(attribute_received(31));
}

TEST_F(AttributeSlots, AnEntryRunningPastTheBlockIsNotRead) {
  // The value of slot 25 claims 9 bytes and only 3 follow: bytes past the block are never read.
  std::vector<uint8_t> b = {0, 2, 'O', 'k', 25, 9, 'a', 'b', 'c'};
  auto* heap = static_cast<uint8_t*>(std::malloc(b.size()));
  std::memcpy(heap, b.data(), b.size());
  attributes_load(heap, static_cast<int>(b.size()));
  std::free(heap);
  EXPECT_STREQ("Ok", attribute_get(0));
  EXPECT_FALSE(attribute_received(25));
  // A lone slot byte at the end.
  std::vector<uint8_t> c = {31, 1, 'N', 0};
  heap = static_cast<uint8_t*>(std::malloc(c.size()));
  std::memcpy(heap, c.data(), c.size());
  attributes_load(heap, static_cast<int>(c.size()));
  std::free(heap);
  EXPECT_STREQ("N", attribute_get(31));
  EXPECT_FALSE(attribute_received(0));
}

TEST_F(AttributeSlots, LoadingRateGivesTheLoadFactor) {
  EXPECT_EQ(1, attributes_load_factor(1500));
  EXPECT_EQ(2, attributes_load_factor(1501));
  EXPECT_EQ(2, attributes_load_factor(2500));
  EXPECT_EQ(3, attributes_load_factor(2501));
}

TEST_F(AttributeSlots, NumbersReadLikeAtoi) {
  ASSERT_NE(nullptr, attribute_set(21, "17abc", 5));
  EXPECT_EQ(17, attribute_number(21));
  ASSERT_NE(nullptr, attribute_set(21, "x", 1));
  EXPECT_EQ(0, attribute_number(21));
  ASSERT_NE(nullptr, attribute_set(14, "Yes", 3));
  EXPECT_FALSE(attribute_yes(14));  // the whole text must be "Y"
}

// ---- application --------------------------------------------------------------------------

class AttributeApply : public WorldFixture {
 protected:
  void enter(const char* name) {
    world_connect(name);
    recorder.events.clear();
    recorder.pass_through.clear();
  }
  void receive(const std::vector<std::pair<int, std::string>>& pairs) {
    std::vector<uint8_t> b = block(pairs);
    world_entered(b.data(), static_cast<int>(b.size()), 0);
  }
};

TEST_F(AttributeApply, StepsRunInTheirOrder) {
  world_connect("alpha");
  std::vector<std::string> expected = {
      "reset_modules",         "backdrop_set ",        "camera_set_color 0 0 178", "ground_set ",
      "self_invalidate_title", "avatar_set_public_speaker 0", "menu_set_public_speaker 0", "web_navigate ",
      "worlds_mark_current alpha", "pass_through 1", "flying 1",
      "teleport_within 1",     "building 0",           "eject 0",                  "load_factor 1",
      "teleport_apply"};
  EXPECT_EQ(expected, recorder.events);
}

TEST_F(AttributeApply, RightsFlagLiftsTheRestrictions) {
  enter("alpha");
  receive({{31, "N"}});
  EXPECT_EQ(std::vector<int>{0}, recorder.pass_through);
  receive({{31, "N"}, {14, "Y"}});
  EXPECT_EQ((std::vector<int>{0, 1}), recorder.pass_through);
  EXPECT_TRUE(world_rights_flag());
  EXPECT_NE(-1, recorder.find("building 1"));
}

TEST_F(AttributeApply, EnteringAlwaysResetsTheSameWorldOnlyOnPathOrContentsChange) {
  enter("alpha");
  receive({{0, "A"}});
  EXPECT_EQ(0, recorder.count("reset_modules"));
  receive({{0, "B"}});
  EXPECT_EQ(0, recorder.count("reset_modules"));
  receive({{3, "other.example/tz"}});
  EXPECT_EQ(1, recorder.count("reset_modules"));
  receive({{3, "other.example/tz"}, {19, "2"}});
  EXPECT_EQ(2, recorder.count("reset_modules"));
  receive({{3, "other.example/tz"}, {19, "2"}});
  EXPECT_EQ(2, recorder.count("reset_modules"));
  world_connect("alpha");
  EXPECT_EQ(3, recorder.count("reset_modules"));
}

TEST_F(AttributeApply, ContentsChangeEmptiesTheCellCache) {
  enter("alpha");
  receive({{19, "1"}});
  ASSERT_EQ(1, cell_sector_set_sequence(0, 0, 77));
  EXPECT_EQ(77, cell_sector_sequence(0, 0));
  receive({{19, "1"}});
  EXPECT_EQ(77, cell_sector_sequence(0, 0));
  receive({{19, "2"}});
  EXPECT_EQ(0, cell_sector_sequence(0, 0));
  EXPECT_EQ(0, world_contents_changed());  // cleared once applied
}

TEST_F(AttributeApply, NoTeleportsPlacesTheUserAtTheOriginOnlyOnTheFirstApplication) {
  enter("alpha");
  receive({{33, "N"}});
  EXPECT_EQ(1, recorder.count("self_set_position"));
  EXPECT_EQ(1, recorder.count("teleport_within 0"));
  receive({{33, "N"}});
  EXPECT_EQ(1, recorder.count("self_set_position"));
  EXPECT_EQ(2, recorder.count("teleport_within 0"));
}

TEST_F(AttributeApply, TheServersBlockIsCachedForTheNextConnect) {
  enter("alpha");
  receive({{0, "Cached Title"}, {29, "3000"}});
  EXPECT_STREQ("Cached Title", world_title());
  world_reset_state();
  install_hooks(recorder);
  ASSERT_EQ(0, world_init());
  world_connect("ALPHA");
  EXPECT_STREQ("alpha", world_name());
  EXPECT_STREQ("Cached Title", world_title());
  EXPECT_NE(-1, recorder.find("load_factor 3"));
}

TEST_F(AttributeApply, WelcomeTextOrTitleGreetingIsShownOnceWhileUnchanged) {
  enter("alpha");
  receive({{0, "Alpha"}});
  ASSERT_FALSE(recorder.console.empty());
  EXPECT_EQ("3 m160: m162 Alpha Tester", recorder.console.back());
  size_t lines = recorder.console.size();
  receive({{0, "Alpha"}});
  EXPECT_EQ(lines, recorder.console.size());
  receive({{0, "Alpha"}, {25, "Be nice"}});
  EXPECT_EQ("3 m160: Be nice", recorder.console.back());
}

TEST_F(AttributeApply, RememberedAvatarAbove250CountsOnlyForPublicSpeakers) {
  enter("alpha");
  EXPECT_EQ(0, world_avatar());
  world_set_avatar(7);
  EXPECT_EQ(7, world_avatar());
  world_set_avatar(251);
  EXPECT_EQ(0, world_avatar());
  receive({{17, "Y"}});
  EXPECT_EQ(251, world_avatar());
  enter("beta");
  EXPECT_EQ(0, world_avatar());  // per world
}

TEST_F(AttributeApply, TheObjectPasswordArrivesEnciphered) {
  enter("alpha");
  uint8_t secret[] = {'o', 'p', 'e', 'n', 's', 'e', 's', 'a', 'm', 'e'};
  zipcrypt_encrypt(nullptr, 0, secret, sizeof secret);
  ASSERT_NE(0, std::memcmp(secret, "opensesame", sizeof secret));
  receive({{22, std::string(reinterpret_cast<char*>(secret), sizeof secret)}});
  EXPECT_STREQ("opensesame", object_password());
  receive({});
  EXPECT_STREQ("", object_password());
}

TEST_F(AttributeApply, AnObjectPasswordSetByTheUserGoesIntoTheAttributesEnciphered) {
  enter("alpha");
  object_password_set("opensesame", 10);
  ASSERT_EQ(10, attribute_length(ATTR_OBJECT_PASSWORD));
  uint8_t want[] = {'o', 'p', 'e', 'n', 's', 'e', 's', 'a', 'm', 'e'};
  zipcrypt_encrypt(nullptr, 0, want, sizeof want);
  EXPECT_EQ(0, std::memcmp(attribute_get(ATTR_OBJECT_PASSWORD), want, sizeof want));
  // The packed block carries it back to the world, and a length of 0 leaves it there.
  object_password_set("", 0);
  EXPECT_STREQ("", object_password());
  EXPECT_EQ(10, attribute_length(ATTR_OBJECT_PASSWORD));
  std::vector<uint8_t> b = pack();
  EXPECT_NE(b.end(), std::search(b.begin(), b.end(), want, want + sizeof want));
}

TEST_F(AttributeApply, StatusWindowToggleIsRemembered) {
  std::vector<std::pair<int, bool>> checks;
  static std::vector<std::pair<int, bool>>* seen;
  seen = &checks;
  world_hook.menu_check = [](int item, bool on) { seen->emplace_back(item, on); };
  enter("alpha");  // state 1: connecting
  world_status_toggle();  // shown at start (no [show] cache): now hidden
  EXPECT_EQ(0, profile_int("show", "cache"));
  world_status_toggle();
  EXPECT_EQ(1, profile_int("show", "cache"));
  EXPECT_EQ((std::vector<std::pair<int, bool>>{{133, false}, {133, true}}), checks);
  EXPECT_STREQ("m119", world_status_current());
}

TEST_F(AttributeApply, WithoutTheKeyedFileEngineTheWorldGoesOnUncached) {
  static int database_quits;
  database_quits = 0;
  world_reset_state();
  ASSERT_EQ(0, StopKeyedFileEngine());
  database_set_exits([] { ++database_quits; }, [](int) {});
  install_hooks(recorder);
  ASSERT_EQ(0, world_init());
  EXPECT_EQ(0, database_quits);  // no open was tried, so none failed
  EXPECT_EQ(0, world_avatar());
  world_set_avatar(3);
  EXPECT_EQ(0, world_avatar());
  database_set_exits([] {}, [](int) {});
}

TEST_F(AttributeApply, PropertyDirectoryIsMadePerWorld) {
  enter("alpha");
  EXPECT_EQ(dir + "/cache/property/alpha", std::string(world_property_path()));
  EXPECT_TRUE(std::filesystem::is_directory(world_property_path()));
}

TEST_F(AttributeApply, ErrorTexts) {
  EXPECT_STREQ("", world_error_text(0, "x"));
  EXPECT_STREQ("m146 x", world_error_text(27, "x"));
  EXPECT_STREQ("m89 x", world_error_text(207, "x"));
  EXPECT_STREQ("m200", world_error_text(214, "x"));
  EXPECT_STREQ("m212", world_error_text(215, "x"));
  EXPECT_STREQ("m55", world_error_text(433, "x"));
  EXPECT_STREQ("m95 3", world_error_text(3, "x"));
}

}  // namespace
