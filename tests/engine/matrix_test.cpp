#include "tests/engine/engine_fixture.h"

#include <cmath>
#include <cstdint>

namespace {

using MatrixTest = EngineTest;

void expect_point(VxMatrix* m, VxVector in, VxVector want) {
  VxVector out;
  ASSERT_TRUE(VxTransformPoint(m, &in, &out));
  EXPECT_NEAR(out.x, want.x, 1e-5);
  EXPECT_NEAR(out.y, want.y, 1e-5);
  EXPECT_NEAR(out.z, want.z, 1e-5);
}

TEST_F(MatrixTest, PositiveYawTurnsNorthTowardWest) {
  VxMatrix* m = VxScratchMatrix();
  ASSERT_TRUE(VxRotateMatrix(m, 0, 1, 0, 90, VX_REPLACE));
  ASSERT_NO_FATAL_FAILURE(expect_point(m, {0, 0, 1}, {1, 0, 0}));
  ASSERT_NO_FATAL_FAILURE(expect_point(m, {1, 0, 0}, {0, 0, -1}));
}

TEST_F(MatrixTest, TranslationLivesInRowThree) {
  VxMatrix* m = VxScratchMatrix();
  ASSERT_TRUE(VxTranslateMatrix(m, 2, 3, 4, VX_REPLACE));
  EXPECT_FLOAT_EQ(VxGetMatrixElement(m, 3, 0), 2);
  EXPECT_FLOAT_EQ(VxGetMatrixElement(m, 3, 1), 3);
  EXPECT_FLOAT_EQ(VxGetMatrixElement(m, 3, 2), 4);
  EXPECT_FLOAT_EQ(VxGetMatrixElement(m, 0, 3), 0);
  ASSERT_NO_FATAL_FAILURE(expect_point(m, {1, 1, 1}, {3, 4, 5}));
}

// Rotate 90 about y, then translate (10, 0, 0) after it: (0,0,1) -> (1,0,0) -> (11,0,0).
TEST_F(MatrixTest, PostconcatAppliesAfterExisting) {
  VxMatrix* m = VxScratchMatrix();
  VxRotateMatrix(m, 0, 1, 0, 90, VX_REPLACE);
  ASSERT_TRUE(VxTranslateMatrix(m, 10, 0, 0, VX_POSTCONCAT));
  ASSERT_NO_FATAL_FAILURE(expect_point(m, {0, 0, 1}, {11, 0, 0}));
}

// The translation first, then the existing rotation: (0,0,1)+(10,0,0) -> (10,0,1) -> (1,0,-10).
TEST_F(MatrixTest, PreconcatAppliesBeforeExisting) {
  VxMatrix* m = VxScratchMatrix();
  VxRotateMatrix(m, 0, 1, 0, 90, VX_REPLACE);
  ASSERT_TRUE(VxTranslateMatrix(m, 10, 0, 0, VX_PRECONCAT));
  ASSERT_NO_FATAL_FAILURE(expect_point(m, {0, 0, 1}, {1, 0, -10}));
}

TEST_F(MatrixTest, ReplaceDropsEarlierTransform) {
  VxMatrix* m = VxScratchMatrix();
  VxTranslateMatrix(m, 5, 5, 5, VX_REPLACE);
  ASSERT_TRUE(VxScaleMatrix(m, 2, 3, 4, VX_REPLACE));
  ASSERT_NO_FATAL_FAILURE(expect_point(m, {1, 1, 1}, {2, 3, 4}));
}

TEST_F(MatrixTest, ScaleModesDifferOnTranslatedMatrix) {
  VxMatrix* a = VxCreateMatrix();
  VxMatrix* b = VxCreateMatrix();
  VxTranslateMatrix(a, 1, 0, 0, VX_REPLACE);
  VxTranslateMatrix(b, 1, 0, 0, VX_REPLACE);
  VxScaleMatrix(a, 2, 2, 2, VX_PRECONCAT);   // scale, then move: (1,0,0) -> (3,0,0)
  VxScaleMatrix(b, 2, 2, 2, VX_POSTCONCAT);  // move, then scale: (1,0,0) -> (4,0,0)
  ASSERT_NO_FATAL_FAILURE(expect_point(a, {1, 0, 0}, {3, 0, 0}));
  ASSERT_NO_FATAL_FAILURE(expect_point(b, {1, 0, 0}, {4, 0, 0}));
}

TEST_F(MatrixTest, BadModeAndBadAxisFail) {
  VxMatrix* m = VxScratchMatrix();
  EXPECT_FALSE(VxTranslateMatrix(m, 1, 1, 1, 4));
  EXPECT_EQ(VxGetError(), VX_E_BAD_ARGUMENT);
  EXPECT_FALSE(VxRotateMatrix(m, 0, 0, 0, 30, VX_REPLACE));
  EXPECT_FALSE(VxSetMatrixElement(m, 4, 0, 1));
}

TEST_F(MatrixTest, RotationExtractedFromMatrix) {
  VxMatrix* m = VxCreateMatrix();
  VxRotateMatrix(m, 1, 2, 2, 70, VX_REPLACE);
  VxTranslateMatrix(m, 3, 4, 5, VX_POSTCONCAT);
  VxVector axis;
  VxReal angle;
  ASSERT_TRUE(VxGetMatrixRotation(m, &axis, &angle));
  EXPECT_NEAR(angle, 70, 1e-3);
  EXPECT_NEAR(axis.x, 1 / 3.0, 1e-4);
  EXPECT_NEAR(axis.y, 2 / 3.0, 1e-4);
  EXPECT_NEAR(axis.z, 2 / 3.0, 1e-4);
  VxRotateMatrix(m, 0, 0, -1, 180, VX_REPLACE);
  ASSERT_TRUE(VxGetMatrixRotation(m, &axis, &angle));
  EXPECT_NEAR(angle, 180, 1e-3);
  EXPECT_NEAR(std::fabs(axis.z), 1, 1e-4);
}

TEST_F(MatrixTest, ScratchStackRestores) {
  VxMatrix* s = VxScratchMatrix();
  VxTranslateMatrix(s, 1, 2, 3, VX_REPLACE);
  VxMatrix* pushed = VxPushScratchMatrix();
  EXPECT_EQ(pushed, s);
  VxScaleMatrix(pushed, 9, 9, 9, VX_REPLACE);
  ASSERT_TRUE(VxPopScratchMatrix());
  EXPECT_FLOAT_EQ(VxGetMatrixElement(s, 3, 1), 2);
  EXPECT_FLOAT_EQ(VxGetMatrixElement(s, 0, 0), 1);
  EXPECT_FALSE(VxPopScratchMatrix());
}

TEST_F(MatrixTest, ElementsRoundTripRowByRow) {
  VxReal in[16], out[16];
  for (int i = 0; i < 16; ++i) in[i] = (VxReal)i;
  VxMatrix* m = VxCreateMatrix();
  VxMatrix* c = VxCreateMatrix();
  ASSERT_TRUE(VxSetMatrixElements(m, in));
  EXPECT_FLOAT_EQ(VxGetMatrixElement(m, 1, 2), 6);
  ASSERT_TRUE(VxCopyMatrix(m, c));
  ASSERT_TRUE(VxGetMatrixElements(c, out));
  for (int i = 0; i < 16; ++i) EXPECT_FLOAT_EQ(out[i], in[i]);
  EXPECT_TRUE(VxDestroyMatrix(m));
  EXPECT_FALSE(VxDestroyMatrix(VxScratchMatrix()));
}

TEST_F(MatrixTest, NormalizeRejectsZero) {
  VxVector v{3, 0, 4};
  ASSERT_TRUE(VxNormalizeVector(&v));
  EXPECT_NEAR(v.x, 0.6, 1e-6);
  VxVector z{0, 0, 0};
  EXPECT_FALSE(VxNormalizeVector(&z));
}

// Frames are drawn through these products, so each element must be the same value on every
// path: the four terms summed in double from +0 in order, rounded to float once.
TEST_F(MatrixTest, ProductsSumEachElementInDoubleAndRoundOnce) {
  VxMatrix* a = VxCreateMatrix();
  VxMatrix* b = VxCreateMatrix();
  VxReal ea[16], eb[16];
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return ((VxReal)(seed >> 8) / (1 << 24) - 0.5f) * std::ldexp(1.0f, (int)(seed % 40) - 20);
  };
  for (int round = 0; round < 50; ++round) {
    for (int i = 0; i < 16; ++i) ea[i] = next(), eb[i] = next();
    ASSERT_TRUE(VxSetMatrixElements(a, ea));
    ASSERT_TRUE(VxSetMatrixElements(b, eb));
    ASSERT_TRUE(VxTransformMatrix(a, b, VX_POSTCONCAT));
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) {
        double sum = 0;
        for (int k = 0; k < 4; ++k) sum += (double)ea[i * 4 + k] * eb[k * 4 + j];
        const VxReal got = VxGetMatrixElement(a, i, j);
        EXPECT_EQ((VxReal)sum, got) << "round " << round << " element " << i << "," << j;
      }
  }
  // Cancellation a float sum would lose, and products of zeros that must not leave a -0.
  const VxReal rows[16] = {1e8f, 1, -1e8f, 0, -1, -0.0f, -0.0f, -0.0f, 0, 0, 1, 0, 0, 0, 0, 1};
  const VxReal cols[16] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 1};
  ASSERT_TRUE(VxSetMatrixElements(a, rows));
  ASSERT_TRUE(VxSetMatrixElements(b, cols));
  ASSERT_TRUE(VxTransformMatrix(a, b, VX_POSTCONCAT));
  EXPECT_EQ(VxGetMatrixElement(a, 0, 0), 1.0f);
  EXPECT_EQ(VxGetMatrixElement(a, 1, 0), -1.0f);
  EXPECT_FALSE(std::signbit(VxGetMatrixElement(a, 1, 1)));
  VxDestroyMatrix(a);
  VxDestroyMatrix(b);
}

}  // namespace
