// The driver's vertex stage: view-space position, clip outcodes and the 16.16
// screen position and depth of every vertex inside the view volume.
#pragma once

#include <cstdint>

#include "driver/records.h"

// Outcodes in bits 0-5 of DeviceVertex::clip_flags; bits 6-7 are the engine's.
enum : uint8_t {
    kClipLeft = 0x01,    // X < 0
    kClipRight = 0x02,   // X > W
    kClipTop = 0x04,     // Y < 0
    kClipBottom = 0x08,  // Y > W
    kClipNear = 0x10,    // Z < near
    kClipFar = 0x20,     // Z > far, tested only when not near
    kClipAll = 0x3F,
};

// Mode whose low byte asks for outcodes; any other mode projects every vertex.
constexpr int32_t kTransformClip = 2;

// matrix: 16 floats, row-vector convention, translation in row 3; column 3 is
// not read. W is Z in the perspective projection (camera projection byte 1)
// and 1.0 in the parallel one.
void TransformVertices(DeviceVertex* vertices, int32_t count, const float* matrix,
                       DeviceCamera* camera, int32_t mode);

// Nearest integer, ties to even, as a signed 32-bit value: out-of-range values
// saturate and NaN gives 0.
int32_t RoundToInt32(double x);
