// One reply of the old object protocol (the bytes after its length) handed to the request at
// the head of the program's queue inside an old-protocol world. When none waits, the first
// input byte picks the request the program makes: the attribute query, an eject or a delete.
#define FUZZ_WORLD_MODE "old"
#include "client/scene/prop.h"
#include "fuzz/servers/dispatch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 65536 || !fuzzdispatch::before()) return 0;
  if (oldprop_queue_count() == 0) {
    switch (data[0] % 3) {
      case 0: prop_query_attributes(world_entered); break;
      case 1: prop_eject(2, 60); break;
      default: prop_delete(0, 0, 1); break;
    }
  }
  oldprop_dispatch(data + 1, static_cast<int>(size - 1));
  fuzzdispatch::after();
  return 0;
}
