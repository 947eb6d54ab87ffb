// One datagram of the peer channel handed to the avatar task's handling inside an
// old-protocol world, from the world server's address and from a stranger's.
#pragma once
#define FUZZ_WORLD_MODE "old"
#include <arpa/inet.h>

#include "client/scene/avatar_peer.h"
#include "fuzz/servers/dispatch.h"

namespace fuzzpeer {

// False when the datagram could not go in (no program in the world, or not a datagram).
inline bool handle(const uint8_t* data, size_t size) {
  if (size == 0 || size > PEER_DATAGRAM || !fuzzdispatch::before()) return false;
  avatar_peer_handle(data, static_cast<int>(size), world_address(), world_port());
  avatar_peer_handle(data, static_cast<int>(size), htonl(0x7F000002), htons(3001));
  return true;
}

}  // namespace fuzzpeer
