// Settings files edited by hand or left half-written: any bytes read as "tessel.ini". Reads
// never crash, and a value set is the value read back, with the other keys kept.
#include <cstdlib>
#include <cstring>

#include "client/core/ini.h"
#include "fuzz/core/fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz_folder() + "/tessel.ini";
  if (!fuzz_write(path, data, size)) return 0;
  const char* keys[][2] = {{"layout", "main_x"}, {"show", "toolbar"}, {"universe", "host"},
                           {"Chat", "Avatars"}, {"", ""}, {"debug", "trace"}};
  char before[64], out[64];
  for (auto& k : keys) {
    ini_get(path.c_str(), k[0], k[1], "d", out, sizeof out);
    if (std::strlen(out) >= sizeof out) std::abort();
    (void)ini_get_int(path.c_str(), k[0], k[1], -1);
  }
  ini_get(path.c_str(), "show", "toolbar", "absent", before, sizeof before);
  if (ini_set(path.c_str(), "fuzz", "key", "value")) {
    if (!ini_get(path.c_str(), "fuzz", "key", "", out, sizeof out) || std::strcmp(out, "value"))
      std::abort();
    ini_get(path.c_str(), "show", "toolbar", "absent", out, sizeof out);
    if (std::strcmp(before, out)) std::abort();
  }
  std::remove(path.c_str());
  return 0;
}
