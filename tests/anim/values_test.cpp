// Value classes, rotations, times, names, shared handles and channel blending.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "Zembrel/Pose/Anim/seq.h"
#include "Zembrel/Pose/Anim/values.h"

namespace {

constexpr float kPi = 3.14159265358979f;

void expect_quat(const AnimQuat& q, float w, float x, float y, float z, float eps = 1e-5f) {
  EXPECT_NEAR(q.w, w, eps);
  EXPECT_NEAR(q.x, x, eps);
  EXPECT_NEAR(q.y, y, eps);
  EXPECT_NEAR(q.z, z, eps);
}

void expect_vec(const AnimVector& v, float x, float y, float z, float eps = 1e-5f) {
  EXPECT_NEAR(v.x, x, eps);
  EXPECT_NEAR(v.y, y, eps);
  EXPECT_NEAR(v.z, z, eps);
}

TEST(AnimQuatTest, KnownProductsAndRotations) {
  // i j = k, j i = -k.
  expect_quat(anim_product(AnimQuat(0, 1, 0, 0), AnimQuat(0, 0, 1, 0)), 0, 0, 0, 1);
  expect_quat(anim_product(AnimQuat(0, 0, 1, 0), AnimQuat(0, 1, 0, 0)), 0, 0, 0, -1);
  // A quarter turn about up takes forward (z) to x, and x to -z.
  AnimQuat q = AnimQuat::FromAxisAngle(AnimVector(0, 1, 0), kPi / 2);
  expect_quat(q, std::sqrt(0.5f), 0, std::sqrt(0.5f), 0);
  expect_vec(q.Rotate(AnimVector(0, 0, 1)), 1, 0, 0);
  expect_vec(q.Rotate(AnimVector(1, 0, 0)), 0, 0, -1);
  // The inverse undoes it, also for a quaternion that is not of unit length.
  AnimQuat big(2, 0, 2, 0);
  expect_vec(big.Inverse().Rotate(big.Rotate(AnimVector(0.3f, -2, 5))), 0.3f, -2, 5, 1e-4f);
  AnimVector list[2] = {AnimVector(0, 0, 1), AnimVector(0, 1, 0)};
  q.Rotate(list, 2);
  expect_vec(list[0], 1, 0, 0);
  expect_vec(list[1], 0, 1, 0);
}

TEST(AnimQuatTest, MatrixAgreesWithRotateInRowVectorForm) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-1, 1);
  for (int n = 0; n < 50; ++n) {
    AnimQuat q(u(rng), u(rng), u(rng), u(rng));
    AnimVector v(u(rng), u(rng), u(rng));
    float m[16];
    q.ToMatrix(m);  // s = 2 / |q|^2: the unnormalised quaternion gives the same rotation
    AnimVector r = q.Normalized().Rotate(v);
    AnimVector p(v.x * m[0] + v.y * m[4] + v.z * m[8], v.x * m[1] + v.y * m[5] + v.z * m[9],
                 v.x * m[2] + v.y * m[6] + v.z * m[10]);
    expect_vec(p, r.x, r.y, r.z, 1e-4f);
    EXPECT_EQ(m[3], 0);
    EXPECT_EQ(m[15], 1);
  }
}

TEST(AnimQuatTest, BlendAlignNearEqualAndMirror) {
  AnimQuat quarter = AnimQuat::FromAxisAngle(AnimVector(0, 1, 0), kPi / 2);
  // Halfway is the eighth turn (normalised linear blend of two rotations 90 degrees apart).
  expect_quat(anim_blend(AnimQuat(), quarter, 0.5f), std::cos(kPi / 8), 0, std::sin(kPi / 8), 0);
  expect_quat(anim_blend(AnimQuat(), quarter, 0), 1, 0, 0, 0);
  AnimQuat a(-1, 0, 0, 0);
  anim_align(a, AnimQuat());
  expect_quat(a, 1, 0, 0, 0);
  EXPECT_TRUE(anim_near_equal(AnimQuat(), AnimQuat::FromAxisAngle(AnimVector(0, 1, 0), 0.04f)));
  EXPECT_FALSE(anim_near_equal(AnimQuat(), AnimQuat::FromAxisAngle(AnimVector(0, 1, 0), 0.1f)));
  expect_quat(AnimQuat(0.1f, 0.2f, 0.3f, 0.4f).Mirrored(), 0.1f, -0.2f, -0.3f, 0.4f);
}

TEST(AnimQuatTest, NormaliseThresholds) {
  AnimQuat tiny(0.001f, 0.001f, 0.001f, 0.001f);  // squared norm 4e-6
  tiny.Normalize();
  expect_quat(tiny, 0.001f, 0.001f, 0.001f, 0.001f, 1e-9f);
  AnimQuat q(0, 3, 0, 4);
  q.Normalize();
  expect_quat(q, 0, 0.6f, 0, 0.8f);
  AnimVec3 small{0.000005f, 0, 0};
  EXPECT_NEAR(anim_normalize(small), 0.000005f, 1e-9f);
  EXPECT_EQ(small.x, 0.000005f);
  AnimVec3 v{0, 3, 4};
  EXPECT_FLOAT_EQ(anim_normalize(v), 5);
  EXPECT_FLOAT_EQ(v.y, 0.6f);
  expect_vec(AnimVector(0, 0, 0).Normalized(), 0, 0, 0);
}

