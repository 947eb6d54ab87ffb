// The program in the fake world as in_world.h starts it, but each input is one received
// message handed straight to its protocol's dispatch, without the round trip through a fake
// and a socket and the frames that wait for it: the same readers and the same program state,
// at thousands of inputs a second. A frame runs now and then, so that what the replies left
// queued goes on and the connections stay alive; a program that an input ended or took out
// of the world is brought back in at once.
#pragma once
#include "client/net/netcodes.h"
#include "fuzz/servers/in_world.h"

namespace fuzzdispatch {

constexpr int kInputsPerFrame = 64;

// True when the program is in the world and the input may go in.
inline bool before() { return fuzzworld::ready(); }

inline void after() {
  // The boxes an input opened are answered: the host's record of them need not grow.
  fuzzworld::headless().clear();
  static int inputs = 0;
  if (++inputs % kInputsPerFrame == 0) {
    if (tessel_frame_state() <= FRAME_RUNNING) tessel_frame();
    fuzzworld::follow(fuzzworld::fakes(fuzzworld::headless()));
  }
  // An input that took the program out of the world brings it back itself, so that the
  // way back counts for that input and not for the next.
  if (!fuzzworld::in_world()) fuzzworld::ready();
}

}  // namespace fuzzdispatch
