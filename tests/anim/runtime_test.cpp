// The per-avatar runtime and the flat interface driving real engine clumps, stepped by the
// time stamps the caller passes (a fake clock).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "Parser/aglib.h"
#include "Zembrel/Pose/Anim/anim.h"
#include "Zembrel/Pose/Anim/animator.h"
#include "Zembrel/Pose/Anim/registry.h"
#include "Zembrel/Pose/Anim/seqcache.h"
#include "engine/vxl21.h"
#include "tests/anim/seq_writer.h"
#include "tests/support/test_util.h"

namespace {

using animtest::SeqWriter;

constexpr float kPi = 3.14159265358979f;

struct FakeModel {
  std::string folder, file;
  void* owner = nullptr;
  VxClump* clump = nullptr;
  bool has_bottom = true;
  float bottom = -0.5f;
  int refs = 1;
};
std::vector<FakeModel*> g_models;
VxClump* g_next_clump = nullptr;  // the clump the next referenced model shows

void* fake_reference(const char* folder, const char* file, void* owner) {
  if (std::string(file) == "missing.rwx") return nullptr;
  FakeModel* m = new FakeModel{folder, file, owner, g_next_clump};
  g_models.push_back(m);
  return m;
}
void fake_dereference(void* model) { static_cast<FakeModel*>(model)->refs--; }
int fake_bottom(void* model, float* bottom) {
  FakeModel* m = static_cast<FakeModel*>(model);
  if (!m->has_bottom) return 0;
  *bottom = m->bottom;
  return 1;
}
VxClump* fake_clump(void* model) { return static_cast<FakeModel*>(model)->clump; }

struct Body {
  VxClump* root;
  VxClump* pelvis;  // first child, tag 1, placed at the rest position
  VxClump* head;    // tag 4
  VxClump* rthip;   // tag 15
  VxClump* other;   // a part under a tag no joint has
};

Body make_body() {
  Body b;
  b.root = VxCreateClump(0, 0);
  b.pelvis = VxCreateClump(0, 0);
  b.head = VxCreateClump(0, 0);
  b.rthip = VxCreateClump(0, 0);
  b.other = VxCreateClump(0, 0);
  VxAddChildToClump(b.rthip, b.other);
  VxSetClumpTag(b.other, static_cast<int32_t>(0x0C00FFFF + 17 * 0x10000));  // a VRML eyelid
  VxAddChildToClump(b.root, b.pelvis);
  VxAddChildToClump(b.pelvis, b.head);
  VxAddChildToClump(b.pelvis, b.rthip);
  VxSetClumpTag(b.pelvis, 1);
  VxSetClumpTag(b.head, 4);
  VxSetClumpTag(b.rthip, 15);
  VxMatrix* m = VxCreateMatrix();
  VxTranslateMatrix(m, 0, 0.8f, 0.1f, VX_REPLACE);
  VxTransformClump(b.pelvis, m, VX_REPLACE);
  VxDestroyMatrix(m);
  return b;
}

void joint(VxClump* c, float out[16]) {
  VxMatrix* m = VxCreateMatrix();
  VxGetClumpJointMatrix(c, m);
  VxGetMatrixElements(m, out);
  VxDestroyMatrix(m);
}

void expect_joint(VxClump* c, const AnimQuat& q, float eps = 1e-4f) {
  float got[16], want[16];
  joint(c, got);
  q.Normalized().ToMatrix(want);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(got[i], want[i], eps) << "element " << i;
}

AnimPoint placement(VxClump* c) {
  VxMatrix* m = VxCreateMatrix();
  VxGetClumpMatrix(c, m);
  AnimPoint p(VxGetMatrixElement(m, 3, 0), VxGetMatrixElement(m, 3, 1), VxGetMatrixElement(m, 3, 2));
  VxDestroyMatrix(m);
  return p;
}

std::string rotation_seq(int16_t frames, const char* track, const std::vector<SeqWriter::Key>& keys) {
  SeqWriter w;
  w.header(frames, 1).named(track, 16, keys).i32(0);
  return w.bytes();
}

const AnimQuat kQuarterX = AnimQuat::FromAxisAngle(AnimVector(1, 0, 0), kPi / 2);
const AnimQuat kQuarterY = AnimQuat::FromAxisAngle(AnimVector(0, 1, 0), kPi / 2);
const AnimQuat kQuarterZ = AnimQuat::FromAxisAngle(AnimVector(0, 0, 1), kPi / 2);

class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(VxInitialize(nullptr));
    AnimCallbacks cb{};
    cb.model_reference = fake_reference;
    cb.model_dereference = fake_dereference;
    cb.model_get_bottom = fake_bottom;
    cb.model_clump = fake_clump;
    AnimSetCallbacks(&cb);
    AnimReset(dir.path().c_str());
    std::filesystem::create_directories(dir.file("seqs"));
    const AnimQuat& x = kQuarterX;
    testutil::write_file(dir.file("seqs/wk.seq"), rotation_seq(30, "head", {{0, {1, 0, 0, 0}}, {30, {x.w, x.x, x.y, x.z}}}));
    const AnimQuat& z = kQuarterZ;
    testutil::write_file(dir.file("seqs/wt.seq"), rotation_seq(15, "head", {{0, {z.w, z.x, z.y, z.z}}}));
    const AnimQuat& y = kQuarterY;
    testutil::write_file(dir.file("seqs/wv.seq"), rotation_seq(30, "rthip", {{0, {y.w, y.x, y.y, y.z}}}));
    testutil::write_file(dir.file("avatars.dat"),
                         "# animation registry version 0.3\nversion 3\n"
                         "avatar name = walker geometry = walker.rwx\n"
                         " beginimp walk = wk wait = wt endwait = we endimp beginexp wave = wv endexp endavatar\n"
                         "avatar name = noGeo endavatar\n"
                         "avatar name = gone geometry = missing.rwx endavatar\n");
    AnimLoadRegistry(dir.file("avatars.dat").c_str());
    body = make_body();
    g_next_clump = body.root;
  }
  void TearDown() override {
    for (FakeModel* m : g_models) delete m;
    g_models.clear();
    SequenceCache::Get()->Clear();
    AvatarTypeUsage::Get()->Clear();
    AnimRegistry::Get()->Clear();
    AnimSetCallbacks(nullptr);
    VxDestroyClump(body.root);
    VxShutdown();
  }
  // A walker standing still at the origin, shown at time 1000.
  AnimAvatar* standing_walker() {
    AnimAvatar* a = AnimCreateAvatar(&owner, 0, 1);
    AnimSetAvatarState(a, 0, 0, 0, 0, 1000, 0, 0, 0);
    AnimUpdateAvatar(a, 1000);
    return a;
  }
  testutil::TempDir dir{"anim_rt_"};
  Body body{};
  int owner = 0;
};