TEST(AnimQuatTest, FromDirectionsTurnsOneIntoTheOther) {
  AnimVector f(0, 0, 1);
  for (AnimVector to : {AnimVector(1, 0, 0), AnimVector(0, 0, 1), AnimVector(0.6f, 0, 0.8f), AnimVector(0, 0, -1),
                        AnimVector(-0.6f, 0, -0.8f)}) {
    AnimQuat q = AnimQuat::FromDirections(f, to);
    expect_vec(q.Rotate(f), to.x, to.y, to.z, 1e-4f);
    EXPECT_NEAR(q.Dot(q), 1, 1e-4f);
  }
}

TEST(AnimTimeTest, ArithmeticAndOrder) {
  AnimTime d = AnimTime(5, 200) - AnimTime(3, 900);
  EXPECT_EQ(d.seconds, 1u);
  EXPECT_EQ(d.millis, 300u);
  AnimTime s = AnimTime(1, 700) + AnimTime(0, 600);
  EXPECT_EQ(s.seconds, 2u);
  EXPECT_EQ(s.millis, 300u);
  EXPECT_TRUE(AnimTime(1, 999) < AnimTime(2, 0));
  EXPECT_TRUE(AnimTime(2, 5) <= AnimTime(2, 5));
  EXPECT_FALSE(AnimTime(2, 6) <= AnimTime(2, 5));
  AnimTime f = AnimTime::FromSeconds(1.5f);
  EXPECT_EQ(f.seconds, 1u);
  EXPECT_EQ(f.millis, 500u);
  AnimTime m = AnimTime::FromMillis(123456);
  EXPECT_EQ(m.seconds, 123u);
  EXPECT_EQ(m.millis, 456u);
  EXPECT_DOUBLE_EQ(m.Seconds(), 123.456);
  // A step backwards in time is no step, not a wrap to 136 years.
  EXPECT_TRUE((AnimTime(3, 0) - AnimTime(5, 0)).IsZero());
  EXPECT_TRUE((AnimTime(3, 100) - AnimTime(3, 900)).IsZero());
}

TEST(AnimNameTest, CutCompareOrder) {
  std::string long_text(300, 'a');
  AnimName n(long_text.c_str());
  EXPECT_EQ(n.size(), 255u);
  EXPECT_EQ(AnimName("abcdef", 3), AnimName("abc"));
  EXPECT_NE(AnimName("abc"), AnimName("abd"));
  EXPECT_TRUE(AnimName("abc") < AnimName("abd"));
  EXPECT_TRUE(AnimName("z") < AnimName("\xe9"));  // unsigned bytes
  EXPECT_TRUE(AnimName(nullptr).empty());
}

struct Probe : RefObject {
  explicit Probe(int* gone) : gone_(gone) {}
  ~Probe() override { ++*gone_; }
  int* gone_;
};

TEST(RefHandleTest, SharedOwnership) {
  int gone = 0;
  {
    RefHandle<Probe> a(new Probe(&gone));
    EXPECT_EQ(a->RefCount(), 1);
    {
      RefHandle<Probe> b = a;
      EXPECT_EQ(a->RefCount(), 2);
      RefHandle<Probe> c(new Probe(&gone));
      c = b;  // the second probe goes
      EXPECT_EQ(gone, 1);
      EXPECT_EQ(a->RefCount(), 3);
    }
    EXPECT_EQ(a->RefCount(), 1);
    EXPECT_EQ(gone, 1);
    a = a;  // self-assignment keeps it
    EXPECT_EQ(a->RefCount(), 1);
  }
  EXPECT_EQ(gone, 2);
}

ChannelValue cv(int32_t id, int32_t type, float a, float b = 0, float c = 0, float d = 0) {
  ChannelValue v;
  v.id = id;
  v.type = type;
  v.value[0] = a;
  v.value[1] = b;
  v.value[2] = c;
  v.value[3] = d;
  return v;
}

TEST(ChannelBlendTest, InterpolateByType) {
  ChannelValue r = channel_interpolate(cv(5, 2, 0, 10, 20), cv(9, 2, 4, 20, 0), 0.25f);
  EXPECT_EQ(r.id, 5);  // A's id and type
  EXPECT_FLOAT_EQ(r.value[0], 1);
  EXPECT_FLOAT_EQ(r.value[1], 12.5f);
  EXPECT_FLOAT_EQ(r.value[2], 15);
  EXPECT_FLOAT_EQ(channel_interpolate(cv(5, 3, 2), cv(5, 3, 4), 0.5f).value[0], 3);
  EXPECT_FLOAT_EQ(channel_interpolate(cv(5, 0, 2), cv(5, 0, 4), 0.5f).value[0], 2);  // plain: never
  // Rotations take the shorter way: B = -identity is the same rotation as A.
  ChannelValue q = channel_interpolate(cv(5, 6, 1, 0, 0, 0), cv(5, 6, -1, 0, 0, 0), 0.5f);
  EXPECT_FLOAT_EQ(q.value[0], 1);
  ChannelValue bad = channel_interpolate(cv(5, 7, 1, 2, 3, 4), cv(5, 7, 1, 2, 3, 4), 0.5f);
  EXPECT_EQ(bad.id, 0);
  EXPECT_EQ(bad.type, 0);
  EXPECT_EQ(bad.value[0], 0);
  EXPECT_EQ(channel_neutral(cv(8, 5, 0.3f, 0.4f)).value[0], 1);
  EXPECT_EQ(channel_neutral(cv(8, 2, 0.3f, 0.4f)).value[1], 0);
}

