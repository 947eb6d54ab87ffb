// Message files from an install or a translation: any bytes read as a ".tzm" set. A file that
// holds no numbered text is refused as missing; either way every number then gives a text, and
// texts used as formats never read arguments they were not given.
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "client/core/msg.h"
#include "fuzz/core/fuzz_files.h"
#include "platform/progdir.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = [] {
    const std::string& d = fuzz_folder();
    mkdir((d + "/Messages").c_str(), 0700);
    platform_set_program_dir(d);
    return d;
  }();
  if (!fuzz_write(dir + "/Messages/fuzz.tzm", data, size)) return 0;
  msg_reset();
  msg_load("fuzz");
  for (int n = 0; n < MSG_COUNT; ++n) {
    const char* t = msg(n);
    if (!t) std::abort();
    const char* a = msg_arg(n, 42, "text");
    if (!a || std::strlen(a) >= MSG_ARG_SIZE) std::abort();
  }
  return 0;
}
