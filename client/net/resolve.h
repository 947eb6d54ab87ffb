#pragma once
// Asynchronous host-name look-ups. Each look-up runs on a worker thread; its result is
// taken on the window thread by resolve_poll (called once a frame) and stored into every
// waiting caller's address variable.
#include <cstdint>

// Values of a caller's address variable besides an IPv4 address in network order.
constexpr uint32_t RESOLVE_PENDING = 0;
constexpr uint32_t RESOLVE_FAILED = 0xFFFFFFFFu;
// A failed look-up is answered from memory for this long, then asked again.
constexpr uint32_t RESOLVE_FAILURE_KEEP = 30000;
// Repeats of a failed look-up before it counts as failed.
constexpr int RESOLVE_RETRIES = 3;

struct resolve_waiter {
  uint32_t* address = nullptr;
  bool cancelled = false;  // set by the caller: the result is then not stored
  bool delivered = false;
};

int resolve_init();
// A dotted numeric address is stored at once. Otherwise *address becomes RESOLVE_PENDING
// (or the remembered result) and the returned waiter, valid until resolve_term, lets the
// caller cancel the delivery. nullptr when nothing is left to wait for.
resolve_waiter* resolve(const char* name, uint32_t* address);
// Takes finished look-ups and delivers their results. Returns how many finished.
int resolve_poll();
// Forgets every request (running look-ups finish on their own and are dropped).
void resolve_term();
