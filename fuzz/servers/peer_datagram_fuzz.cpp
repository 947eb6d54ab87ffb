// Peer datagrams with the frames the program runs after each, as it runs them.
#include "fuzz/servers/peer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (fuzzpeer::handle(data, size)) fuzzworld::frames(fuzzworld::fakes(fuzzworld::headless()), 5);
  return 0;
}