TEST_F(RuntimeTest, OwnAvatarIsPlacedAndTurned) {
  AnimAvatar* a = AnimCreateAvatar(&owner, 0, 1);
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(AnimSetAvatarState(a, 1, 2, 3, 90, 1000, 0, 0, 0), 1);
  ASSERT_EQ(g_models.size(), 1u);
  EXPECT_EQ(g_models[0]->folder, "avatars");
  EXPECT_EQ(g_models[0]->file, "walker.rwx");
  EXPECT_EQ(g_models[0]->owner, &owner);
  EXPECT_EQ(AnimGetAvatarModel(a), g_models[0]);
  // The type's sequences were requested from the cache and loaded from the local files.
  EXPECT_TRUE(SequenceCache::Get()->Find(AnimName("wk")));
  AnimUpdateAvatar(a, 1000);
  AnimPoint p = placement(body.root);
  EXPECT_FLOAT_EQ(p.x, 1);
  EXPECT_FLOAT_EQ(p.y, 2.5f);  // lifted by minus the model's bottom
  EXPECT_FLOAT_EQ(p.z, 3);
  expect_joint(body.root, kQuarterY);
  float m[16];
  joint(body.root, m);
  EXPECT_NEAR(m[2], -1, 1e-5f);  // row-vector form: x goes to -z
  expect_joint(body.head, AnimQuat());
  float x, y, z;
  AnimGetAvatarPosition(a, &x, &y, &z);
  EXPECT_FLOAT_EQ(z, 3);
  // The same type again does not reference the model again.
  AnimSetAvatarState(a, 1, 2, 4, 90, 1100, 0, 0, 0);
  EXPECT_EQ(g_models.size(), 1u);
  AnimDestroyAvatar(a);
  EXPECT_EQ(g_models[0]->refs, 0);
  AnimDestroyAvatar(nullptr);
}

