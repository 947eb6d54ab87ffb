// Animation registry text from a download: any bytes read into the registry, and every entry
// the program later asks for answers without a crash.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "Zembrel/Pose/Anim/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AnimRegistry* reg = AnimRegistry::Get();
  if (!reg) return 0;
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  bool ok = reg->Read(in, "avatars.dat");
  int count = reg->Count();
  if (count < 0) std::abort();
  // The program lists names, then reads each avatar's sequences and actions.
  for (const AnimName& n : reg->Names()) (void)n.c_str();
  for (int i = -1; i <= count; ++i) {
    const AvatarRecord* a = reg->Entry(i);
    if ((i < 0 || i >= count) && a) std::abort();
    if (!a) continue;
    (void)a->Attribute(AnimName("geometry"));
    if (a->ExplicitActions().size() != a->ExplicitSequences().size()) std::abort();
    for (const AnimName& s : a->ImplicitSequences()) (void)s.c_str();
  }
  for (int special = 251; special <= 255; ++special)
    if (!reg->Entry(special)) std::abort();
  (void)ok;
  reg->Clear();
  return 0;
}
