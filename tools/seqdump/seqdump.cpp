// seqdump FILE.seq [FRAME]: prints a sequence file's header, tracks and keys, and with a
// frame number the channel values the engine evaluates there.
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "Zembrel/Pose/Anim/anim.h"
#include "Zembrel/Pose/Anim/seq.h"

namespace {

void dump_track(const SeqTrack& t, const char* label) {
  std::printf("%s \"%s\" size %d keys %zu\n", label, t.name.c_str(), t.value_size, t.keys.size());
  for (const SeqKey& k : t.keys)
    std::printf("  %6d  %g %g %g %g\n", k.frame, static_cast<double>(k.value.w), static_cast<double>(k.value.x),
                static_cast<double>(k.value.y), static_cast<double>(k.value.z));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: seqdump FILE.seq [FRAME]\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in.is_open()) {
    std::fprintf(stderr, "seqdump: cannot open %s\n", argv[1]);
    return 1;
  }
  AnimReset("");
  SequenceHandle seq(new Sequence(&in));
  const SeqFile& f = seq->File();
  std::printf("format 0x%08x frames %d name \"%s\" text \"%s\" named %zu root %zu\n", static_cast<unsigned>(f.format),
              f.frames, f.name.c_str(), f.text.c_str(), f.named.size(), f.root.size());
  for (const SeqTrack& t : f.named) dump_track(t, "track");
  for (const SeqTrack& t : f.root) dump_track(t, "root");
  if (argc > 2) {
    long frame = std::strtol(argv[2], nullptr, 10);
    if (frame < -32768 || frame > 32767) {
      std::fprintf(stderr, "seqdump: frame out of range\n");
      return 2;
    }
    ChannelSetHandle c = seq->Evaluate(static_cast<int16_t>(frame), true);
    for (const ChannelValue& v : c->values)
      std::printf("channel %d type %d  %g %g %g %g\n", v.id, v.type, static_cast<double>(v.value[0]),
                  static_cast<double>(v.value[1]), static_cast<double>(v.value[2]), static_cast<double>(v.value[3]));
  }
  return 0;
}
