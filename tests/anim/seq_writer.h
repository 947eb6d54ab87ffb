// Builds small ".seq" files byte by byte (big-endian) for the tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace animtest {

class SeqWriter {
 public:
  SeqWriter& i32(int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    for (int s = 24; s >= 0; s -= 8) bytes_.push_back(static_cast<char>((u >> s) & 0xFF));
    return *this;
  }
  SeqWriter& i16(int16_t v) {
    uint16_t u = static_cast<uint16_t>(v);
    bytes_.push_back(static_cast<char>(u >> 8));
    bytes_.push_back(static_cast<char>(u & 0xFF));
    return *this;
  }
  SeqWriter& f32(float f) {
    int32_t v;
    std::memcpy(&v, &f, 4);
    return i32(v);
  }
  SeqWriter& str(const std::string& s) {
    i16(static_cast<int16_t>(s.size()));
    bytes_ += s;
    return *this;
  }
  // Header up to and including the second text.
  SeqWriter& header(int16_t frames, int32_t named, const std::string& name = "seq", const std::string& text = "") {
    return i32(0x00010002).i16(frames).i32(named).str(name).str(text);
  }
  struct Key {
    int32_t frame;
    float v[4];
  };
  // A track body of value size 4 (one float), 12 or 16 floats taken from each key.
  SeqWriter& body(int32_t size, const std::vector<Key>& keys) {
    i32(size).i32(static_cast<int32_t>(keys.size()));
    int floats = size == 4 ? 1 : size == 12 ? 3 : size == 16 ? 4 : 0;
    for (const Key& k : keys) {
      i32(k.frame);
      for (int i = 0; i < floats; ++i) f32(k.v[i]);
    }
    return *this;
  }
  SeqWriter& named(const std::string& name, int32_t size, const std::vector<Key>& keys) {
    str(name);
    return body(size, keys);
  }
  const std::string& bytes() const { return bytes_; }
  std::istringstream stream() const { return std::istringstream(bytes_); }

 private:
  std::string bytes_;
};

}  // namespace animtest
