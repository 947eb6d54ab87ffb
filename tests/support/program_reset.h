#pragma once
// Undoes what a start of the whole program leaves in its modules, so the next start in the
// same test process begins as a fresh one would.
#include "client/app/frame.h"
#include "client/app/program.h"
#include "client/core/files.h"
#include "client/core/identity.h"
#include "client/core/lifecycle.h"
#include "client/core/log.h"
#include "client/core/msg.h"

namespace testutil {

inline void reset_program_modules() {
  app_reset_for_test();
  lifecycle_set_tables(nullptr);
  frame_set_links(nullptr);
  identity_reset();
  log_reset();
  msg_reset();
  file_term();
}

}  // namespace testutil
