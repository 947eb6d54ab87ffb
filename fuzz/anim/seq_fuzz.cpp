// Sequence files from a download: any bytes read as a ".seq", and every track sampled at
// frames across and beyond its range, without a crash or an endless walk.
#include <cstdint>
#include <sstream>
#include <string>

#include "Zembrel/Pose/Anim/seqfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  SeqFile file;
  file.Read(in);
  const int16_t probes[] = {INT16_MIN, -1, 0, 1, 2, 7, 100, file.frames, INT16_MAX};
  for (auto* tracks : {&file.named, &file.root})
    for (SeqTrack& t : *tracks)
      for (int16_t f : probes) (void)t.ValueAt(f);
  return 0;
}
