#include "Zembrel/Pose/Anim/seqfile.h"

#include <cstring>

namespace {

bool read_bytes(std::istream& in, void* out, size_t n) {
  if (n == 0) return true;
  in.read(static_cast<char*>(out), static_cast<std::streamsize>(n));
  return in.gcount() == static_cast<std::streamsize>(n);
}

bool read_i32(std::istream& in, int32_t& v) {
  unsigned char b[4];
  if (!read_bytes(in, b, 4)) return false;
  v = static_cast<int32_t>((uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3]);
  return true;
}

bool read_i16(std::istream& in, int16_t& v) {
  unsigned char b[2];
  if (!read_bytes(in, b, 2)) return false;
  v = static_cast<int16_t>((b[0] << 8) | b[1]);
  return true;
}

bool read_float(std::istream& in, float& f) {
  int32_t v;
  if (!read_i32(in, v)) return false;
  std::memcpy(&f, &v, 4);
  return true;
}

// int16 length, then the bytes; the text ends at the first NUL. A negative length is damage.
bool read_string(std::istream& in, AnimName& out) {
  int16_t len;
  if (!read_i16(in, len) || len < 0) return false;
  char buf[32768];
  if (!read_bytes(in, buf, static_cast<size_t>(len))) return false;
  out = AnimName(buf, static_cast<size_t>(len));
  return true;
}

// Value size, key count, keys; a key whose read fails is not added. False on a failed read.
bool read_body(std::istream& in, SeqTrack& t) {
  int32_t count;
  if (!read_i32(in, t.value_size) || !read_i32(in, count)) return false;
  for (int32_t i = 0; i < count; ++i) {
    SeqKey k;
    if (!read_i32(in, k.frame)) return false;
    if (t.value_size == 4) {
      float v;
      if (!read_float(in, v)) return false;
      k.value = AnimQuat(v, 0, 0, 0);
    } else if (t.value_size == 12) {
      float x, y, z;
      if (!read_float(in, x) || !read_float(in, y) || !read_float(in, z)) return false;
      k.value = AnimQuat(0, x, y, z);
    } else if (t.value_size == 16) {
      float w, x, y, z;
      if (!read_float(in, w) || !read_float(in, x) || !read_float(in, y) || !read_float(in, z)) return false;
      k.value = AnimQuat(w, x, y, z);
    } else {
      k.value = t.keys.empty() ? AnimQuat() : t.keys.back().value;
    }
    t.keys.push_back(k);
  }
  return true;
}

}  // namespace

void SeqFile::Read(std::istream& in) {
  if (!read_i32(in, format)) return;
  if (!read_i16(in, frames)) return;
  if (frames <= 0) return;
  int32_t n;
  if (!read_i32(in, n) || n <= 0) return;
  if (!read_string(in, name) || !read_string(in, text)) return;
  for (int32_t i = 0; i < n; ++i) {
    named.emplace_back();
    SeqTrack& t = named.back();
    AnimName track_name;
    if (!read_string(in, track_name)) return;
    bool ok = read_body(in, t);
    t.name = track_name;
    if (!ok) return;
  }
  int32_t m;
  if (!read_i32(in, m)) return;
  for (int32_t i = 0; i < m; ++i) {
    root.emplace_back();
    if (!read_body(in, root.back())) return;
  }
}

AnimQuat SeqTrack::ValueAt(int16_t frame) {
  if (keys.empty()) return AnimQuat();
  int32_t n = static_cast<int32_t>(keys.size());
  auto key_frame = [&](int32_t i) { return static_cast<int16_t>(keys[static_cast<size_t>(i)].frame); };
  int32_t b = cursor;
  if (b < 0 || b >= n || frame < key_frame(b)) b = 0;
  while (b + 1 < n && key_frame(b + 1) <= frame) ++b;
  cursor = b;
  const AnimQuat& vb = keys[static_cast<size_t>(b)].value;
  if (b == n - 1 || key_frame(b) == frame) return vb;
  const AnimQuat& vc = keys[static_cast<size_t>(b) + 1].value;
  int16_t diff = static_cast<int16_t>(key_frame(b + 1) - key_frame(b));
  if (diff <= 0) return vb;
  float d = static_cast<float>(frame - key_frame(b)) / static_cast<float>(diff);
  if (d <= 0) return vb;
  if (d >= 1) return vc;
  if (value_size == 16) return anim_blend(vb, vc, d);
  if (value_size == 4 || value_size == 12)
    return AnimQuat(vb.w + (vc.w - vb.w) * d, vb.x + (vc.x - vb.x) * d, vb.y + (vc.y - vb.y) * d, vb.z + (vc.z - vb.z) * d);
  return vb;
}
