// One universe reply (the body after its length: rc, code, fields) handed to the universe
// connection's dispatch of the logged-in program inside a world.
#include "fuzz/servers/dispatch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > NET_MAX_MESSAGE || !fuzzdispatch::before()) return 0;
  universe_dispatch(data, static_cast<int>(size));
  fuzzdispatch::after();
  return 0;
}
