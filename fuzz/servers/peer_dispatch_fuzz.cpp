// Peer datagrams at the dispatch targets' pace: a frame only now and then.
#include "fuzz/servers/peer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (fuzzpeer::handle(data, size)) fuzzdispatch::after();
  return 0;
}
