#include "Zembrel/Pose/Anim/values.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"

float AnimVector::Length() const { return std::sqrt(x * x + y * y + z * z); }

AnimVector AnimVector::Normalized() const {
  float l = Length();
  if (l == 0.0f) return *this;
  return {x / l, y / l, z / l};
}

AnimVec3 anim_cross(const AnimVec3& a, const AnimVec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

float anim_normalize(AnimVec3& v) {
  float l = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  if (l > 0.00001f) {
    v.x /= l;
    v.y /= l;
    v.z /= l;
  }
  return l;
}

AnimQuat AnimQuat::FromAxisAngle(const AnimVector& axis, float t) {
  float s = std::sin(t / 2);
  AnimQuat q(std::cos(t / 2), axis.x * s, axis.y * s, axis.z * s);
  q.Normalize();
  return q;
}

AnimQuat AnimQuat::FromDirections(const AnimVector& a, const AnimVector& b) {
  AnimVec3 va{a.x, a.y, a.z};
  AnimVec3 h{a.x + b.x, a.y + b.y, a.z + b.z};
  float len = anim_normalize(h);
  if (len <= 0.00001f) {
    // Opposite directions: a half turn about any axis perpendicular to a. Cross with the
    // coordinate axis least aligned with a so the axis never degenerates.
    AnimVec3 other{0, 0, 0};
    float ax = std::fabs(a.x), ay = std::fabs(a.y), az = std::fabs(a.z);
    if (ax <= ay && ax <= az) other.x = 1;
    else if (ay <= az) other.y = 1;
    else other.z = 1;
    AnimVec3 axis = anim_cross(va, other);
    anim_normalize(axis);
    return {0, axis.x, axis.y, axis.z};
  }
  float w = h.x * a.x + h.y * a.y + h.z * a.z;
  AnimVec3 c = anim_cross(va, h);
  return {w, c.x, c.y, c.z};
}

void AnimQuat::Normalize() {
  float n = w * w + x * x + y * y + z * z;
  if (std::fabs(n) > 0.00001f) {
    float r = std::sqrt(n);
    w /= r;
    x /= r;
    y /= r;
    z /= r;
  }
}

AnimQuat AnimQuat::Inverse() const {
  float n = w * w + x * x + y * y + z * z;
  if (n == 0.0f) return {0, 0, 0, 0};
  return {w / n, -x / n, -y / n, -z / n};
}

AnimQuat anim_product(const AnimQuat& a, const AnimQuat& b) {
  return {a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
          a.w * b.y + a.y * b.w + a.z * b.x - a.x * b.z, a.w * b.z + a.z * b.w + a.x * b.y - a.y * b.x};
}

AnimVector AnimQuat::Rotate(const AnimVector& v) const {
  AnimQuat r(0, v.x, v.y, v.z);
  AnimQuat out = anim_product(*this, anim_product(r, Inverse()));
  return {out.x, out.y, out.z};
}

void AnimQuat::Rotate(AnimVector* v, int count) const {
  for (int i = 0; i < count; ++i) v[i] = Rotate(v[i]);
}

void AnimQuat::ToMatrix(float m[16]) const {
  float n = w * w + x * x + y * y + z * z;
  float s = n != 0.0f ? 2.0f / n : 0.0f;
  m[0] = 1 - s * (y * y + z * z);
  m[1] = s * (x * y + w * z);
  m[2] = s * (x * z - w * y);
  m[3] = 0;
  m[4] = s * (x * y - w * z);
  m[5] = 1 - s * (x * x + z * z);
  m[6] = s * (y * z + w * x);
  m[7] = 0;
  m[8] = s * (x * z + w * y);
  m[9] = s * (y * z - w * x);
  m[10] = 1 - s * (x * x + y * y);
  m[11] = 0;
  m[12] = 0;
  m[13] = 0;
  m[14] = 0;
  m[15] = 1;
}

AnimQuat anim_blend(const AnimQuat& a, const AnimQuat& b, float f) {
  AnimQuat q(a.w + (b.w - a.w) * f, a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f, a.z + (b.z - a.z) * f);
  q.Normalize();
  return q;
}

void anim_align(AnimQuat& a, const AnimQuat& b) {
  if (a.Dot(b) < 0) a = -a;
}

bool anim_near_equal(const AnimQuat& a, const AnimQuat& b) { return std::fabs(a.Dot(b) - 1.0f) < 0.0005f; }

AnimTime AnimTime::Now() { return FromMillis(platform_ticks()); }

AnimTime AnimTime::FromSeconds(float s) {
  if (!(s > 0)) return {};
  if (s >= 4294967295.0f) return {0xFFFFFFFFu, 999};
  uint32_t whole = static_cast<uint32_t>(s);
  float frac = (s - static_cast<float>(whole)) * 1000.0f;
  uint32_t ms = frac > 0 ? static_cast<uint32_t>(frac) : 0;
  if (ms > 999) ms = 999;
  return {whole, ms};
}

AnimTime AnimTime::operator+(const AnimTime& o) const {
  uint32_t ms = millis + o.millis;
  uint32_t s = seconds + o.seconds;
  if (ms >= 1000) {
    ms -= 1000;
    ++s;
  }
  return {s, ms};
}

AnimTime AnimTime::operator-(const AnimTime& o) const {
  if (*this < o) return {};
  uint32_t s = seconds - o.seconds;
  uint32_t ms;
  if (millis < o.millis) {
    ms = millis + 1000 - o.millis;
    --s;
  } else {
    ms = millis - o.millis;
  }
  return {s, ms};
}

AnimName::AnimName(const char* text) : AnimName(text, text ? std::strlen(text) : 0) {}

AnimName::AnimName(const char* text, size_t length) {
  size_t n = 0;
  if (text) {
    while (n < length && n < kMax && text[n]) ++n;
    std::memcpy(text_, text, n);
  }
  text_[n] = 0;
}

size_t AnimName::size() const { return std::strlen(text_); }

bool AnimName::operator==(const AnimName& o) const { return std::strcmp(text_, o.text_) == 0; }

bool AnimName::operator<(const AnimName& o) const {
  // strcmp compares as unsigned char.
  return std::strcmp(text_, o.text_) < 0;
}

namespace {
void (*g_fatal_show)(const char*, const char*) = nullptr;
}

void anim_set_fatal_handler(void (*show)(const char* text, const char* caption)) { g_fatal_show = show; }

void anim_assert_fail(const char* message, const char* file, long line) {
  char text[1024];
  std::snprintf(text, sizeof text, "%s, file=%s line=%ld", message ? message : "", file ? file : "", line);
  if (g_fatal_show) g_fatal_show(text, "Fatal Error");
  else std::fprintf(stderr, "Fatal Error: %s\n", text);
  std::exit(123);
}
