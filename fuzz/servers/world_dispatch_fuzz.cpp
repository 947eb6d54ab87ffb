// One world reply (the body after its length: code, fields) handed to the world connection's
// dispatch of the program inside that world.
#include "fuzz/servers/dispatch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > NET_MAX_MESSAGE || !fuzzdispatch::before()) return 0;
  world_dispatch(data, static_cast<int>(size));
  fuzzdispatch::after();
  return 0;
}