TEST_F(RuntimeTest, WalkCrossFadesInAndPosesByDistance) {
  AnimAvatar* a = standing_walker();
  AnimSetAvatarState(a, 0, 0, 0.05f, 0, 1100, 0, 0, 0);  // moving: walk
  AnimUpdateAvatar(a, 1100);
  // 100 ms of the 250 ms fade; the walk stands at frame 15 (0.05 of a 0.1 cycle).
  AnimQuat mid = anim_blend(AnimQuat(), kQuarterX, 0.5f).Mirrored();
  expect_joint(body.head, anim_blend(AnimQuat(), mid, 0.4f));
  expect_joint(body.rthip, AnimQuat());
  AnimUpdateAvatar(a, 1400);  // fade over, no further distance
  expect_joint(body.head, mid);
  // The pelvis keeps its rest position: the walk has no root tracks.
  AnimPoint rest = placement(body.pelvis);
  EXPECT_FLOAT_EQ(rest.y, 0.8f);
  EXPECT_FLOAT_EQ(rest.z, 0.1f);
  AnimDestroyAvatar(a);
}

// The root tracks move the model's first part from its rest place by a tenth of their values:
// a walk (by distance) sideways and up but never forward, a wait (by time) also forward,
// its z turned as every z of a sequence is.
TEST_F(RuntimeTest, RootTracksPlaceThePelvisATenthOfTheirValueFromItsRest) {
  auto with_root = [](int16_t frames, std::vector<SeqWriter::Key> x, float y, float z) {
    SeqWriter w;
    w.header(frames, 1).named("head", 16, {{0, {1, 0, 0, 0}}}).i32(4);
    w.body(4, x).body(4, {{0, {y}}}).body(4, {{0, {z}}}).body(16, {{0, {1, 0, 0, 0}}});
    return w.bytes();
  };
  testutil::write_file(dir.file("seqs/wk.seq"), with_root(30, {{0, {0}}, {30, {3}}}, 1, 2));
  testutil::write_file(dir.file("seqs/wt.seq"), with_root(15, {{0, {1}}}, 2, 3));
  AnimAvatar* a = standing_walker();
  AnimSetAvatarState(a, 0, 0, 0.05f, 0, 1100, 0, 0, 0);  // walking
  AnimUpdateAvatar(a, 1100);
  AnimUpdateAvatar(a, 1400);  // the fade is over; the walk at frame 15, x halfway to 3
  AnimPoint p = placement(body.pelvis);
  EXPECT_NEAR(p.x, 0.15f, 1e-5f);
  EXPECT_NEAR(p.y, 0.9f, 1e-5f);
  EXPECT_NEAR(p.z, 0.1f, 1e-5f);
  // Ten seconds still: the wait.
  AnimSetAvatarState(a, 0, 0, 0.05f, 0, 11400, 0, 0, 0);
  AnimUpdateAvatar(a, 11400);
  AnimUpdateAvatar(a, 11700);
  p = placement(body.pelvis);
  EXPECT_NEAR(p.x, 0.1f, 1e-5f);
  EXPECT_NEAR(p.y, 1.0f, 1e-5f);
  EXPECT_NEAR(p.z, -0.2f, 1e-5f);
  AnimDestroyAvatar(a);
}

TEST_F(RuntimeTest, GestureOverlaysThenEnds) {
  AnimAvatar* a = standing_walker();
  AnimSetAvatarState(a, 0, 0, 0, 0, 1000, 0, 0, 1);
  VxMatrix* skew = VxCreateMatrix();
  VxRotateMatrix(skew, 1, 0, 0, 30, VX_REPLACE);
  VxTransformClumpJoint(body.other, skew, VX_REPLACE);
  VxDestroyMatrix(skew);
  AnimUpdateAvatar(a, 1500);  // the middle of the one-second gesture: full weight
  expect_joint(body.rthip, kQuarterY.Mirrored());
  // Parts without a joint's tag are left alone.
  expect_joint(body.other, AnimQuat::FromAxisAngle(AnimVector(1, 0, 0), kPi / 6));
  AnimUpdateAvatar(a, 1900);
  float w = 8 * 0.9f * 0.1f;
  expect_joint(body.rthip, anim_blend(AnimQuat(), kQuarterY.Mirrored(), w), 2e-3f);
  AnimUpdateAvatar(a, 2100);  // over: the joint is back at the identity
  expect_joint(body.rthip, AnimQuat());
  // A gesture past the end of the list plays nothing.
  AnimSetAvatarState(a, 0, 0, 0, 0, 2100, 0, 0, 2);
  AnimUpdateAvatar(a, 2600);
  expect_joint(body.rthip, AnimQuat());
  AnimDestroyAvatar(a);
}

