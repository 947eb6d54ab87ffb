// Small value classes of the animation library: vectors, points, rotations, times, names,
// and the reference-counted object base with its owning handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

class AnimVector {
 public:
  AnimVector() = default;
  AnimVector(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}
  virtual ~AnimVector() = default;
  AnimVector(const AnimVector&) = default;
  AnimVector& operator=(const AnimVector&) = default;

  AnimVector operator*(float s) const { return {x * s, y * s, z * s}; }
  AnimVector operator/(float s) const { return {x / s, y / s, z / s}; }
  AnimVector operator+(const AnimVector& o) const { return {x + o.x, y + o.y, z + o.z}; }
  AnimVector operator-(const AnimVector& o) const { return {x - o.x, y - o.y, z - o.z}; }
  AnimVector operator-() const { return {-x, -y, -z}; }
  float Dot(const AnimVector& o) const { return x * o.x + y * o.y + z * o.z; }
  float Length() const;
  // A zero-length vector comes back unchanged.
  AnimVector Normalized() const;

  float x = 0, y = 0, z = 0;
};
inline AnimVector operator*(float s, const AnimVector& v) { return v * s; }

class AnimPoint {
 public:
  AnimPoint() = default;
  AnimPoint(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}
  virtual ~AnimPoint() = default;
  AnimPoint(const AnimPoint&) = default;
  AnimPoint& operator=(const AnimPoint&) = default;

  AnimPoint operator+(const AnimVector& v) const { return {x + v.x, y + v.y, z + v.z}; }
  AnimVector operator-(const AnimPoint& o) const { return {x - o.x, y - o.y, z - o.z}; }
  AnimVector AsVector() const { return {x, y, z}; }
  bool operator==(const AnimPoint& o) const { return x == o.x && y == o.y && z == o.z; }
  bool operator!=(const AnimPoint& o) const { return !(*this == o); }

  float x = 0, y = 0, z = 0;
};

// The plain three-float vector of the rotation code.
struct AnimVec3 {
  float x, y, z;
};
AnimVec3 anim_cross(const AnimVec3& a, const AnimVec3& b);
// Divides by the length only above 0.00001; returns the length.
float anim_normalize(AnimVec3& v);

class AnimQuat {
 public:
  AnimQuat() = default;
  AnimQuat(float w_, float x_, float y_, float z_) : w(w_), x(x_), y(y_), z(z_) {}
  virtual ~AnimQuat() = default;
  AnimQuat(const AnimQuat&) = default;
  AnimQuat& operator=(const AnimQuat&) = default;

  static AnimQuat FromAxisAngle(const AnimVector& axis, float radians);
  // Turns unit vector a into unit vector b.
  static AnimQuat FromDirections(const AnimVector& a, const AnimVector& b);

  float Dot(const AnimQuat& o) const { return w * o.w + x * o.x + y * o.y + z * o.z; }
  void Normalize();
  AnimQuat Normalized() const {
    AnimQuat q = *this;
    q.Normalize();
    return q;
  }
  AnimQuat Inverse() const;
  AnimVector Rotate(const AnimVector& v) const;  // q v q^-1
  void Rotate(AnimVector* v, int count) const;
  AnimQuat Mirrored() const { return {w, -x, -y, z}; }
  AnimQuat operator-() const { return {-w, -x, -y, -z}; }
  // 16 reals row by row, as the engine's matrix setter takes them.
  void ToMatrix(float m[16]) const;

  float w = 1, x = 0, y = 0, z = 0;
};
AnimQuat anim_product(const AnimQuat& a, const AnimQuat& b);
// Normalised linear interpolation.
AnimQuat anim_blend(const AnimQuat& a, const AnimQuat& b, float f);
// a negated when a . b < 0.
void anim_align(AnimQuat& a, const AnimQuat& b);
bool anim_near_equal(const AnimQuat& a, const AnimQuat& b);

class AnimTime {
 public:
  AnimTime() = default;
  AnimTime(uint32_t s, uint32_t ms) : seconds(s), millis(ms) {}
  virtual ~AnimTime() = default;
  AnimTime(const AnimTime&) = default;
  AnimTime& operator=(const AnimTime&) = default;

  static AnimTime Now();
  static AnimTime FromMillis(uint32_t ms) { return {ms / 1000u, ms % 1000u}; }
  static AnimTime FromSeconds(float s);

  bool IsZero() const { return seconds == 0 && millis == 0; }
  double Seconds() const { return seconds + millis / 1000.0; }
  bool operator==(const AnimTime& o) const { return seconds == o.seconds && millis == o.millis; }
  bool operator!=(const AnimTime& o) const { return !(*this == o); }
  bool operator<(const AnimTime& o) const {
    return seconds != o.seconds ? seconds < o.seconds : millis < o.millis;
  }
  bool operator<=(const AnimTime& o) const { return !(o < *this); }
  AnimTime operator+(const AnimTime& o) const;
  // Never below zero: an earlier time minus a later one is the zero time.
  AnimTime operator-(const AnimTime& o) const;

  uint32_t seconds = 0;
  uint32_t millis = 0;
};

class AnimName {
 public:
  static constexpr size_t kMax = 255;
  AnimName() { text_[0] = 0; }
  AnimName(const char* text);  // NOLINT: names come from texts everywhere
  AnimName(const char* text, size_t length);
  virtual ~AnimName() = default;
  AnimName(const AnimName&) = default;
  AnimName& operator=(const AnimName&) = default;

  const char* c_str() const { return text_; }
  size_t size() const;
  bool empty() const { return text_[0] == 0; }
  bool operator==(const AnimName& o) const;
  bool operator!=(const AnimName& o) const { return !(*this == o); }
  bool operator<(const AnimName& o) const;

 private:
  char text_[kMax + 1];
};

// Shared objects: deleted through the virtual destructor when the count drops to 0 or below.
class RefObject {
 public:
  RefObject() = default;
  RefObject(const RefObject&) = delete;
  RefObject& operator=(const RefObject&) = delete;
  virtual ~RefObject() = default;
  void Retain() { ++count_; }
  void Release() {
    if (--count_ <= 0) delete this;
  }
  int32_t RefCount() const { return count_; }

 private:
  int32_t count_ = 0;
};

template <class T>
class RefHandle {
 public:
  RefHandle() = default;
  RefHandle(T* p) : p_(p) {  // NOLINT: handles are made from new objects
    if (p_) p_->Retain();
  }
  RefHandle(const RefHandle& o) : RefHandle(o.p_) {}
  RefHandle(RefHandle&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  template <class U>
  RefHandle(const RefHandle<U>& o) : RefHandle(o.get()) {}  // NOLINT
  ~RefHandle() {
    if (p_) p_->Release();
  }
  RefHandle& operator=(const RefHandle& o) {
    RefHandle copy(o);
    std::swap(p_, copy.p_);
    return *this;
  }
  RefHandle& operator=(RefHandle&& o) noexcept {
    if (this != &o) {
      T* old = p_;
      p_ = o.p_;
      o.p_ = nullptr;
      if (old) old->Release();
    }
    return *this;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  bool operator==(const RefHandle& o) const { return p_ == o.p_; }

 private:
  T* p_ = nullptr;
};

// The library's fatal assertion: "Fatal Error" box, then exit code 123.
[[noreturn]] void anim_assert_fail(const char* message, const char* file, long line);
// Tests and the program replace how the box is shown (null: standard error).
void anim_set_fatal_handler(void (*show)(const char* text, const char* caption));
