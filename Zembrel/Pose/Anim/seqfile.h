// ".seq" sequence files: the binary layout as the reader takes it (big-endian throughout).
#pragma once

#include <istream>
#include <vector>

#include "Zembrel/Pose/Anim/values.h"

struct SeqKey {
  int32_t frame = 0;
  // A scalar is (v, 0, 0, 0), a vector (0, x, y, z), a rotation (w, x, y, z).
  AnimQuat value;
};

class SeqTrack {
 public:
  // The value at a 16-bit frame; moves the key cursor.
  AnimQuat ValueAt(int16_t frame);

  int32_t value_size = 0;
  std::vector<SeqKey> keys;
  AnimName name;
  int32_t cursor = 0;
};

class SeqFile {
 public:
  // Fills the file as far as the stream allows; what was read before a failure stays.
  void Read(std::istream& in);

  int32_t format = 0;
  int16_t frames = -1;
  AnimName name;
  AnimName text;
  std::vector<SeqTrack> named;
  std::vector<SeqTrack> root;
};
