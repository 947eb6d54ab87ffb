// Vertex transform: view space, outcodes, both projections.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "driver/spans/vertex_transform.h"

namespace {

constexpr float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

DeviceCamera PerspectiveCamera() {
    DeviceCamera c{};
    c.scale_x = 65536.0f * 320.0f;
    c.scale_y = 65536.0f * 320.0f;
    c.near_clip = 0.5f;
    c.far_clip = 100.0f;
    c.depth_offset = 1.0f;
    c.depth_scale = 65536.0f * 100.0f;
    c.projection_flags = 1;
    return c;
}

DeviceCamera ParallelCamera() {
    DeviceCamera c = PerspectiveCamera();
    c.projection_flags = 2;
    return c;
}

DeviceVertex At(float x, float y, float z, uint8_t flags = 0) {
    DeviceVertex v{};
    v.x = x;
    v.y = y;
    v.z = z;
    v.clip_flags = flags;
    v.screen_x = v.screen_y = v.depth = 0x7EADBEEF;  // "unchanged" marker
    return v;
}

uint8_t Clip(DeviceVertex v, const DeviceCamera& c, const float* m = kIdentity) {
    DeviceCamera cam = c;
    TransformVertices(&v, 1, m, &cam, kTransformClip);
    return v.clip_flags;
}

TEST(Transform, PerspectiveKnownScreenPosition) {
    DeviceCamera cam = PerspectiveCamera();
    DeviceVertex v = At(0.5f, 0.25f, 2.0f);
    TransformVertices(&v, 1, kIdentity, &cam, kTransformClip);
    EXPECT_EQ(v.clip_flags, 0);
    EXPECT_EQ(v.screen_x, 5242880);  // 80.0
    EXPECT_EQ(v.screen_y, 2621440);  // 40.0
    EXPECT_EQ(v.view_x, 0.5f);
    EXPECT_EQ(v.view_y, 0.25f);
    EXPECT_EQ(v.view_z, 2.0f);
    // Ds (Dz / Z - 1) + 256.0: (0.5 - 1) x 6553600 = -3276800.
    EXPECT_EQ(v.depth, 0x01000000 - 3276800);
}

TEST(Transform, DepthAtDzIs256) {
    DeviceCamera cam = PerspectiveCamera();
    cam.depth_offset = 4.0f;
    DeviceVertex v = At(1.0f, 1.0f, 4.0f);
    TransformVertices(&v, 1, kIdentity, &cam, kTransformClip);
    EXPECT_EQ(v.depth, 0x01000000);
    DeviceCamera par = ParallelCamera();
    par.depth_offset = 4.0f;
    v = At(0.5f, 0.5f, 4.0f);
    TransformVertices(&v, 1, kIdentity, &par, kTransformClip);
    EXPECT_EQ(v.depth, 0x01000000);
}

TEST(Transform, MatrixRowsAndTranslation) {
    // Row vectors: X = x m00 + y m10 + z m20 + m30; column 3 never read.
    const float m[16] = {2, 0, 0, 99, 0, 3, 0, 99, 1, 1, 1, 99, 0.5f, 0.25f, 1, 99};
    DeviceCamera cam = ParallelCamera();
    DeviceVertex v = At(0.1f, 0.1f, 0.0f);
    TransformVertices(&v, 1, m, &cam, kTransformClip);
    EXPECT_FLOAT_EQ(v.view_x, 0.7f);
    EXPECT_FLOAT_EQ(v.view_y, 0.55f);
    EXPECT_FLOAT_EQ(v.view_z, 1.0f);
}

TEST(Transform, RightEdgeIsInside) {
    const DeviceCamera cam = PerspectiveCamera();
    EXPECT_EQ(Clip(At(2.0f, 1.0f, 2.0f), cam) & kClipRight, 0);
    EXPECT_EQ(Clip(At(std::nextafter(2.0f, 3.0f), 1.0f, 2.0f), cam), kClipRight);
    EXPECT_EQ(Clip(At(1.0f, 2.0f, 2.0f), cam), 0);
    EXPECT_EQ(Clip(At(1.0f, std::nextafter(2.0f, 3.0f), 2.0f), cam), kClipBottom);
}

TEST(Transform, NearBeatsFar) {
    DeviceCamera cam = PerspectiveCamera();
    cam.far_clip = 0.1f;  // far below near
    EXPECT_EQ(Clip(At(0.1f, 0.1f, 0.3f), cam), kClipNear);
    EXPECT_EQ(Clip(At(0.1f, 0.1f, 0.5f), cam), kClipFar);
    cam = PerspectiveCamera();
    EXPECT_EQ(Clip(At(1.0f, 1.0f, 101.0f), cam), kClipFar);
    EXPECT_EQ(Clip(At(1.0f, 1.0f, 100.0f), cam), 0);
    DeviceCamera par = ParallelCamera();
    par.far_clip = 0.1f;
    EXPECT_EQ(Clip(At(0.1f, 0.1f, 0.3f), par), kClipNear);
}

TEST(Transform, BehindTheEyeGetsBothVerticalCodes) {
    const DeviceCamera cam = PerspectiveCamera();
    // Z = -2: Y = -1 is below 0 and above Z.
    EXPECT_EQ(Clip(At(-1.0f, -1.0f, -2.0f), cam), kClipLeft | kClipRight | kClipTop | kClipBottom | kClipNear);
    // Y = -3 is below Z = -2: only "below 0".
    EXPECT_EQ(Clip(At(-3.0f, -3.0f, -2.0f), cam) & (kClipTop | kClipBottom), kClipTop);
}

TEST(Transform, NegativeZeroSide) {
    // Identity whose off-diagonal X and Y terms are -0.0, so that a -0.0
    // coordinate survives the sums.
    const float m[16] = {1, -0.0f, 0, 0, -0.0f, 1, 0, 0, -0.0f, -0.0f, 1, 0, -0.0f, -0.0f, 0, 1};
    const DeviceCamera cam = PerspectiveCamera();
    EXPECT_EQ(Clip(At(-0.0f, 0.5f, 1.0f), cam, m), kClipLeft);
    EXPECT_EQ(Clip(At(0.5f, -0.0f, 1.0f), cam, m), kClipTop);
    const DeviceCamera par = ParallelCamera();
    EXPECT_EQ(Clip(At(-0.0f, -0.0f, 1.0f), par, m), 0);
    EXPECT_EQ(Clip(At(-0.001f, 0.5f, 1.0f), par, m), kClipLeft);
}

TEST(Transform, ParallelBoundsIgnoreZ) {
    const DeviceCamera cam = ParallelCamera();
    EXPECT_EQ(Clip(At(1.0f, 1.0f, 50.0f), cam), 0);
    EXPECT_EQ(Clip(At(1.01f, 0.5f, 50.0f), cam), kClipRight);
    EXPECT_EQ(Clip(At(0.5f, 1.01f, 1.0f), cam), kClipBottom);
    DeviceCamera c = cam;
    DeviceVertex v = At(0.25f, 0.5f, 10.0f);
    TransformVertices(&v, 1, kIdentity, &c, kTransformClip);
    EXPECT_EQ(v.screen_x, 5242880);  // round(X Sx)
    EXPECT_EQ(v.screen_y, 10485760);
}

TEST(Transform, EngineBitsSurviveEveryMode) {
    for (const DeviceCamera& cam : {PerspectiveCamera(), ParallelCamera()})
        for (int32_t mode : {0, 1, 2, 3, 0x102, 0x7FFFFF02}) {
            DeviceCamera c = cam;
            DeviceVertex v[2] = {At(0.5f, 0.5f, 1.0f, 0xFF), At(-5.0f, 0.5f, 1.0f, 0x80)};
            TransformVertices(v, 2, kIdentity, &c, mode);
            EXPECT_EQ(v[0].clip_flags & 0xC0, 0xC0) << mode;
            EXPECT_EQ(v[1].clip_flags & 0xC0, 0x80) << mode;
            if ((mode & 0xFF) == 2) {
                EXPECT_EQ(v[1].clip_flags, 0x80 | kClipLeft);
            } else {
                EXPECT_EQ(v[0].clip_flags, 0xC0);
                EXPECT_EQ(v[1].clip_flags, 0x80);
            }
        }
}

TEST(Transform, OutsideVerticesKeepTheirScreenValues) {
    DeviceCamera cam = PerspectiveCamera();
    DeviceVertex v = At(-1.0f, 0.5f, 2.0f);
    TransformVertices(&v, 1, kIdentity, &cam, kTransformClip);
    EXPECT_EQ(v.clip_flags, kClipLeft);
    EXPECT_EQ(v.screen_x, 0x7EADBEEF);
    EXPECT_EQ(v.screen_y, 0x7EADBEEF);
    EXPECT_EQ(v.depth, 0x7EADBEEF);
    EXPECT_EQ(v.view_x, -1.0f);
}

TEST(Transform, OtherModesProjectEveryVertexAndStoreOnlyZ) {
    DeviceCamera cam = PerspectiveCamera();
    DeviceVertex v = At(-1.0f, 0.5f, 2.0f, 0x3F);
    v.view_x = v.view_y = 123.0f;
    TransformVertices(&v, 1, kIdentity, &cam, 0);
    EXPECT_EQ(v.clip_flags, 0);
    EXPECT_EQ(v.screen_x, -10485760);  // -160.0: projected although outside
    EXPECT_EQ(v.view_z, 2.0f);
    EXPECT_EQ(v.view_x, 123.0f);
    EXPECT_EQ(v.view_y, 123.0f);
    DeviceCamera par = ParallelCamera();
    v = At(0.5f, 0.5f, 2.0f);
    v.view_x = v.view_y = 123.0f;
    TransformVertices(&v, 1, kIdentity, &par, 1);
    EXPECT_EQ(v.view_x, 0.5f);  // parallel stores X as well
    EXPECT_EQ(v.view_y, 123.0f);
}

TEST(Transform, RoundsToNearestEven) {
    EXPECT_EQ(RoundToInt32(2.5), 2);
    EXPECT_EQ(RoundToInt32(3.5), 4);
    EXPECT_EQ(RoundToInt32(-2.5), -2);
    EXPECT_EQ(RoundToInt32(-2.6), -3);
    // Defined for every input.
    EXPECT_EQ(RoundToInt32(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(RoundToInt32(1e30), INT32_MAX);
    EXPECT_EQ(RoundToInt32(-1e30), INT32_MIN);
    EXPECT_EQ(RoundToInt32(std::numeric_limits<double>::infinity()), INT32_MAX);
    EXPECT_EQ(RoundToInt32(2147483647.4), INT32_MAX);
    EXPECT_EQ(RoundToInt32(-2147483648.0), INT32_MIN);
}

TEST(Transform, HugeAndNonFiniteInputsAreDefined) {
    // Unclipped modes trust the caller; what it hands over must still not
    // produce undefined conversions.
    DeviceCamera cam = PerspectiveCamera();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<DeviceVertex> vs = {At(1e30f, 1e30f, 1e-30f), At(nan, nan, nan), At(1.0f, 1.0f, 0.0f),
                                    At(-1e38f, 1e38f, 1e-38f)};
    TransformVertices(vs.data(), static_cast<int32_t>(vs.size()), kIdentity, &cam, 0);
    EXPECT_EQ(vs[0].screen_x, INT32_MAX);
    EXPECT_EQ(vs[1].screen_x, 0);
    EXPECT_EQ(vs[2].screen_x, INT32_MAX);  // 1 / 0 = +inf
    EXPECT_EQ(vs[3].screen_x, INT32_MIN);
    DeviceCamera par = ParallelCamera();
    TransformVertices(vs.data(), static_cast<int32_t>(vs.size()), kIdentity, &par, kTransformClip);
    EXPECT_EQ(vs[1].clip_flags & kClipAll, 0);  // NaN compares false everywhere
    EXPECT_EQ(vs[1].screen_x, 0);
}

TEST(Transform, CountZeroOrNegativeDoesNothing) {
    DeviceCamera cam = PerspectiveCamera();
    DeviceVertex v = At(0.5f, 0.5f, 1.0f, 0x3F);
    TransformVertices(&v, 0, kIdentity, &cam, 2);
    TransformVertices(&v, -3, kIdentity, &cam, 2);
    EXPECT_EQ(v.clip_flags, 0x3F);
    EXPECT_EQ(v.screen_x, 0x7EADBEEF);
}

TEST(Transform, PerspectiveRunsInSinglePrecision) {
    // Against a single-precision recomputation of the same products, on random
    // matrices and points; the record stride is 116 bytes.
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> d(-2.0f, 2.0f);
    float m[16];
    for (float& x : m) x = d(rng);
    std::vector<DeviceVertex> vs;
    for (int i = 0; i < 200; ++i) vs.push_back(At(d(rng), d(rng), d(rng) + 3.0f));
    const std::vector<DeviceVertex> in = vs;
    DeviceCamera cam = PerspectiveCamera();
    TransformVertices(vs.data(), static_cast<int32_t>(vs.size()), m, &cam, kTransformClip);
    for (size_t i = 0; i < vs.size(); ++i) {
        const DeviceVertex& p = in[i];
        volatile float X = p.x * m[0];
        X = X + p.y * m[4];
        X = X + p.z * m[8];
        X = X + m[12];
        volatile float Z = p.x * m[2];
        Z = Z + p.y * m[6];
        Z = Z + p.z * m[10];
        Z = Z + m[14];
        EXPECT_EQ(vs[i].view_x, X);
        EXPECT_EQ(vs[i].view_z, Z);
        if ((vs[i].clip_flags & kClipAll) == 0) {
            volatile float q = 1.0f / Z;
            volatile float sx = X * q;
            sx = sx * cam.scale_x;
            EXPECT_EQ(vs[i].screen_x, static_cast<int32_t>(std::nearbyint(sx)));
        }
    }
}

}  // namespace

TEST(Transform, ArraysMatchOneVertexAtATime) {
    // Runs of every length up to 11, mixing inside, outside, behind the eye, -0.0, huge and
    // non-finite values; each vertex must come out as when it is transformed alone.
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> d(-1.5f, 2.5f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float odd[] = {-0.0f, 0.0f, nan, std::numeric_limits<float>::infinity(), 1e30f, -1e30f, 1e-30f};
    float m[16];
    for (float& x : m) x = d(rng) * 0.5f;
    m[10] = 1.0f;
    for (int mode : {kTransformClip, 0}) {
        for (uint8_t projection : {uint8_t{1}, uint8_t{2}, uint8_t{3}}) {
            DeviceCamera cam = PerspectiveCamera();
            cam.projection_flags = projection & 1;
            if (projection == 3) cam.far_clip = 0.25f;  // below near: near must win
            for (int n = 1; n <= 11; ++n) {
                std::vector<DeviceVertex> vs;
                for (int i = 0; i < n; ++i) {
                    float c[3] = {d(rng), d(rng), d(rng) + 1.0f};
                    if (rng() % 4 == 0) c[rng() % 3] = odd[rng() % std::size(odd)];
                    vs.push_back(At(c[0], c[1], c[2], static_cast<uint8_t>(rng())));
                }
                std::vector<DeviceVertex> alone = vs;
                TransformVertices(vs.data(), n, m, &cam, mode);
                for (int i = 0; i < n; ++i) {
                    TransformVertices(&alone[i], 1, m, &cam, mode);
                    EXPECT_EQ(std::memcmp(&vs[i], &alone[i], sizeof(DeviceVertex)), 0)
                        << "mode " << mode << " camera " << int(projection) << " n " << n << " i " << i;
                }
            }
        }
    }
}
