#include "driver/spans/vertex_transform.h"

#include <bit>
#include <cmath>

#include <emmintrin.h>

namespace {

// RoundToInt32 inline for the vertex loops: the processor's conversion rounds in the current
// mode, to nearest with ties to even, as nearbyint does, without a library call.
inline int32_t Round(double x) {
    if (std::isnan(x)) return 0;
    if (x >= 2147483647.0) return INT32_MAX;
    if (x <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(_mm_cvtsd_si64(_mm_set_sd(x)));
}

int32_t Bits(float f) { return std::bit_cast<int32_t>(f); }

// a > b on IEEE bit patterns read as signed integers; when both are negative
// the operands are swapped, which keeps the comparison exact.
bool BitsGreater(float a, float b) {
    const int32_t ia = Bits(a), ib = Bits(b);
    if (ia < 0 && ib < 0) return ia < ib;
    return ia > ib;
}

bool SignBit(float f) { return Bits(f) < 0; }

// Depth offset of 256.0 in 16.16, added with 32-bit wrap.
int32_t AddDepthBias(int32_t d) {
    return static_cast<int32_t>(static_cast<uint32_t>(d) + 0x01000000u);
}

// One vertex of the perspective projection; also the tail of the four-lane loop.
inline void PerspectiveOne(DeviceVertex* v, const float* m, float sx, float sy, float near_z, float far_z,
                           float dz, float ds, bool clip) {
    // Single precision throughout, as every product is a float.
    const float x = v->x, y = v->y, z = v->z;
    const float X = x * m[0] + y * m[4] + z * m[8] + m[12];
    const float Y = x * m[1] + y * m[5] + z * m[9] + m[13];
    const float Z = x * m[2] + y * m[6] + z * m[10] + m[14];
    uint8_t flags = v->clip_flags & 0xC0;
    if (clip) {
        v->view_x = X;
        v->view_y = Y;
        v->view_z = Z;
        if (SignBit(X)) flags |= kClipLeft;
        if (BitsGreater(X, Z)) flags |= kClipRight;
        if (SignBit(Y)) flags |= kClipTop;
        if (BitsGreater(Y, Z)) flags |= kClipBottom;
        if (BitsGreater(near_z, Z)) {
            flags |= kClipNear;
        } else if (BitsGreater(Z, far_z)) {
            flags |= kClipFar;
        }
        v->clip_flags = flags;
        if (flags & kClipAll) return;
    } else {
        v->view_z = Z;
        v->clip_flags = flags;
    }
    const float q = 1.0f / Z;
    v->screen_x = Round(X * q * sx);
    v->screen_y = Round(Y * q * sy);
    v->depth = AddDepthBias(Round((dz - Z) * q * ds));
}

// a > b per lane on the bit patterns as signed integers, swapped when both are negative.
inline __m128i LanesGreater(__m128i a, __m128i b) {
    const __m128i both_negative = _mm_srai_epi32(_mm_and_si128(a, b), 31);
    const __m128i gt = _mm_cmpgt_epi32(a, b), lt = _mm_cmpgt_epi32(b, a);
    return _mm_or_si128(_mm_and_si128(both_negative, lt), _mm_andnot_si128(both_negative, gt));
}

// Round per lane exactly as Round does for a float widened to double: the conversion rounds
// in the current mode; at or above 2^31 it saturates and NaN gives 0.
inline __m128i LanesRound(__m128 f) {
    const __m128i r = _mm_cvtps_epi32(f);
    const __m128i over = _mm_castps_si128(_mm_cmpge_ps(f, _mm_set1_ps(2147483648.0f)));
    const __m128i nan = _mm_castps_si128(_mm_cmpunord_ps(f, f));
    const __m128i sat = _mm_or_si128(_mm_andnot_si128(over, r), _mm_and_si128(over, _mm_set1_epi32(INT32_MAX)));
    return _mm_andnot_si128(nan, sat);
}

void TransformPerspective(DeviceVertex* v, int32_t count, const float* m, const DeviceCamera* cam,
                          bool clip) {
    const float sx = cam->scale_x, sy = cam->scale_y;
    const float near_z = cam->near_clip, far_z = cam->far_clip;
    const float dz = cam->depth_offset, ds = cam->depth_scale;
    // Four vertices at a time: the same single-precision operations in the same order per
    // lane (no fused multiply-add), so every lane matches the one-vertex path bit for bit.
    const __m128 m0 = _mm_set1_ps(m[0]), m4 = _mm_set1_ps(m[4]), m8 = _mm_set1_ps(m[8]), m12 = _mm_set1_ps(m[12]);
    const __m128 m1 = _mm_set1_ps(m[1]), m5 = _mm_set1_ps(m[5]), m9 = _mm_set1_ps(m[9]), m13 = _mm_set1_ps(m[13]);
    const __m128 m2 = _mm_set1_ps(m[2]), m6 = _mm_set1_ps(m[6]), m10 = _mm_set1_ps(m[10]), m14 = _mm_set1_ps(m[14]);
    const __m128 vsx = _mm_set1_ps(sx), vsy = _mm_set1_ps(sy), vdz = _mm_set1_ps(dz), vds = _mm_set1_ps(ds);
    const __m128i vnear = _mm_set1_epi32(Bits(near_z)), vfar = _mm_set1_epi32(Bits(far_z));
    int32_t i = 0;
    for (; i + 4 <= count; i += 4, v += 4) {
        // x, y, z and the view x behind them: 16 bytes inside each record.
        __m128 r0 = _mm_loadu_ps(&v[0].x), r1 = _mm_loadu_ps(&v[1].x);
        __m128 r2 = _mm_loadu_ps(&v[2].x), r3 = _mm_loadu_ps(&v[3].x);
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        const __m128 x = r0, y = r1, z = r2;
        const __m128 X = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(x, m0), _mm_mul_ps(y, m4)), _mm_mul_ps(z, m8)), m12);
        const __m128 Y = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(x, m1), _mm_mul_ps(y, m5)), _mm_mul_ps(z, m9)), m13);
        const __m128 Z = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(x, m2), _mm_mul_ps(y, m6)), _mm_mul_ps(z, m10)), m14);
        alignas(16) int32_t codes[4] = {0, 0, 0, 0};
        alignas(16) float vx[4], vy[4], vz[4];
        _mm_store_ps(vz, Z);
        if (clip) {
            _mm_store_ps(vx, X);
            _mm_store_ps(vy, Y);
            const __m128i iX = _mm_castps_si128(X), iY = _mm_castps_si128(Y), iZ = _mm_castps_si128(Z);
            const __m128i left = _mm_srli_epi32(iX, 31);  // the sign bit: -0.0 counts as below 0
            const __m128i top = _mm_and_si128(_mm_srai_epi32(iY, 31), _mm_set1_epi32(kClipTop));
            const __m128i right = _mm_and_si128(LanesGreater(iX, iZ), _mm_set1_epi32(kClipRight));
            const __m128i bottom = _mm_and_si128(LanesGreater(iY, iZ), _mm_set1_epi32(kClipBottom));
            const __m128i near = LanesGreater(vnear, iZ);
            const __m128i far = _mm_andnot_si128(near, LanesGreater(iZ, vfar));
            __m128i c = _mm_or_si128(_mm_or_si128(left, right), _mm_or_si128(top, bottom));
            c = _mm_or_si128(c, _mm_or_si128(_mm_and_si128(near, _mm_set1_epi32(kClipNear)),
                                             _mm_and_si128(far, _mm_set1_epi32(kClipFar))));
            _mm_store_si128(reinterpret_cast<__m128i*>(codes), c);
        }
        const __m128 q = _mm_div_ps(_mm_set1_ps(1.0f), Z);
        alignas(16) int32_t scx[4], scy[4], dep[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(scx), LanesRound(_mm_mul_ps(_mm_mul_ps(X, q), vsx)));
        _mm_store_si128(reinterpret_cast<__m128i*>(scy), LanesRound(_mm_mul_ps(_mm_mul_ps(Y, q), vsy)));
        const __m128i d = LanesRound(_mm_mul_ps(_mm_mul_ps(_mm_sub_ps(vdz, Z), q), vds));
        _mm_store_si128(reinterpret_cast<__m128i*>(dep), _mm_add_epi32(d, _mm_set1_epi32(0x01000000)));
        for (int k = 0; k < 4; ++k) {
            DeviceVertex* w = v + k;
            w->view_z = vz[k];
            if (clip) {
                w->view_x = vx[k];
                w->view_y = vy[k];
            }
            w->clip_flags = static_cast<uint8_t>((w->clip_flags & 0xC0) | codes[k]);
            if (codes[k]) continue;  // outside: the screen values stay as they were
            w->screen_x = scx[k];
            w->screen_y = scy[k];
            w->depth = dep[k];
        }
    }
    for (; i < count; ++i, ++v) PerspectiveOne(v, m, sx, sy, near_z, far_z, dz, ds, clip);
}

