// Matrices, rotations, decomposition and key resampling.
#include "Parser/matrix.h"
#include "engine/vxl21.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

namespace {

constexpr float kHalfPi = 1.5707963f;

TEST(Matrix, RotationAboutZ) {
  float m[12];
  float r[4] = {0, 0, 1, kHalfPi};
  AgRotateMatrix(m, r, AG_REPLACE);
  float p[3] = {1, 0, 0};
  AgTransformPoint(m, p);
  EXPECT_NEAR(p[0], 0, 1e-6);
  EXPECT_NEAR(p[1], 1, 1e-6);
  // A non-unit axis gives the same rotation.
  float r2[4] = {0, 0, 5, kHalfPi}, m2[12];
  AgRotateMatrix(m2, r2, AG_REPLACE);
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(m[i], m2[i], 1e-6);
}

TEST(Matrix, CombineModes) {
  float m[12], t[3] = {1, 0, 0}, s[3] = {2, 3, 4};
  AgIdentityMatrix(m);
  AgScaleMatrix(m, s, AG_REPLACE);
  AgTranslateMatrix(m, t, AG_POSTMULTIPLY);  // translation through the scale
  EXPECT_FLOAT_EQ(m[3], 2.0f);
  AgTranslateMatrix(m, t, AG_PREMULTIPLY);
  EXPECT_FLOAT_EQ(m[3], 3.0f);
  AgScaleMatrix(m, s, AG_PREMULTIPLY);  // rows, translation included
  EXPECT_FLOAT_EQ(m[3], 6.0f);
  EXPECT_FLOAT_EQ(m[5], 9.0f);
  float a[12], b[12];
  AgIdentityMatrix(a);
  AgTranslateMatrix(a, t, AG_REPLACE);
  float r[4] = {0, 0, 1, kHalfPi};
  AgRotateMatrix(b, r, AG_REPLACE);
  // Where a multiplied by b in the given mode takes the point (1, 0, 0).
  const auto moved = [&](int mode) {
    float ab[12];
    AgCopyMatrix(ab, a);
    AgMultiplyMatrix(ab, b, mode);
    std::array<float, 3> p{1, 0, 0};
    AgTransformPoint(ab, p.data());
    return p;
  };
  const auto p = moved(AG_POSTMULTIPLY);  // a x b: rotate, then translate
  EXPECT_NEAR(p[0], 1, 1e-6);
  EXPECT_NEAR(p[1], 1, 1e-6);
  const auto q = moved(AG_PREMULTIPLY);  // b x a: translate, then rotate
  EXPECT_NEAR(q[0], 0, 1e-6);
  EXPECT_NEAR(q[1], 2, 1e-6);
}

TEST(Matrix, RotatePreMultiplyTurnsTheTranslation) {
  float m[12], t[3] = {1, 0, 0}, r[4] = {0, 0, 1, kHalfPi};
  AgIdentityMatrix(m);
  AgTranslateMatrix(m, t, AG_REPLACE);
  AgRotateMatrix(m, r, AG_PREMULTIPLY);
  EXPECT_NEAR(m[3], 0, 1e-6);
  EXPECT_NEAR(m[7], 1, 1e-6);
  AgTranslateMatrix(m, t, AG_REPLACE);
  AgRotateMatrix(m, r, AG_POSTMULTIPLY);
  EXPECT_FLOAT_EQ(m[3], 1.0f);
}

TEST(Matrix, ToRotationRoundTrip) {
  float m[12], r[4] = {0, 1, 0, 1.0f}, out[4];
  AgRotateMatrix(m, r, AG_REPLACE);
  AgMatrixToRotation(m, out);
  EXPECT_NEAR(out[1], 1, 1e-5);
  EXPECT_NEAR(out[3], 1.0f, 1e-5);
  AgIdentityMatrix(m);
  AgMatrixToRotation(m, out);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(out[2], 0);
}

TEST(Matrix, DecomposeNegativeScale) {
  ASSERT_TRUE(VxInitialize(nullptr));
  float m[12], s[3] = {-2, 3, 4}, r[4] = {0, 0, 1, 0.5f}, t[3] = {7, 8, 9};
  AgIdentityMatrix(m);
  AgTranslateMatrix(m, t, AG_POSTMULTIPLY);
  AgRotateMatrix(m, r, AG_POSTMULTIPLY);
  AgScaleMatrix(m, s, AG_POSTMULTIPLY);
  float rot[4], scale[3], tr[3];
  AgDecomposeMatrix(m, rot, scale, tr);
  EXPECT_NEAR(scale[0], -2, 1e-5);
  EXPECT_NEAR(scale[1], 3, 1e-5);
  EXPECT_NEAR(scale[2], 4, 1e-5);
  EXPECT_FLOAT_EQ(tr[0], 7);
  EXPECT_FLOAT_EQ(tr[2], 9);
  EXPECT_NEAR(std::fabs(rot[2]), 1, 1e-4);
  EXPECT_NEAR(std::fabs(rot[3]), 0.5f, 1e-3);
  VxShutdown();
}

TEST(Matrix, EngineRoundTrip) {
  ASSERT_TRUE(VxInitialize(nullptr));
  float m[12], r[4] = {1, 1, 0, 0.7f}, t[3] = {1, 2, 3};
  AgIdentityMatrix(m);
  AgTranslateMatrix(m, t, AG_POSTMULTIPLY);
  AgRotateMatrix(m, r, AG_POSTMULTIPLY);
  VxMatrix* e = nullptr;
  ASSERT_EQ(AgMatrixToEngine(&e, m), 0);
  EXPECT_FLOAT_EQ(VxGetMatrixElement(e, 3, 1), 2.0f);
  EXPECT_FLOAT_EQ(VxGetMatrixElement(e, 0, 3), 0.0f);
  EXPECT_FLOAT_EQ(VxGetMatrixElement(e, 3, 3), 1.0f);
  float* back = nullptr;
  ASSERT_EQ(AgMatrixFromEngine(&back, e), 0);
  for (int i = 0; i < 12; ++i) EXPECT_FLOAT_EQ(back[i], m[i]);
  AgFreeMatrix(back);
  VxDestroyMatrix(e);
  VxShutdown();
}

TEST(Matrix, Predicates) {
  float r1[4] = {0, 1, 0, 0.0005f}, r2[4] = {0, 1, 0, -0.002f};
  EXPECT_EQ(AgRotationIsSet(r1), 0);
  EXPECT_EQ(AgRotationIsSet(r2), 1);
  float s1[3] = {1, 1.0000001f, 1}, s2[3] = {1, 1, 1.01f};
  EXPECT_EQ(AgScaleIsNotUnit(s1), 0);
  EXPECT_EQ(AgScaleIsNotUnit(s2), 1);
  float z[3] = {0, 0, 0}, nz[3] = {0, 0, -1};
  EXPECT_EQ(AgVectorIsNonZero(z), 0);
  EXPECT_EQ(AgVectorIsNonZero(nz), 1);
  float a[3] = {3, 0, 0}, b[3] = {0, 4, 0}, c[3];
  EXPECT_FLOAT_EQ(AgDistance(a, b), 5.0f);
  AgCross(c, a, b);
  EXPECT_FLOAT_EQ(c[2], 12.0f);
  AgNormalize(c);
  EXPECT_FLOAT_EQ(c[2], 1.0f);
  AgNormalize(z);  // no length: left alone
  EXPECT_EQ(z[0], 0);
  EXPECT_FLOAT_EQ(AgByteToUnit(255), 1.0f);
}

TEST(Resample, EdgesAndInterpolation) {
  const float src_keys[3] = {0, 1, 2};
  const float values[9] = {0, 0, 0, 10, 20, 30, 20, 40, 60};
  const float ref[5] = {-1, 0.5f, 1, 1.5f, 2};
  float out[15];
  ASSERT_EQ(AgResampleVec3(out, values, ref, src_keys, 5, 3), 0);
  EXPECT_FLOAT_EQ(out[0], 0);        // before the first key: the first value
  EXPECT_FLOAT_EQ(out[3 + 1], 10);   // half way to key 1
  EXPECT_FLOAT_EQ(out[6 + 2], 30);   // exactly key 1
  EXPECT_FLOAT_EQ(out[9 + 0], 15);
  EXPECT_FLOAT_EQ(out[12 + 2], 60);  // exactly the last key: the last value
  EXPECT_EQ(AgResampleVec3(nullptr, values, ref, src_keys, 5, 3), 1);
}

TEST(Resample, SingleKeyAndVec4AndMatrices) {
  const float one_key[1] = {0.5f};
  const float v4[4] = {1, 2, 3, 4};
  const float ref[2] = {0, 1};
  float out[8];
  ASSERT_EQ(AgResampleVec4(out, v4, ref, one_key, 2, 1), 0);
  EXPECT_FLOAT_EQ(out[3], 4);
  EXPECT_FLOAT_EQ(out[7], 4);
  float a[12], b[12], o0[12], o1[12];
  AgIdentityMatrix(a);
  AgIdentityMatrix(b);
  b[3] = 10;
  float* vals[2] = {a, b};
  float* outs[2] = {o0, o1};
  const float keys[2] = {0, 1};
  const float r2[2] = {0.25f, 3};
  ASSERT_EQ(AgResampleMatrices(outs, vals, r2, keys, 2, 2), 0);
  EXPECT_FLOAT_EQ(o0[3], 2.5f);
  EXPECT_FLOAT_EQ(o1[3], 10.0f);
}

}  // namespace
