// 3 x 4 matrix arithmetic, engine conversion and key resampling.
#include "Parser/matrix.h"

#include "engine/vxl21.h"

#include <cmath>
#include <cstring>
#include <new>

namespace {

// a x b as affine maps (both 3 x 4).
void Mul(float* out, const float* a, const float* b) {
  float r[12];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 4; ++j) {
      float s = a[i * 4 + 0] * b[0 * 4 + j] + a[i * 4 + 1] * b[1 * 4 + j] + a[i * 4 + 2] * b[2 * 4 + j];
      if (j == 3) s += a[i * 4 + 3];
      r[i * 4 + j] = s;
    }
  }
  std::memcpy(out, r, sizeof r);
}

void Combine(float* m, const float* op, int mode) {
  if (mode == AG_POSTMULTIPLY) Mul(m, m, op);
  else if (mode == AG_PREMULTIPLY) Mul(m, op, m);
  else std::memcpy(m, op, 12 * sizeof(float));
}

}  // namespace

void AgIdentityMatrix(float* m) {
  std::memset(m, 0, 12 * sizeof(float));
  m[0] = m[5] = m[10] = 1.0f;
}

int AgNewIdentityMatrix(float** out) {
  float* m = new (std::nothrow) float[12];
  if (!m) return 1;
  AgIdentityMatrix(m);
  *out = m;
  return 0;
}

int AgNewTranslationMatrix(float** out, const float* v) {
  if (AgNewIdentityMatrix(out)) return 1;
  (*out)[3] = v[0];
  (*out)[7] = v[1];
  (*out)[11] = v[2];
  return 0;
}

void AgFreeMatrix(float* m) { delete[] m; }

void AgCopyMatrix(float* dst, const float* src) { std::memmove(dst, src, 12 * sizeof(float)); }

void AgTranslateMatrix(float* m, const float* v, int mode) {
  if (mode == AG_POSTMULTIPLY) {
    for (int i = 0; i < 3; ++i) m[i * 4 + 3] += m[i * 4] * v[0] + m[i * 4 + 1] * v[1] + m[i * 4 + 2] * v[2];
  } else if (mode == AG_PREMULTIPLY) {
    for (int i = 0; i < 3; ++i) m[i * 4 + 3] += v[i];
  } else {
    AgIdentityMatrix(m);
    m[3] = v[0];
    m[7] = v[1];
    m[11] = v[2];
  }
}

void AgRotateMatrix(float* m, const float* rotation, int mode) {
  // The axis is normalised here; an axis of no length is no rotation at all.
  float x = rotation[0], y = rotation[1], z = rotation[2];
  float len = std::sqrt(x * x + y * y + z * z);
  float r[12];
  AgIdentityMatrix(r);
  if (len > 1e-6f && std::isfinite(len) && std::isfinite(rotation[3])) {
    x /= len;
    y /= len;
    z /= len;
    float c = std::cos(rotation[3]), s = std::sin(rotation[3]), t = 1 - c;
    r[0] = x * x + (1 - x * x) * c;
    r[1] = t * x * y - s * z;
    r[2] = t * x * z + s * y;
    r[4] = t * x * y + s * z;
    r[5] = y * y + (1 - y * y) * c;
    r[6] = t * y * z - s * x;
    r[8] = t * x * z - s * y;
    r[9] = t * y * z + s * x;
    r[10] = z * z + (1 - z * z) * c;
  }
  if (mode == AG_POSTMULTIPLY) {
    // Linear part times R; translation kept.
    float tx = m[3], ty = m[7], tz = m[11];
    Mul(m, m, r);
    m[3] = tx;
    m[7] = ty;
    m[11] = tz;
  } else {
    Combine(m, r, mode);
  }
}

void AgRotateMatrixZ(float* m, float angle) {
  float c = std::cos(angle), s = std::sin(angle);
  AgIdentityMatrix(m);
  m[0] = c;
  m[1] = -s;
  m[4] = s;
  m[5] = c;
}

void AgScaleMatrix(float* m, const float* s, int mode) {
  if (mode == AG_POSTMULTIPLY) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) m[i * 4 + j] *= s[j];
  } else if (mode == AG_PREMULTIPLY) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 4; ++j) m[i * 4 + j] *= s[i];
  } else {
    AgIdentityMatrix(m);
    m[0] = s[0];
    m[5] = s[1];
    m[10] = s[2];
  }
}

void AgMultiplyMatrix(float* dst, const float* src, int mode) { Combine(dst, src, mode); }

