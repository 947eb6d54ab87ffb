// Bytes from the world server (attribute blocks, cells, avatars, chat, build results), read
// by the program inside that world.
#include "fuzz/servers/in_world.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzworld::feed(false, data, size);
  return 0;
}