// A VRML avatar: parts named after body parts, tagged by the parser with part numbers.
VxClump* vrml_body() {
  auto part = [](const char* name, const char* y, const std::string& inner) {
    return std::string("DEF ") + name + " Transform { translation 0 " + y + " 0 children [ Shape { geometry " +
           "IndexedFaceSet { coord Coordinate { point [ 0 0 0, 0.1 0 0, 0 0.1 0 ] } coordIndex [ 0 1 2 ] } } " +
           inner + " ] }\n";
  };
  std::string text = "#VRML V2.0 utf8\n" +
                     part("HumanoidRoot", "0",
                          part("sacroiliac", "0.9", part("r_hip", "-0.1", part("r_knee", "-0.4", "")) +
                                                       part("skullbase", "0.7", "") + part("lefteyelid", "0.8", "")));
  AgGeometryNode* tree = nullptr;
  AgInterpolatorData* interp = nullptr;
  if (AgLoadVrmlText(text.data(), text.size(), 3, &tree, &interp) != 0) return nullptr;
  delete interp;
  VxClump* c = tree->BuildClumps(nullptr, 0, 0);
  AgDeleteGeometryTree(tree);
  return c;
}

VxClump* vrml_part(VxClump* root, int part) {
  return VxFindTaggedClump(root, static_cast<int32_t>(0x0C00FFFF + part * 0x10000));
}

TEST_F(RuntimeTest, VrmlAvatarIsPosedThroughItsBodyParts) {
  VxClump* vrml = vrml_body();
  ASSERT_NE(vrml, nullptr);
  VxClump* hip = vrml_part(vrml, 6);  // r_hip: the rthip joint
  VxClump* knee = vrml_part(vrml, 7);
  VxClump* head = vrml_part(vrml, 16);
  VxClump* eyelid = vrml_part(vrml, 17);  // no joint names it
  ASSERT_TRUE(hip && knee && head && eyelid);
  VxMatrix* skew = VxCreateMatrix();
  VxRotateMatrix(skew, 1, 0, 0, 30, VX_REPLACE);
  VxTransformClumpJoint(eyelid, skew, VX_REPLACE);
  VxTransformClumpJoint(knee, skew, VX_REPLACE);
  VxDestroyMatrix(skew);
  g_next_clump = vrml;
  AnimAvatar* a = standing_walker();
  AnimSetAvatarState(a, 0, 0, 0.05f, 0, 1100, 0, 0, 1);  // walking, and the hip gesture
  AnimUpdateAvatar(a, 1400);
  AnimUpdateAvatar(a, 1500);
  // The walk's head track and the gesture's hip track reach the VRML parts.
  expect_joint(hip, kQuarterY.Mirrored(), 2e-3f);
  float m[16];
  joint(head, m);
  EXPECT_LT(m[5], 0.99f);  // turned about x by the walk
  // Joints without a track go back to the identity; parts of no joint keep their own.
  expect_joint(knee, AnimQuat());
  expect_joint(eyelid, AnimQuat::FromAxisAngle(AnimVector(1, 0, 0), kPi / 6));
  // A part carrying a joint's own tag wins over the VRML part.
  VxClump* own = VxCreateClump(0, 0);
  VxSetClumpTag(own, 15);
  VxAddChildToClump(vrml, own);
  AnimSetAvatarState(a, 0, 0, 0.05f, 0, 1500, 0, 0, 0);
  AnimUpdateAvatar(a, 2600);
  AnimSetAvatarState(a, 0, 0, 0.05f, 0, 2600, 0, 0, 1);
  AnimUpdateAvatar(a, 3100);
  expect_joint(own, kQuarterY.Mirrored(), 2e-3f);
  AnimDestroyAvatar(a);
  VxDestroyClump(vrml);
}

TEST_F(RuntimeTest, WaitsAfterTenSecondsStill) {
  AnimAvatar* a = standing_walker();
  AnimSetAvatarState(a, 0, 0, 0, 0, 10999, 0, 0, 0);
  AnimUpdateAvatar(a, 10999);
  expect_joint(body.head, AnimQuat());
  AnimSetAvatarState(a, 0, 0, 0, 0, 11000, 0, 0, 0);
  AnimUpdateAvatar(a, 11000);
  AnimUpdateAvatar(a, 11300);
  expect_joint(body.head, kQuarterZ.Mirrored());
  AnimDestroyAvatar(a);
}