void TransformParallel(DeviceVertex* v, int32_t count, const float* m, const DeviceCamera* cam,
                       bool clip) {
    const double sx = cam->scale_x, sy = cam->scale_y;
    const double near_z = cam->near_clip, far_z = cam->far_clip;
    const double dz = cam->depth_offset, ds = cam->depth_scale;
    for (int32_t i = 0; i < count; ++i, ++v) {
        const double x = v->x, y = v->y, z = v->z;
        const double X = x * m[0] + y * m[4] + z * m[8] + m[12];
        const double Y = x * m[1] + y * m[5] + z * m[9] + m[13];
        const double Z = x * m[2] + y * m[6] + z * m[10] + m[14];
        uint8_t flags = v->clip_flags & 0xC0;
        v->view_x = static_cast<float>(X);
        v->view_z = static_cast<float>(Z);
        if (clip) {
            v->view_y = static_cast<float>(Y);
            // Ordinary compares: -0.0 is not below 0.
            if (X < 0.0) flags |= kClipLeft;
            if (X > 1.0) flags |= kClipRight;
            if (Y < 0.0) flags |= kClipTop;
            if (Y > 1.0) flags |= kClipBottom;
            if (Z < near_z) {
                flags |= kClipNear;
            } else if (Z > far_z) {
                flags |= kClipFar;
            }
            v->clip_flags = flags;
            if (flags & kClipAll) continue;
        } else {
            v->clip_flags = flags;
        }
        v->screen_x = Round(X * sx);
        v->screen_y = Round(Y * sy);
        v->depth = AddDepthBias(Round((dz - Z) * ds));
    }
}

}  // namespace

int32_t RoundToInt32(double x) { return Round(x); }

void TransformVertices(DeviceVertex* vertices, int32_t count, const float* matrix,
                       DeviceCamera* camera, int32_t mode) {
    if (count <= 0 || !vertices || !matrix || !camera) return;
    const bool clip = (mode & 0xFF) == kTransformClip;
    if ((camera->projection_flags & 0xFF) == 1) {
        TransformPerspective(vertices, count, matrix, camera, clip);
    } else {
        TransformParallel(vertices, count, matrix, camera, clip);
    }
}
