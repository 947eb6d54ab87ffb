// Matrices: row vectors (p' = p x M), translation in row 3; the scratch matrix and its stack.
#include "engine/internal.h"

#include <cmath>
#include <cstring>

#include <emmintrin.h>

namespace vx {

Mat mat_identity() {
  Mat r{};
  for (int i = 0; i < 4; ++i) r.m[i][i] = 1;
  return r;
}

// The identity with (x, y, z) written into row `row` (3: the translation), or along the
// diagonal when row is -1 (a scale).
Mat identity_with(VxReal x, VxReal y, VxReal z, int row) {
  Mat r = mat_identity();
  const VxReal v[3] = {x, y, z};
  for (int i = 0; i < 3; ++i) r.m[row < 0 ? i : row][i] = v[i];
  return r;
}

// Each element summed in double in the order k = 0..3 from +0, two columns at a time: the
// same sums as one element at a time, without converting b once per element.
Mat mat_mul(const Mat& a, const Mat& b) {
  __m128d bl[4], bh[4];
  for (int k = 0; k < 4; ++k) {
    const __m128 row = _mm_loadu_ps(b.m[k]);
    bl[k] = _mm_cvtps_pd(row);
    bh[k] = _mm_cvtps_pd(_mm_movehl_ps(row, row));
  }
  Mat r;
  for (int i = 0; i < 4; ++i) {
    __m128d lo = _mm_setzero_pd(), hi = _mm_setzero_pd();
    for (int k = 0; k < 4; ++k) {
      const __m128d aik = _mm_set1_pd((double)a.m[i][k]);
      lo = _mm_add_pd(lo, _mm_mul_pd(aik, bl[k]));
      hi = _mm_add_pd(hi, _mm_mul_pd(aik, bh[k]));
    }
    _mm_storeu_ps(r.m[i], _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi)));
  }
  return r;
}

VxVector mat_apply_dir(const Mat& m, const VxVector& d) {
  VxVector r;
  r.x = d.x * m.m[0][0] + d.y * m.m[1][0] + d.z * m.m[2][0];
  r.y = d.x * m.m[0][1] + d.y * m.m[1][1] + d.z * m.m[2][1];
  r.z = d.x * m.m[0][2] + d.y * m.m[1][2] + d.z * m.m[2][2];
  return r;
}

// Mode 2 puts t before the existing transformation (local), mode 3 after it (parent).
bool mat_combine(Mat& target, const Mat& t, int mode) {
  switch (mode) {
    case VX_REPLACE: target = t; return true;
    case VX_PRECONCAT: target = mat_mul(t, target); return true;
    case VX_POSTCONCAT: target = mat_mul(target, t); return true;
    default: return false;
  }
}

}  // namespace vx

using namespace vx;

static int combine(VxMatrix* m, const Mat& t, int mode) {
  if (!live(m)) return fail(VX_E_BAD_ARGUMENT);
  if (!mat_combine(m->mat, t, mode)) return fail(VX_E_BAD_ARGUMENT);
  return 1;
}

VxMatrix* VxScratchMatrix(void) { return &st().scratch; }

VxMatrix* VxPushScratchMatrix(void) {
  State& s = st();
  if (s.scratch_stack.size() >= 64) return failp<VxMatrix>(VX_E_NO_MEMORY);
  s.scratch_stack.push_back(s.scratch.mat);
  return &s.scratch;
}

int VxPopScratchMatrix(void) {
  State& s = st();
  if (s.scratch_stack.empty()) return fail(VX_E_STATE);
  s.scratch.mat = s.scratch_stack.back();
  s.scratch_stack.pop_back();
  return 1;
}

VxMatrix* VxCreateMatrix(void) {
  if (!st().initialized) return failp<VxMatrix>(VX_E_NOT_INITIALIZED);
  auto* m = new VxMatrixRec{mat_identity()};
  st().matrices.insert(m);
  return m;
}

int VxDestroyMatrix(VxMatrix* m) {
  if (!m || !st().matrices.count(m)) return fail(VX_E_BAD_ARGUMENT);
  st().matrices.erase(m);
  delete m;
  return 1;
}

int VxCopyMatrix(const VxMatrix* source, VxMatrix* destination) {
  if (!live(source) || !live(destination)) return fail(VX_E_BAD_ARGUMENT);
  destination->mat = source->mat;
  return 1;
}

int VxIdentityMatrix(VxMatrix* m) {
  if (!live(m)) return fail(VX_E_BAD_ARGUMENT);
  m->mat = mat_identity();
  return 1;
}

int VxRotateMatrix(VxMatrix* m, VxReal x, VxReal y, VxReal z, VxReal angle, int mode) {
  double len = std::sqrt((double)x * x + (double)y * y + (double)z * z);
  if (!(len > 0)) return fail(VX_E_BAD_ARGUMENT);
  double ax = x / len, ay = y / len, az = z / len;
  double a = angle * M_PI / 180.0, c = std::cos(a), s = std::sin(a), t = 1 - c;
  Mat r = mat_identity();
  r.m[0][0] = (VxReal)(c + t * ax * ax);
  r.m[0][1] = (VxReal)(t * ax * ay + s * az);
  r.m[0][2] = (VxReal)(t * ax * az - s * ay);
  r.m[1][0] = (VxReal)(t * ax * ay - s * az);
  r.m[1][1] = (VxReal)(c + t * ay * ay);
  r.m[1][2] = (VxReal)(t * ay * az + s * ax);
  r.m[2][0] = (VxReal)(t * ax * az + s * ay);
  r.m[2][1] = (VxReal)(t * ay * az - s * ax);
  r.m[2][2] = (VxReal)(c + t * az * az);
  return combine(m, r, mode);
}