TEST_F(RuntimeTest, AnimationsOffOnlyMoves) {
  AnimAvatar* a = AnimCreateAvatar(&owner, 0, 0);
  AnimSetAvatarState(a, 0, 0, 0, 0, 1000, 0, 0, 0);
  AnimSetAvatarState(a, 0, 0, 0.05f, 0, 1100, 0, 0, 1);
  AnimUpdateAvatar(a, 1100);
  AnimUpdateAvatar(a, 1500);
  expect_joint(body.head, AnimQuat());
  expect_joint(body.rthip, AnimQuat());
  EXPECT_FLOAT_EQ(placement(body.root).z, 0.05f);
  AnimDestroyAvatar(a);
}

TEST_F(RuntimeTest, OtherAvatarGlidesOneIntervalBehind) {
  AnimAvatar* a = AnimCreateAvatar(&owner, 1, 1);
  AnimSetAvatarState(a, 0, 0, 0, 0, 1000, 0, 0, 0);
  AnimSetAvatarState(a, 0, 0.2f, 1, 0, 2000, 0, 0, 0);  // one second later, 1 cell ahead
  float x, y, z;
  AnimUpdateAvatar(a, 2500);  // path from 1.0 s to 3.0 s: three quarters
  AnimGetAvatarPosition(a, &x, &y, &z);
  EXPECT_NEAR(z, 0.75f, 1e-5f);
  EXPECT_NEAR(y, 0.15f, 1e-5f);
  EXPECT_NEAR(x, 0, 1e-6f);
  expect_joint(body.root, AnimQuat());
  AnimUpdateAvatar(a, 3000);
  AnimGetAvatarPosition(a, &x, &y, &z);
  EXPECT_NEAR(z, 1, 1e-5f);
  AnimUpdateAvatar(a, 9000);
  AnimGetAvatarPosition(a, &x, &y, &z);
  EXPECT_NEAR(z, 1, 1e-5f);
  AnimDestroyAvatar(a);
}

TEST_F(RuntimeTest, ModelFallbacksAndLateLoading) {
  AnimAvatar* a = AnimCreateAvatar(&owner, 0, 1);
  g_next_clump = nullptr;  // the model is still loading
  ASSERT_EQ(AnimSetAvatarState(a, 0, 0, 0, 0, 1000, 1, 0, 0), 1);
  EXPECT_EQ(g_models.back()->file, "noGeo.vxx");
  g_models.back()->has_bottom = false;
  AnimUpdateAvatar(a, 1000);  // nothing to place yet
  g_models.back()->clump = body.root;
  g_models.back()->has_bottom = true;
  g_models.back()->bottom = -1;
  AnimUpdateAvatar(a, 1100);  // the model arrived: set up again
  EXPECT_FLOAT_EQ(placement(body.root).y, 1);
  EXPECT_FLOAT_EQ(placement(body.pelvis).y, 0.8f);
  // A model that cannot be referenced: 0, and the same type is not tried again.
  EXPECT_EQ(AnimSetAvatarState(a, 0, 0, 0, 0, 1200, 2, 0, 0), 0);
  EXPECT_EQ(g_models[0]->refs, 0);
  EXPECT_EQ(AnimGetAvatarModel(a), nullptr);
  size_t n = g_models.size();
  EXPECT_EQ(AnimSetAvatarState(a, 0, 0, 0, 0, 1300, 2, 0, 0), 1);
  EXPECT_EQ(g_models.size(), n);
  AnimUpdateAvatar(a, 1300);
  // An unknown type references an empty file name; the fake gives a model anyway.
  EXPECT_EQ(AnimSetAvatarState(a, 0, 0, 0, 0, 1400, 77, 0, 0), 1);
  EXPECT_EQ(g_models.back()->file, "");
  AnimDestroyAvatar(a);
}

