// Bytes from a world server of the old protocol (object records on the raw connection),
// read by the program inside that world.
#define FUZZ_WORLD_MODE "old"
#include "fuzz/servers/in_world.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzworld::feed(false, data, size);
  return 0;
}
