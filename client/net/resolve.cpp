#include "client/net/resolve.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/core/log.h"
#include "platform/clock.h"

namespace {

// Shared between the window thread and one worker; the worker only writes result and done.
struct lookup_job {
  std::string name;
  uint32_t result = RESOLVE_FAILED;
  std::atomic<bool> done{false};
};

struct resolve_request {
  std::string name;
  bool done = false;
  uint32_t result = RESOLVE_PENDING;
  uint32_t failed_at = 0;
  int retries = 0;
  std::shared_ptr<lookup_job> job;
  std::vector<std::unique_ptr<resolve_waiter>> waiters;
};

std::vector<std::unique_ptr<resolve_request>> requests;

void trace(const char* text) {
  if (trace_switches[TRACE_GENERAL]) log_write("%s", text);
}

void lookup(std::shared_ptr<lookup_job> job) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  uint32_t result = RESOLVE_FAILED;
  if (getaddrinfo(job->name.c_str(), nullptr, &hints, &list) == 0) {
    for (addrinfo* a = list; a; a = a->ai_next) {
      if (a->ai_family == AF_INET && a->ai_addr) {
        result = reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
        break;
      }
    }
    freeaddrinfo(list);
  }
  job->result = result;
  job->done.store(true, std::memory_order_release);
}

bool start_lookup(resolve_request* r) {
  auto job = std::make_shared<lookup_job>();
  job->name = r->name;
  try {
    std::thread(lookup, job).detach();
  } catch (...) {
    return false;
  }
  r->job = std::move(job);
  return true;
}

void deliver(resolve_request* r, uint32_t result) {
  r->result = result;
  r->done = true;
  r->job.reset();
  if (result == RESOLVE_FAILED) r->failed_at = platform_ticks();
  for (auto& w : r->waiters) {
    if (!w->cancelled && !w->delivered && w->address) *w->address = result;
    w->delivered = true;
  }
}

resolve_waiter* add_waiter(resolve_request* r, uint32_t* address) {
  r->waiters.push_back(std::make_unique<resolve_waiter>());
  r->waiters.back()->address = address;
  return r->waiters.back().get();
}

}  // namespace

int resolve_init() {
  trace("resolve_init");
  return 0;
}

resolve_waiter* resolve(const char* name, uint32_t* address) {
  trace("resolve");
  if (!address) return nullptr;
  if (!name || !*name) {
    *address = RESOLVE_FAILED;
    return nullptr;
  }
  in_addr numeric{};
  if (inet_pton(AF_INET, name, &numeric) == 1) {
    *address = numeric.s_addr;
    return nullptr;
  }
  *address = RESOLVE_PENDING;
  for (auto& r : requests) {
    if (r->name != name) continue;
    if (r->done) {
      bool stale = r->result == RESOLVE_FAILED &&
                   tick_diff(r->failed_at, platform_ticks()) >= static_cast<int32_t>(RESOLVE_FAILURE_KEEP);
      if (!stale) {
        *address = r->result;
        return nullptr;
      }
      // A failure is not kept for the rest of the run: ask again.
      if (!start_lookup(r.get())) {
        *address = RESOLVE_FAILED;
        return nullptr;
      }
      r->done = false;
      r->retries = 0;
      r->result = RESOLVE_PENDING;
    }
    return add_waiter(r.get(), address);
  }
  auto r = std::make_unique<resolve_request>();
  r->name = name;
  if (!start_lookup(r.get())) {
    *address = RESOLVE_FAILED;
    return nullptr;
  }
  resolve_waiter* w = add_waiter(r.get(), address);
  requests.push_back(std::move(r));
  return w;
}

int resolve_poll() {
  int finished = 0;
  for (auto& r : requests) {
    if (r->done || !r->job || !r->job->done.load(std::memory_order_acquire)) continue;
    uint32_t result = r->job->result;
    if (result == RESOLVE_FAILED && r->retries < RESOLVE_RETRIES) {
      ++r->retries;
      if (start_lookup(r.get())) continue;
    }
    deliver(r.get(), result);
    ++finished;
  }
  return finished;
}

void resolve_term() { requests.clear(); }
