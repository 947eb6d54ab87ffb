// "teleport.txt" as a user or an older build left it: any bytes load, and what is saved
// loads back as the same list.
#include <cstdlib>
#include <vector>

#include "client/servers/teleport.h"
#include "fuzz/core/fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string in = fuzz_folder() + "/teleport.txt";
  static const std::string out = fuzz_folder() + "/teleport_saved.txt";
  if (!fuzz_write(in, data, size)) return 0;
  if (teleport_load(in.c_str()) != 0) std::abort();
  std::vector<teleport_entry> first;
  for (size_t i = 0; i < teleport_count(); ++i) first.push_back(*teleport_entry_at(i));
  if (teleport_save(out.c_str()) != 0) return 0;
  if (teleport_load(out.c_str()) != 0 || teleport_count() != first.size()) std::abort();
  for (size_t i = 0; i < first.size(); ++i) {
    const teleport_entry* e = teleport_entry_at(i);
    if (e->place != first[i].place || e->label != first[i].label) std::abort();
  }
  return 0;
}
