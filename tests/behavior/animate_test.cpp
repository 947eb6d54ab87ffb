#include <gtest/gtest.h>

#include <vector>

#include "tests/behavior/scene_env.h"

namespace behavior_test {
namespace {

using Animations = SceneTest;

TEST_F(Animations, FramesStepWithTheDelayAndTheEndIsAnnouncedOnce) {
  element* e = make("create animate me fire 3 3 100; adone name done");
  animation* a = element_animation(e);
  ASSERT_NE(a, nullptr);
  animation_set_loop(a, 0);
  std::vector<int> changed_at;  // in 16 ms frames: each image at the first frame due
  for (int ms = 16, shown = 0; ms <= 400; ms += 16) {
    frame_after(16);
    if (animation_current(a) != shown) changed_at.push_back(ms), shown = animation_current(a);
  }
  EXPECT_EQ(changed_at, (std::vector<int>{112, 208}));  // and stays on the last image
  EXPECT_EQ(animation_running(a), 0);
  EXPECT_EQ(name_of(e), "done");
  element_set_name(e, "again");
  frame_after(100);
  EXPECT_EQ(name_of(e), "again");  // raised once

  // Looping wraps without an end; a late frame catches up and only keeps time.
  element* l = make("create animate me fire 4 4 100; adone name done");
  animation* b = element_animation(l);
  frame_after(250);  // 100 and 200 passed: two steps
  EXPECT_EQ(animation_current(b), 2);
  frame_after(1000);  // ten more: 12 modulo 4
  EXPECT_EQ(animation_current(b), 0);
  EXPECT_EQ(name_of(l), "-");
  // Without looping a long catch-up stops at the end.
  element* c = make("create animate me fire 3 3 10; adone name done");
  animation_set_loop(element_animation(c), 0);
  frame_after(10000);
  EXPECT_EQ(animation_current(element_animation(c)), 2);
  EXPECT_EQ(name_of(c), "done");
  // Delay 0 advances every frame.
  animation* z = element_animation(make("create animate me fire 2 2 0"));
  frame_after(0);
  EXPECT_EQ(animation_current(z), 1);
  frame_after(0);
  EXPECT_EQ(animation_current(z), 0);
}

TEST_F(Animations, SetFrameAndStep) {
  animation* a = element_animation(make("create animate me fire 3 5 100 1 2 3 2 1"));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(animation_frames(a), 5);
  animation_set_frame(a, 0);
  EXPECT_EQ(animation_current(a), 0);
  animation_set_frame(a, 8);
  EXPECT_EQ(animation_current(a), 2);  // frame 3, counted from 1
  animation_set_frame(a, 1);
  animation_step(a, -6);
  EXPECT_EQ(animation_current(a), 4);
  animation_step(a, 7);
  EXPECT_EQ(animation_current(a), 1);
  animation_step(a, -2147483647 - 1);
  EXPECT_EQ(animation_current(a), 3);  // 1 - 2^31 is 3 modulo 5
  animation_step(nullptr, 1);
  animation_set_frame(nullptr, 1);
  animation_start(nullptr);
  animation_destroy(nullptr);
}

TEST_F(Animations, CommandsReachEveryNamedObjectOfTheOwner) {
  element* d1 = make("create name door, animate me door 3 3 100", 5);
  element* d2 = make("create name door, animate me door 3 3 100", 5);
  element* theirs = make("create name door, animate me door 3 3 100", 6);
  element* lever = make("activate frame door +1; bump frame door 3; adone astop door; foo astart off door", 5);
  animation* a1 = element_animation(d1);
  animation* a2 = element_animation(d2);
  animation* a3 = element_animation(theirs);
  ASSERT_TRUE(a1 && a2 && a3);
  ASSERT_EQ(behavior_trigger(lever, "activate"), 1);
  EXPECT_EQ(animation_current(a1), 1);
  EXPECT_EQ(animation_current(a2), 1);
  EXPECT_EQ(animation_current(a3), 0);
  ASSERT_EQ(behavior_trigger(lever, "bump"), 1);
  EXPECT_EQ(animation_current(a2), 2);
  ASSERT_EQ(behavior_trigger(lever, "adone"), 1);
  EXPECT_EQ(animation_running(a1), 0);
  EXPECT_EQ(animation_running(a2), 0);
  EXPECT_EQ(animation_running(a3), 1);
  // astart without looping runs once more to the end, its first step one delay from now.
  ASSERT_EQ(behavior_trigger(lever, "foo"), 1);
  animation_set_frame(a1, 1);
  frame_after(99);
  EXPECT_EQ(animation_current(a1), 0);
  frame_after(1);
  EXPECT_EQ(animation_current(a1), 1);
  frame_after(1000);
  EXPECT_EQ(animation_current(a1), 2);
  EXPECT_EQ(animation_running(a1), 0);
}

TEST_F(Animations, TagsChooseThePolygonsAndImagesAreReferenced) {
  // Each clump has four polygons tagged 0, 7, 7, 100, all showing a marker texture; a polygon
  // the animation shows (its image is not here yet) loses the marker.
  VxTexture* marker = VxCreateTexture(VxCreateRaster(4, 4));
  auto give_clump = [marker](element* e) {
    VxClump* clump = VxCreateClump(3, 4);
    for (int i = 0; i < 3; ++i) VxAddVertexToClump(clump, static_cast<float>(i), static_cast<float>(i % 2), 0);
    const int corners[3] = {1, 2, 3};
    for (int tag : {0, 7, 7, 100}) {
      VxPolygon* p = VxAddPolygonToClump(clump, 3, corners);
      VxSetPolygonTag(p, tag);
      VxSetPolygonTexture(p, marker);
    }
    model_instance* mi = element_model_instance(e);
    if (mi->clump) VxDestroyClump(mi->clump);
    mi->clump = clump;
    return clump;
  };
  auto marked = [marker](VxClump* clump) {
    std::vector<int> out;
    for (int i = 0; i < VxGetClumpNumPolygons(clump); ++i)
      out.push_back(VxGetPolygonTexture(VxGetClumpPolygon(clump, i)) == marker);
    return out;
  };
  element* all = make("");
  element* tagged = make("");
  VxClump* c_all = give_clump(all);
  VxClump* c_tagged = give_clump(tagged);
  ASSERT_NE(animation_create("fire", 3, 3, 100, 0, 1, nullptr, all), nullptr);
  ASSERT_NE(animation_create("glow", 2, 2, 100, 7, 0, nullptr, tagged), nullptr);
  EXPECT_EQ(marked(c_all), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(marked(c_tagged), (std::vector<int>{1, 0, 0, 1}));
  texture_record* glow1 = texture_download("GLOW1.jpg", nullptr, nullptr);
  EXPECT_EQ(texture_reference_count(glow1), 1);
  // A new animation replaces the old, whose images are let go.
  ASSERT_NE(animation_create("smoke", 2, 2, 50, 100, 0, nullptr, tagged), nullptr);
  EXPECT_EQ(marked(c_tagged), (std::vector<int>{1, 0, 0, 0}));
  EXPECT_EQ(texture_reference_count(glow1), 0);
  animation_update();
  element_destroy(all);
  EXPECT_EQ(texture_reference_count(texture_download("fire3", nullptr, nullptr)), 0);
  VxDestroyTexture(marker);
}

TEST_F(Animations, RefusedAnimations) {
  element* e = make("");
  const int out_of_range[2] = {0, 3};
  const int negative[2] = {0, -1};
  EXPECT_EQ(animation_create("fire", 100, 100, 10, 0, 1, nullptr, e), nullptr);
  EXPECT_NE(animation_create("fire", 99, 99, 10, 0, 1, nullptr, e), nullptr);
  EXPECT_EQ(animation_create("fire", 3, 4, 10, 0, 1, nullptr, e), nullptr);
  EXPECT_EQ(animation_create("fire", 3, 2, 10, 0, 1, out_of_range, e), nullptr);
  EXPECT_EQ(animation_create("fire", 3, 2, 10, 0, 1, negative, e), nullptr);
  EXPECT_EQ(animation_create("fire", 0, 0, 10, 0, 1, nullptr, e), nullptr);
  EXPECT_EQ(animation_create("fire", 3, 3, 10, 0, 1, nullptr, nullptr), nullptr);
  animation_preload("fire", 100, 100, nullptr, 1);
  animation_preload("fire", 3, 2, out_of_range, 1);
  element* bad = make("create animate me fire 3 2 100 1 4, name ran");  // image 4 of 3
  EXPECT_EQ(element_animation(bad), nullptr);
  EXPECT_EQ(name_of(bad), "ran");
}

TEST_F(Animations, AnObjectWithoutModelInstanceGetsNone) {
  // Nothing would ever destroy an animation the object cannot keep.
  model_term();
  element* bare = make("create animate me fire 2 2 10, name ran");
  ASSERT_EQ(model_init(), 1);
  ASSERT_EQ(element_model_instance(bare), nullptr);
  EXPECT_EQ(element_animation(bare), nullptr);
  EXPECT_EQ(name_of(bare), "ran");
  element_destroy(bare);
  frame_after(100);
  frame_after(100);
}

TEST_F(Animations, AnEndClauseMayReplaceItsOwnAnimation) {
  element* e = make("create animate me fire 2 2 10; adone animate me smoke 2 2 10, name swapped");
  animation* first = element_animation(e);
  ASSERT_NE(first, nullptr);
  animation_set_loop(first, 0);
  frame_after(10000);
  EXPECT_EQ(name_of(e), "swapped");
  animation* second = element_animation(e);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, first);
  frame_after(10);
  frame_after(10);
  EXPECT_EQ(animation_running(second), 1);
  for (int i = 0; i < 5; ++i) make("create animate me fire 3 3 10");
  while (element* old = element_first()) element_destroy(old);
  frame_after(100);
}

TEST(AngleDifference, ReducesIntoHalfCircles) {
  EXPECT_FLOAT_EQ(angle_difference(10, 350), 20);
  EXPECT_FLOAT_EQ(angle_difference(350, 10), -20);
  EXPECT_FLOAT_EQ(angle_difference(190, 0), -170);
  EXPECT_FLOAT_EQ(angle_difference(-190, 0), 170);
  EXPECT_FLOAT_EQ(angle_difference(720, 0), 0);
  EXPECT_FLOAT_EQ(angle_difference(180, 0), 180);
}

}  // namespace
}  // namespace behavior_test