int VxTranslateMatrix(VxMatrix* m, VxReal x, VxReal y, VxReal z, int mode) {
  return combine(m, identity_with(x, y, z, 3), mode);
}

int VxScaleMatrix(VxMatrix* m, VxReal x, VxReal y, VxReal z, int mode) {
  return combine(m, identity_with(x, y, z, -1), mode);
}

int VxTransformMatrix(VxMatrix* m, const VxMatrix* t, int mode) {
  if (!live(t)) return fail(VX_E_BAD_ARGUMENT);
  return combine(m, t->mat, mode);
}

VxReal VxGetMatrixElement(const VxMatrix* m, int row, int column) {
  if (!live(m) || row < 0 || row > 3 || column < 0 || column > 3) return (VxReal)fail(VX_E_BAD_ARGUMENT);
  return m->mat.m[row][column];
}

int VxSetMatrixElement(VxMatrix* m, int row, int column, VxReal value) {
  if (!live(m) || row < 0 || row > 3 || column < 0 || column > 3) return fail(VX_E_BAD_ARGUMENT);
  m->mat.m[row][column] = value;
  return 1;
}

int VxGetMatrixElements(const VxMatrix* m, VxReal elements[16]) {
  if (!live(m) || !elements) return fail(VX_E_BAD_ARGUMENT);
  std::memcpy(elements, m->mat.m, sizeof m->mat.m);
  return 1;
}

int VxSetMatrixElements(VxMatrix* m, const VxReal elements[16]) {
  if (!live(m) || !elements) return fail(VX_E_BAD_ARGUMENT);
  std::memcpy(m->mat.m, elements, sizeof m->mat.m);
  return 1;
}

int VxGetMatrixRotation(const VxMatrix* m, VxVector* axis, VxReal* angle) {
  if (!live(m) || !axis || !angle) return fail(VX_E_BAD_ARGUMENT);
  // Rows normalised first so that a scale does not disturb the angle.
  double r[3][3];
  for (int i = 0; i < 3; ++i) {
    double len = std::sqrt((double)m->mat.m[i][0] * m->mat.m[i][0] +
                           (double)m->mat.m[i][1] * m->mat.m[i][1] +
                           (double)m->mat.m[i][2] * m->mat.m[i][2]);
    if (!(len > 0)) return fail(VX_E_BAD_ARGUMENT);
    for (int j = 0; j < 3; ++j) r[i][j] = m->mat.m[i][j] / len;
  }
  double cosv = (r[0][0] + r[1][1] + r[2][2] - 1) / 2;
  if (cosv > 1) cosv = 1;
  if (cosv < -1) cosv = -1;
  double a = std::acos(cosv);
  double x = r[1][2] - r[2][1], y = r[2][0] - r[0][2], z = r[0][1] - r[1][0];
  double len = std::sqrt(x * x + y * y + z * z);
  if (len < 1e-6) {
    if (cosv > 0) {  // no rotation: any axis will do
      x = 0, y = 1, z = 0;
    } else {  // half turn: the axis from the diagonal
      x = std::sqrt(std::max(0.0, (r[0][0] + 1) / 2));
      y = std::sqrt(std::max(0.0, (r[1][1] + 1) / 2));
      z = std::sqrt(std::max(0.0, (r[2][2] + 1) / 2));
      if (x >= y && x >= z) {
        y = (r[0][1] >= 0) ? y : -y;
        z = (r[0][2] >= 0) ? z : -z;
      } else if (y >= z) {
        x = (r[0][1] >= 0) ? x : -x;
        z = (r[1][2] >= 0) ? z : -z;
      } else {
        x = (r[0][2] >= 0) ? x : -x;
        y = (r[1][2] >= 0) ? y : -y;
      }
    }
    len = std::sqrt(x * x + y * y + z * z);
  }
  axis->x = (VxReal)(x / len);
  axis->y = (VxReal)(y / len);
  axis->z = (VxReal)(z / len);
  *angle = (VxReal)(a * 180.0 / M_PI);
  return 1;
}

int VxTransformPoint(const VxMatrix* m, const VxVector* in, VxVector* out) {
  if (!live(m) || !in || !out) return fail(VX_E_BAD_ARGUMENT);
  *out = mat_apply(m->mat, *in);
  return 1;
}

int VxNormalizeVector(VxVector* v) {
  if (!v) return fail(VX_E_BAD_ARGUMENT);
  double len = std::sqrt((double)v->x * v->x + (double)v->y * v->y + (double)v->z * v->z);
  if (!(len > 0)) return fail(VX_E_BAD_ARGUMENT);
  v->x = (VxReal)(v->x / len);
  v->y = (VxReal)(v->y / len);
  v->z = (VxReal)(v->z / len);
  return 1;
}
