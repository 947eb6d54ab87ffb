// One reply of the old object protocol (the bytes after its length) handed to the request at
// the head of the program's queue inside an old-protocol world. When none waits, the first
// input byte picks the request the program makes: the attribute query, an eject or a delete.
// Replies that end the visit (212 and 215, a refused attribute query) start the program
// again, which only old_world_fuzz does at its pace; they are left to it.
#define FUZZ_WORLD_MODE "old"
#include "client/scene/prop.h"
#include "fuzz/servers/dispatch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 65536 || !fuzzdispatch::before()) return 0;
  // Requests are asked here only into an empty queue, and each reply takes the head away:
  // the head is the one asked here until a reply answers it.
  static bool attributes = false;
  if (oldprop_queue_count() == 0) {
    attributes = false;
    switch (data[0] % 3) {
      case 0: attributes = prop_query_attributes(world_entered) != 0; break;
      case 1: prop_eject(2, 60); break;
      default: prop_delete(0, 0, 1); break;
    }
  }
  const uint8_t* reply = data + 1;
  const int length = static_cast<int>(size - 1);
  if (length > 0 && (reply[0] == 12 || reply[0] == 15)) return 0;
  if (length == 1 && attributes) return 0;
  oldprop_dispatch(reply, length);
  attributes = false;
  fuzzdispatch::after();
  return 0;
}