TEST(MotionTrackerTest, StateTable) {
  MotionTracker t;
  AnimQuat still;
  AnimQuat turned = AnimQuat::FromAxisAngle(AnimVector(0, 1, 0), 0.5f);
  EXPECT_EQ(t.Update(AnimPoint(0, 0, 0), still, AnimTime(1, 0)), 1);
  EXPECT_EQ(t.Update(AnimPoint(0, 0, 0), still, AnimTime(10, 999)), 1);
  EXPECT_EQ(t.Update(AnimPoint(0, 0, 0), still, AnimTime(11, 0)), 4);   // 10 s still
  EXPECT_EQ(t.Update(AnimPoint(0, 0, 0), still, AnimTime(40, 999)), 4);
  EXPECT_EQ(t.Update(AnimPoint(0, 0, 0), still, AnimTime(41, 0)), 5);   // 30 s waiting
  EXPECT_EQ(t.Update(AnimPoint(0, 0, 0), still, AnimTime(51, 0)), 4);   // 10 s later
  EXPECT_EQ(t.Update(AnimPoint(0, 0, 0), turned, AnimTime(52, 0)), 2);
  EXPECT_EQ(t.Update(AnimPoint(0, 0, 0), still, AnimTime(53, 0)), 2);   // turning again
  EXPECT_EQ(t.Update(AnimPoint(0, 0, 0), still, AnimTime(54, 0)), 1);
  EXPECT_EQ(t.Update(AnimPoint(0, 0, 1), still, AnimTime(55, 0)), 3);
  EXPECT_EQ(t.Update(AnimPoint(0, 0, 2), turned, AnimTime(56, 0)), 3);
  EXPECT_EQ(t.Update(AnimPoint(0, 0, 2), turned, AnimTime(57, 0)), 4);  // stopped: wait at once
  EXPECT_EQ(t.Update(AnimPoint(0, 0, 2), still, AnimTime(58, 0)), 2);
  t.state = 9;
  EXPECT_EQ(t.Update(AnimPoint(0, 0, 2), still, AnimTime(59, 0)), 1);
}

TEST(AvatarAnimatorTest, TargetsAndIntervals) {
  AnimReset("/nonexistent");
  AvatarAnimator own(false, false);
  own.SetState(AnimPoint(1, 0, 0), AnimQuat(), 0, 0, AnimTime(25, 0));
  auto* d = own.Controller();
  EXPECT_EQ(d->ExtraTime().seconds, 10u);  // the first interval is capped at 10 s
  own.SetState(AnimPoint(2, 0, 0), AnimQuat(), 0, 0, AnimTime(25, 0));
  EXPECT_FLOAT_EQ(d->TargetPosition().x, 1);  // same time stamp: no new target
  own.SetState(AnimPoint(1, 0, 0), AnimQuat(), 0, 0, AnimTime(26, 0));
  EXPECT_FLOAT_EQ(d->TargetPosition().x, 1);  // same pose: no new target
  own.SetState(AnimPoint(4, 0, 0), AnimQuat(), 0, 0, AnimTime(26, 500));
  EXPECT_EQ(d->ExtraTime().seconds, 1u);
  EXPECT_EQ(d->ExtraTime().millis, 500u);
  EXPECT_FLOAT_EQ(d->TakeDistance(), 3);
  EXPECT_FLOAT_EQ(d->TakeDistance(), 0);
  EXPECT_FLOAT_EQ(d->StepLength(), 3);

  // Backwards: both facings point away from the move.
  AvatarAnimator other(true, false);
  other.SetState(AnimPoint(0, 0, 0), AnimQuat(), 0, 0, AnimTime(1, 0));
  other.SetState(AnimPoint(0, 0, -1), AnimQuat(), 0, 0, AnimTime(2, 0));
  other.Update(AnimTime(2, 0), nullptr, 0, nullptr, AnimPoint());
  EXPECT_EQ(other.Controller()->Direction(), 2);
  AnimQuat q = other.Controller()->CurrentOrientation();
  EXPECT_TRUE(anim_near_equal(q, AnimQuat())) << q.w << " " << q.y;
  EXPECT_NEAR(other.Controller()->CurrentPosition().z, -0.5f, 1e-5f);
  EXPECT_NEAR(other.Controller()->TakeDistance(), other.Controller()->StepLength() * 0.5f, 1e-5f);

  // A report stamped earlier than the last one has no time left: the avatar goes straight
  // to it rather than freezing or computing with a wrapped interval.
  AvatarAnimator late(true, false);
  late.SetState(AnimPoint(0, 0, 0), AnimQuat(), 0, 0, AnimTime(5, 0));
  late.SetState(AnimPoint(0, 0, 2), AnimQuat(), 0, 0, AnimTime(3, 0));
  late.Update(AnimTime(6, 0), nullptr, 0, nullptr, AnimPoint());
  EXPECT_FLOAT_EQ(late.Controller()->CurrentPosition().z, 2);
}

}  // namespace