void AgTransformPoint(const float* m, float* p) {
  float r[3];
  for (int i = 0; i < 3; ++i) r[i] = m[i * 4] * p[0] + m[i * 4 + 1] * p[1] + m[i * 4 + 2] * p[2] + m[i * 4 + 3];
  p[0] = r[0];
  p[1] = r[1];
  p[2] = r[2];
}

void AgLerpMatrix(float* out, const float* a, const float* b, float t) {
  for (int i = 0; i < 12; ++i) out[i] = a[i] + (b[i] - a[i]) * t;
}

void AgMatrixToRotation(const float* m, float* rot) {
  float c = (m[0] + m[5] + m[10] - 1) / 2;
  // Rounding can push the cosine just past 1 for an identity.
  if (c > 1) c = 1;
  if (c < -1) c = -1;
  float angle = std::acos(c);
  rot[3] = angle;
  if (std::fabs(angle) < 0.0001f) {
    rot[0] = rot[1] = rot[2] = 0;
    return;
  }
  float d = 2 * std::sin(angle);
  rot[0] = (m[9] - m[6]) / d;
  rot[1] = (m[2] - m[8]) / d;
  rot[2] = (m[4] - m[1]) / d;
}

void AgDecomposeMatrix(const float* m, float* rotation, float* scale, float* translation) {
  float c[12];
  AgCopyMatrix(c, m);
  for (int j = 0; j < 3; ++j) {
    scale[j] = std::sqrt(c[j] * c[j] + c[4 + j] * c[4 + j] + c[8 + j] * c[8 + j]);
    translation[j] = c[j * 4 + 3];
  }
  for (int j = 0; j < 3; ++j) {
    if (scale[j] != 0)
      for (int i = 0; i < 3; ++i) c[i * 4 + j] /= scale[j];
    c[j * 4 + 3] = 0;
  }
  float col0[3] = {c[0], c[4], c[8]}, col1[3] = {c[1], c[5], c[9]}, x[3];
  AgCross(x, col0, col1);
  if (c[2] * x[0] < -0.001f || c[6] * x[1] < -0.001f || c[10] * x[2] < -0.001f) {
    scale[0] = -scale[0];
    c[0] = -c[0];
    c[4] = -c[4];
    c[8] = -c[8];
  }
  rotation[0] = rotation[1] = rotation[2] = rotation[3] = 0;
  VxMatrix* e = nullptr;
  if (AgMatrixToEngine(&e, c)) return;
  VxVector axis{0, 0, 0};
  VxReal angle = 0;
  if (VxGetMatrixRotation(e, &axis, &angle)) {
    rotation[0] = axis.x;
    rotation[1] = axis.y;
    rotation[2] = axis.z;
    rotation[3] = angle * 0.017453292f;
  }
  VxDestroyMatrix(e);
}

int AgMatrixFromEngine(float** out, const VxMatrix* engine) {
  VxReal e[16];
  if (!VxGetMatrixElements(engine, e)) return 1;
  if (AgNewIdentityMatrix(out)) return 1;
  // The engine's row-vector matrix, transposed into column form.
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 4; ++j) (*out)[i * 4 + j] = e[j * 4 + i];
  return 0;
}

int AgMatrixToEngine(VxMatrix** out, const float* m) {
  VxMatrix* e = VxCreateMatrix();
  if (!e) return 1;
  VxReal v[16];
  for (int j = 0; j < 4; ++j) {
    for (int i = 0; i < 3; ++i) v[j * 4 + i] = m[i * 4 + j];
    v[j * 4 + 3] = (j == 3) ? 1.0f : 0.0f;
  }
  VxSetMatrixElements(e, v);
  *out = e;
  return 0;
}

void AgMatrixThroughScratch(float* dst, const float* m) {
  VxMatrix* e = nullptr;
  if (AgMatrixToEngine(&e, m)) return;
  VxMatrix* scratch = VxScratchMatrix();
  VxCopyMatrix(e, scratch);
  float* back = nullptr;
  if (AgMatrixFromEngine(&back, scratch) == 0) {
    AgCopyMatrix(dst, back);
    AgFreeMatrix(back);
  }
  VxDestroyMatrix(e);
}

int AgRotationIsSet(const float* r) { return std::fabs(r[3]) >= 0.001f ? 1 : 0; }

int AgScaleIsNotUnit(const float* s) {
  for (int i = 0; i < 3; ++i)
    if (!(std::fabs(s[i] - 1.0f) <= 0.000001f)) return 1;
  return 0;
}

int AgVectorIsNonZero(const float* v) { return (v[0] != 0 || v[1] != 0 || v[2] != 0) ? 1 : 0; }

