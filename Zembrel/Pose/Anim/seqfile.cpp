#include "Zembrel/Pose/Anim/seqfile.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// The stream and the bytes it has left: every count read from the file is held to what those
// bytes (and the file's frame count) can hold, so that a header that lies costs nothing.
struct Source {
  std::istream& in;
  int64_t left;
};

int64_t bytes_left(std::istream& in) {
  std::istream::pos_type here = in.tellg();
  if (here == std::istream::pos_type(-1)) return INT64_MAX;
  in.seekg(0, std::ios::end);
  std::istream::pos_type end = in.tellg();
  in.seekg(here);
  if (end == std::istream::pos_type(-1) || !in) {
    in.clear();
    in.seekg(here);
    return INT64_MAX;
  }
  return static_cast<int64_t>(end - here);
}

bool read_bytes(Source& s, void* out, size_t n) {
  if (n == 0) return true;
  s.in.read(static_cast<char*>(out), static_cast<std::streamsize>(n));
  s.left -= s.in.gcount();
  return s.in.gcount() == static_cast<std::streamsize>(n);
}

bool read_i32(Source& s, int32_t& v) {
  unsigned char b[4];
  if (!read_bytes(s, b, 4)) return false;
  v = static_cast<int32_t>((uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3]);
  return true;
}

bool read_i16(Source& s, int16_t& v) {
  unsigned char b[2];
  if (!read_bytes(s, b, 2)) return false;
  v = static_cast<int16_t>((b[0] << 8) | b[1]);
  return true;
}

bool read_float(Source& s, float& f) {
  int32_t v;
  if (!read_i32(s, v)) return false;
  std::memcpy(&f, &v, 4);
  return true;
}

// int16 length, then the bytes; the text ends at the first NUL. A negative length is damage.
bool read_string(Source& s, AnimName& out) {
  int16_t len;
  if (!read_i16(s, len) || len < 0) return false;
  char buf[32768];
  if (!read_bytes(s, buf, static_cast<size_t>(len))) return false;
  out = AnimName(buf, static_cast<size_t>(len));
  return true;
}

// Value size, key count, keys; a key whose read fails is not added. False on a failed read,
// and after the keys that fit when the count is more than the bytes left or the frames allow
// (keys come one per frame at most, in ascending order).
bool read_body(Source& s, SeqTrack& t, int16_t frames) {
  int32_t count;
  if (!read_i32(s, t.value_size) || !read_i32(s, count)) return false;
  const int64_t key_bytes = 4 + (t.value_size == 4 || t.value_size == 12 || t.value_size == 16 ? t.value_size : 0);
  const int64_t fit = std::min<int64_t>(s.left / key_bytes, int64_t{frames} + 1);
  const bool lies = count > fit;
  if (lies) count = static_cast<int32_t>(fit);
  if (count > 0) t.keys.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    SeqKey k;
    if (!read_i32(s, k.frame)) return false;
    if (t.value_size == 4) {
      float v;
      if (!read_float(s, v)) return false;
      k.value = AnimQuat(v, 0, 0, 0);
    } else if (t.value_size == 12) {
      float x, y, z;
      if (!read_float(s, x) || !read_float(s, y) || !read_float(s, z)) return false;
      k.value = AnimQuat(0, x, y, z);
    } else if (t.value_size == 16) {
      float w, x, y, z;
      if (!read_float(s, w) || !read_float(s, x) || !read_float(s, y) || !read_float(s, z)) return false;
      k.value = AnimQuat(w, x, y, z);
    } else {
      k.value = t.keys.empty() ? AnimQuat() : t.keys.back().value;
    }
    t.keys.push_back(k);
  }
  return !lies;
}

// A track takes at least its value size and key count (and a named one its name's length):
// more tracks than that many bytes could hold are not looked for.
int32_t tracks_that_fit(const Source& s, int32_t count, int64_t smallest) {
  return static_cast<int32_t>(std::min<int64_t>(count, s.left / smallest + 1));
}

}  // namespace

void SeqFile::Read(std::istream& in) {
  Source s{in, bytes_left(in)};
  if (!read_i32(s, format)) return;
  if (!read_i16(s, frames)) return;
  if (frames <= 0) return;
  int32_t n;
  if (!read_i32(s, n) || n <= 0) return;
  if (!read_string(s, name) || !read_string(s, text)) return;
  n = tracks_that_fit(s, n, 10);
  SeqTrack passed;  // a named track beyond those kept, read to reach the root tracks
  for (int32_t i = 0; i < n; ++i) {
    const bool keep = i < kNamedTracksKept;
    if (keep) named.emplace_back();
    else ++named_left_out;
    SeqTrack& t = keep ? named.back() : passed;
    t.keys.clear();
    AnimName track_name;
    if (!read_string(s, track_name)) return;
    bool ok = read_body(s, t, frames);
    t.name = track_name;
    if (!ok) return;
  }
  int32_t m;
  if (!read_i32(s, m)) return;
  m = tracks_that_fit(s, m, 8);
  if (m > kRootTracksUsed) {
    root_left_out = m - kRootTracksUsed;
    m = kRootTracksUsed;
  }
  for (int32_t i = 0; i < m; ++i) {
    root.emplace_back();
    if (!read_body(s, root.back(), frames)) return;
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
