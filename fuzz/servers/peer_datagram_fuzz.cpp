// Datagrams on the peer channel of an old-protocol world, handled as the avatar task handles
// what it receives, from the world server's address and from a stranger's.
#define FUZZ_WORLD_MODE "old"
#include <arpa/inet.h>

#include "client/scene/avatar_peer.h"
#include "fuzz/servers/in_world.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!fuzzworld::ready() || size == 0 || size > PEER_DATAGRAM) return 0;
  avatar_peer_handle(data, static_cast<int>(size), world_address(), world_port());
  avatar_peer_handle(data, static_cast<int>(size), htonl(0x7F000002), htons(3001));
  fuzzworld::frames(fuzzworld::fakes(fuzzworld::headless()), 5);
  return 0;
}
