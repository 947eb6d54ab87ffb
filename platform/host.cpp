#include "platform/host.h"

#include "platform/headless_host.h"

Host::~Host() = default;

namespace {
Host* current_host = nullptr;

Host* fallback_host() {
  // Never destroyed: boxes may be shown from static destructors at exit.
  static HeadlessHost* fallback = new HeadlessHost(true);
  return fallback;
}
}  // namespace

Host* host() { return current_host ? current_host : fallback_host(); }

void host_set(Host* h) { current_host = h; }

int host_default_answer(unsigned flags) {
  switch (flags & HOST_MB_BUTTONS) {
    case HOST_MB_YESNO:
      return HOST_IDYES;
    default:
      return HOST_IDOK;
  }
}
