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

void TransformPerspective(DeviceVertex* v, int32_t count, const float* m, const DeviceCamera* cam,
                          bool clip) {
    const float sx = cam->scale_x, sy = cam->scale_y;
    const float near_z = cam->near_clip, far_z = cam->far_clip;
    const float dz = cam->depth_offset, ds = cam->depth_scale;
    for (int32_t i = 0; i < count; ++i, ++v) {
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
            if (flags & kClipAll) continue;
        } else {
            v->view_z = Z;
            v->clip_flags = flags;
        }
        const float q = 1.0f / Z;
        v->screen_x = Round(X * q * sx);
        v->screen_y = Round(Y * q * sy);
        v->depth = AddDepthBias(Round((dz - Z) * q * ds));
    }
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