TEST(ChannelBlendTest, MergePolicies) {
  float half = std::sqrt(0.5f);
  ChannelSetHandle a(new ChannelSet({cv(3, 6, half, 0, half, 0), cv(5, 3, 8)}));
  ChannelSetHandle b(new ChannelSet({cv(4, 6, half, half, 0, 0), cv(5, 3, 4)}));
  // Cross-fade at 0.5: id 3 only in A fades halfway to neutral, id 4 only in B halfway from it.
  ChannelSetHandle m = channel_merge(a, b, MergePolicy::CrossFade, 0.5f);
  ASSERT_EQ(m->values.size(), 3u);
  EXPECT_EQ(m->values[0].id, 3);
  EXPECT_EQ(m->values[1].id, 4);
  EXPECT_EQ(m->values[2].id, 5);
  expect_quat(m->values[0].Quat(), std::cos(kPi / 8), 0, std::sin(kPi / 8), 0);
  expect_quat(m->values[1].Quat(), std::cos(kPi / 8), std::sin(kPi / 8), 0, 0);
  EXPECT_FLOAT_EQ(m->values[2].value[0], 6);
  // Overlay keeps A-only channels untouched.
  ChannelSetHandle o = channel_merge(a, b, MergePolicy::Overlay, 0.5f);
  expect_quat(o->values[0].Quat(), half, 0, half, 0);
  // One side missing: the other set itself.
  EXPECT_EQ(channel_merge(ChannelSetHandle(), b, MergePolicy::CrossFade, 0.3f).get(), b.get());
  EXPECT_EQ(channel_merge(a, ChannelSetHandle(), MergePolicy::Overlay, 0.3f).get(), a.get());
  // An empty set cross-faded with B at weight 0 gives B's channels at their neutral values.
  ChannelSetHandle e = channel_merge(ChannelSetHandle(new ChannelSet()), b, MergePolicy::CrossFade, 0);
  ASSERT_EQ(e->values.size(), 2u);
  expect_quat(e->values[0].Quat(), 1, 0, 0, 0);
  EXPECT_EQ(e->values[1].value[0], 0);
}

TEST(SegmentTest, HermiteKnownAnswers) {
  // Straight along x with tangents equal to the chord: the cubic is the line itself.
  HermiteSegment h(AnimPoint(0, 0, 0), AnimVector(2, 0, 0), AnimPoint(2, 0, 0), AnimVector(2, 0, 0));
  EXPECT_NEAR(h.Value(0.5f).x, 1, 1e-6f);
  EXPECT_NEAR(h.Value(0.25f).x, 0.5f, 1e-6f);
  EXPECT_NEAR(h.Derivative(0.5f).x, 2, 1e-6f);
  EXPECT_NEAR(h.Length(), 2, 1e-6f);  // (2 + |12 - 2 - 2| + 2) / 6
  // Zero tangents: an ease-in-out curve, slope 1.5 x chord in the middle.
  HermiteSegment e(AnimPoint(0, 0, 0), AnimVector(0, 0, 0), AnimPoint(0, 0, 4), AnimVector(0, 0, 0));
  EXPECT_NEAR(e.Value(0.5f).z, 2, 1e-6f);
  EXPECT_NEAR(e.Derivative(0.5f).z, 6, 1e-6f);
  EXPECT_NEAR(e.Derivative(0).z, 0, 1e-6f);
  EXPECT_NEAR(e.Length(), 4, 1e-6f);
}

TEST(SegmentTest, LinearAlignsOrientations) {
  LinearSegment l(AnimPoint(1, 0, 1), AnimVector(3, 0, 4), AnimQuat(-1, 0, 0, 0),
                  AnimQuat::FromAxisAngle(AnimVector(0, 1, 0), kPi / 2));
  EXPECT_FLOAT_EQ(l.Position(0.5f).x, 2.5f);
  EXPECT_FLOAT_EQ(l.Position(0.5f).z, 3);
  EXPECT_FLOAT_EQ(l.Distance(0.5f), 2.5f);
  expect_quat(l.Orientation(0.5f), std::cos(kPi / 8), 0, std::sin(kPi / 8), 0);
}

TEST(AnimFatalTest, MissingStreamEndsTheProgram) {
  EXPECT_EXIT({ Sequence s(nullptr); }, ::testing::ExitedWithCode(123),
              "Fatal Error: assertion failed, file=Pose/Anim/Seq line=33");
}

}  // namespace
