#include "client/core/lifecycle.h"

#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/tessel.h"
#include "engine/vxl21.h"

namespace {

// Until the program registers its tables there is nothing to start or stop.
const lifecycle_tables kNone = {};
const lifecycle_tables* program = &kNone;
const lifecycle_tables* current = &kNone;
std::string cause;
std::string text_with_cause;

// A quit asked for meanwhile (in a box a step showed) ends the sequence before `next`: the
// shutdown runs, and true.
bool ended_on_request(const char* next) {
  if (!tessel_quit_requested()) return false;
  if (trace_switches[TRACE_GENERAL]) log_write("%s: not run, quit asked for", next);
  tessel_shutdown(nullptr);
  return true;
}

}  // namespace

void lifecycle_set_program(const lifecycle_tables* tables) {
  bool following = current == program;
  program = tables ? tables : &kNone;
  if (following) current = program;
}
const lifecycle_tables& lifecycle_program() { return *program; }
const lifecycle_tables& lifecycle_current() { return *current; }
void lifecycle_set_tables(const lifecycle_tables* tables) { current = tables ? tables : program; }

const char* lifecycle_failure_text(const lifecycle_step& step, int result) {
  switch (step.failure) {
    case LC_FATAL:
      return msg(step.message);
    case LC_FATAL_TITLE:
      return msg_arg(step.message, msg(68));
    case LC_FATAL_CODE:
      return msg_arg(step.message, result);
    case LC_FATAL_TEXT:
      if (cause.empty()) return step.text ? step.text : "";
      text_with_cause = std::string(step.text ? step.text : "") + "\n\n" + cause;
      return text_with_cause.c_str();
    case LC_FATAL_ENGINE:
      return msg(VxGetError() == VX_E_NO_MEMORY ? step.message : step.message2);
    default:
      return nullptr;
  }
}

void lifecycle_set_cause(const std::string& why) { cause = why; }

int lifecycle_run(const lifecycle_step* steps, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const lifecycle_step& s = steps[i];
    if (ended_on_request(s.name)) return 0;
    cause.clear();
    int r = s.run ? s.run() : 0;
    if (r == 0 || s.failure == LC_IGNORE) continue;
    if (trace_switches[TRACE_GENERAL]) log_write("%s failed: %d", s.name, r);
    if (s.failure == LC_STOP) return 0;
    tessel_shutdown(lifecycle_failure_text(s, r));
    return 0;
  }
  // Asked for in the last step: nothing would end the loop that follows otherwise.
  return ended_on_request("the loop") ? 0 : 1;
}
