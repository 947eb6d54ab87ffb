// Elements: texts kept with their lengths, placement of the clump, the name search, the
// visible mark, duplicates and owner confirmation.
#include "client/core/random.h"
#include "tests/visible/visible_env.h"

using namespace vtest;

namespace {

class ElementTest : public SceneFixture {};

element* make(int32_t number, double x, double z, const char* name = nullptr, int32_t owner = 7) {
  element* e = element_create(x, 0.25, z, 0.0f, 7, "box.rwx", 0, "", 0, "", number, owner, 100);
  if (e && name) element_set_name(e, name);
  return e;
}

TEST_F(ElementTest, TextsAreCutToTheirLengthsAndEachEndsWithItsNul) {
  const char source[] = "wall.rwxDESCRIPTIONact";
  element* e = element_create(1.5, 0, 2.5, 0.0f, 8, source, 11, source + 8, 3, source + 19, 5, 7, 100);
  ASSERT_NE(nullptr, e);
  EXPECT_STREQ("wall.rwx", element_model(e));
  EXPECT_EQ(8, element_model_length(e));
  EXPECT_STREQ("DESCRIPTION", element_description(e));
  EXPECT_STREQ("act", element_action(e));
  EXPECT_EQ(3, element_action_length(e));
  // An empty model name still has its terminator; a negative length counts as none.
  element* f = element_create(0, 0, 0, 0.0f, 0, "ignored", -4, "x", 2, "go", 6, 7, 100);
  ASSERT_NE(nullptr, f);
  EXPECT_STREQ("", element_model(f));
  EXPECT_EQ(0, element_description_length(f));
  EXPECT_STREQ("", element_description(f));
  EXPECT_STREQ("go", element_action(f));
}

TEST_F(ElementTest, TheClumpIsPlacedAtThePosition) {
  element* e = make(1, 3.25, -4.5);
  ASSERT_NE(nullptr, element_clump(e));
  VxMatrix* m = VxCreateMatrix();
  ASSERT_TRUE(VxGetClumpMatrix(element_clump(e), m));
  EXPECT_NEAR(3.25, VxGetMatrixElement(m, 3, 0), 1e-5);
  EXPECT_NEAR(0.25, VxGetMatrixElement(m, 3, 1), 1e-5);
  EXPECT_NEAR(-4.5, VxGetMatrixElement(m, 3, 2), 1e-5);
  VxDestroyMatrix(m);
}

TEST_F(ElementTest, SearchIgnoresCaseButNotTheOwnerAndRestartsNewestFirst) {
  element* a = make(1, 0.5, 0.5, "door");
  make(2, 0.5, 0.5, "DOOR", 8);
  element* c = make(3, 0.5, 0.5, "Door");
  make(4, 0.5, 0.5, "window");
  element_start_search("Door", 7);
  EXPECT_EQ(c, element_next_match());
  EXPECT_EQ(a, element_next_match());
  EXPECT_EQ(nullptr, element_next_match());
  element_start_search("dOOR", 7);
  EXPECT_EQ(c, element_next_match());
}

TEST_F(ElementTest, DestroyingTheElementAtTheSearchPositionKeepsTheSearchSafe) {
  element* a = make(1, 0.5, 0.5, "lamp");
  element* b = make(2, 0.5, 0.5, "lamp");
  element_start_search("lamp", 7);
  element_destroy(b);  // the head, where the search stands
  EXPECT_EQ(a, element_next_match());
  EXPECT_EQ(nullptr, element_next_match());
}

TEST_F(ElementTest, SettingTheVisibleMarkToItsValueLeavesTheScene) {
  element* e = make(1, 0.5, 0.5);
  VxClump* clump = element_clump(e);
  ASSERT_NE(nullptr, clump);
  VxSetClumpState(clump, VX_STATE_OFF);
  element_set_visible(e, 1);  // already 1: nothing happens
  EXPECT_EQ(VX_STATE_OFF, VxGetClumpState(clump));
  VxSetClumpState(clump, VX_STATE_ON);
  element_set_visible(e, 0);
  EXPECT_EQ(0, element_visible(e));
  EXPECT_EQ(VX_STATE_OFF, VxGetClumpState(clump));
  VxSetClumpState(clump, VX_STATE_ON);
  element_set_visible(e, 0);
  EXPECT_EQ(VX_STATE_ON, VxGetClumpState(clump));
  VxSetClumpState(clump, VX_STATE_OFF);
  visible_reveal_hidden();
  element_set_visible(e, 1);
  EXPECT_EQ(VX_STATE_OFF, VxGetClumpState(clump));  // reveal mode leaves the model alone
}

TEST_F(ElementTest, DuplicatesGetAFreshNumberTheUserAsOwnerAndNoBuildTime) {
  element* e = element_create(1.5, 0, 2.5, 45.0f, 7, "box.rwx", 1, "d", 0, "", 77, 9, 1234);
  element_set_name(e, "named");
  prop_set_old(1);
  random_reset();
  random_seed(5);
  uint32_t first = random_next();
  random_reset();
  random_seed(5);
  EXPECT_EQ(static_cast<int32_t>(first % 223 + 32), element_number(element_duplicate(e)));
  for (int i = 0; i < 40; ++i) {
    element* d = element_duplicate(e);
    ASSERT_NE(nullptr, d);
    EXPECT_GE(element_number(d), 32);
    EXPECT_LE(element_number(d), 254);
    EXPECT_EQ(101, element_owner(d));
    EXPECT_EQ(0, element_build_time(d));
    EXPECT_EQ(nullptr, element_name(d));
    EXPECT_STREQ("box.rwx", element_model(d));
    EXPECT_NE(element_model_instance(e), element_model_instance(d));
  }
  prop_set_old(0);
  random_reset();
  random_seed(6);
  uint32_t expect = random_next();
  random_reset();
  random_seed(6);
  EXPECT_EQ(static_cast<int32_t>(expect), element_number(element_duplicate(e)));
}

TEST_F(ElementTest, OwnerConfirmationFindsTheElementInThatCellOnly) {
  element* here = make(5, 2.5, 3.5);
  element* there = make(5, -0.5, 3.5);
  element_set_owner(-1, 3, 5, 42, 9999);
  EXPECT_EQ(42, element_owner(there));
  EXPECT_EQ(9999, element_build_time(there));
  EXPECT_EQ(7, element_owner(here));
}

}  // namespace