namespace {

// One resampling pass; blend(k_out, i, t) writes the value for reference key k.
template <class Blend, class Take>
void Resample(const float* ref, const float* src, int ref_count, int src_count, Blend blend, Take take) {
  if (src_count <= 0) return;
  for (int r = 0; r < ref_count; ++r) {
    float k = ref[r];
    int i = 0;
    while (i < src_count - 1 && !(src[i + 1] >= k)) ++i;
    if (i == 0 && k <= src[0]) {
      take(r, 0);
    } else if (i + 1 < src_count && (i < src_count - 2 || k < src[src_count - 1])) {
      float span = src[i + 1] - src[i];
      float t = span != 0 ? (k - src[i]) / span : 0.0f;
      blend(r, i, t);
    } else {
      take(r, src_count - 1);
    }
  }
}

}  // namespace

int AgResampleMatrices(float** out, float* const* values, const float* ref_keys,
                       const float* src_keys, int ref_count, int src_count) {
  if (!out || !values || !ref_keys || !src_keys) return 1;
  Resample(
      ref_keys, src_keys, ref_count, src_count,
      [&](int r, int i, float t) { AgLerpMatrix(out[r], values[i], values[i + 1], t); },
      [&](int r, int i) { AgCopyMatrix(out[r], values[i]); });
  return 0;
}

template <int N>
static int ResampleVec(float* out, const float* values, const float* ref_keys, const float* src_keys,
                       int ref_count, int src_count) {
  if (!out || !values || !ref_keys || !src_keys) return 1;
  Resample(
      ref_keys, src_keys, ref_count, src_count,
      [&](int r, int i, float t) {
        for (int c = 0; c < N; ++c)
          out[r * N + c] = values[i * N + c] + (values[(i + 1) * N + c] - values[i * N + c]) * t;
      },
      [&](int r, int i) {
        for (int c = 0; c < N; ++c) out[r * N + c] = values[i * N + c];
      });
  return 0;
}

int AgResampleVec3(float* out, const float* values, const float* ref_keys, const float* src_keys,
                   int ref_count, int src_count) {
  return ResampleVec<3>(out, values, ref_keys, src_keys, ref_count, src_count);
}

int AgResampleVec4(float* out, const float* values, const float* ref_keys, const float* src_keys,
                   int ref_count, int src_count) {
  return ResampleVec<4>(out, values, ref_keys, src_keys, ref_count, src_count);
}

float AgDistance(const float* a, const float* b) {
  float d[3];
  AgSubtract(d, a, b);
  return AgLength(d);
}

float AgLength(const float* v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

void AgNormalize(float* v) {
  float l = AgLength(v);
  if (l > 0) {
    v[0] /= l;
    v[1] /= l;
    v[2] /= l;
  }
}

void AgSubtract(float* out, const float* a, const float* b) {
  for (int i = 0; i < 3; ++i) out[i] = a[i] - b[i];
}

void AgCross(float* out, const float* a, const float* b) {
  float r[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
  out[0] = r[0];
  out[1] = r[1];
  out[2] = r[2];
}

void AgCopy5(float* dst, const float* src) { std::memmove(dst, src, 5 * sizeof(float)); }

namespace {

// Returns whether a box is still to be taken as the first one.
int ClumpBounds(VxClump* clump, float* min, float* max, int first) {
  // Siblings iteratively, children by recursion (a clump tree is as deep as its model).
  for (; clump; clump = VxGetNextSiblingClump(clump)) {
    VxVector lo{0, 0, 0}, hi{0, 0, 0};
    if (VxGetClumpBoundingBox(clump, &lo, &hi)) {
      const float l[3] = {lo.x, lo.y, lo.z}, h[3] = {hi.x, hi.y, hi.z};
      for (int i = 0; i < 3; ++i) {
        if (first || l[i] < min[i]) min[i] = l[i];
        if (first || h[i] > max[i]) max[i] = h[i];
      }
      first = 0;
    }
    if (VxClump* child = VxGetFirstChildClump(clump)) first = ClumpBounds(child, min, max, first);
  }
  return first;
}

}  // namespace

void AgClumpBounds(VxClump* clump, float* min, float* max, int first) { ClumpBounds(clump, min, max, first); }

float AgByteToUnit(int byte) { return static_cast<float>(byte) / 255.0f; }
int AgIsZero(float x, float epsilon) { return std::fabs(x) < epsilon ? 1 : 0; }
int AgIsEqual(float a, float b, float epsilon) { return std::fabs(a - b) < epsilon ? 1 : 0; }
