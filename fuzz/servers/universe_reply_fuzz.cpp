// Bytes from the universe server, read by the logged-in program inside a world.
#include "fuzz/servers/in_world.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzworld::feed(true, data, size);
  return 0;
}
