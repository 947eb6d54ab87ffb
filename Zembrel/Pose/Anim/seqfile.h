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
  // Root tracks past the ones evaluation uses are left unread, named ones past the ones kept
  // are read past (both counted).
  void Read(std::istream& in);

  // Root tracks 0-2 are the root translation's x, y, z and 3 its orientation; no more are used.
  static constexpr int32_t kRootTracksUsed = 4;
  // A named track poses the model part of its name: far more than any avatar has parts are
  // read past, not kept (each would also take a place in the channel-name table for the run).
  static constexpr int32_t kNamedTracksKept = 256;

  int32_t format = 0;
  int16_t frames = -1;
  AnimName name;
  AnimName text;
  std::vector<SeqTrack> named;
  std::vector<SeqTrack> root;
  int32_t root_left_out = 0;   // root tracks the file lists beyond those used
  int32_t named_left_out = 0;  // named tracks read past, beyond those kept
};
