// Upgrade kits from the object server: any bytes are checked whole before anything is
// written. A kit that passes names only safe files, and builds back into a kit that passes
// with the same entries.
#include <cstdlib>

#include "patch/kit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<kit_entry> entries;
  std::string error;
  if (!kit_parse(data, size, &entries, &error)) {
    if (error.empty()) std::abort();
    return 0;
  }
  for (const kit_entry& e : entries)
    if (!kit_name_safe(e.name) || (e.kind != KIT_FILE && e.kind != KIT_DELETE)) std::abort();
  std::vector<uint8_t> again = kit_build(entries);
  std::vector<kit_entry> back;
  if (!kit_parse(again.data(), again.size(), &back, &error) || back.size() != entries.size()) std::abort();
  for (size_t i = 0; i < back.size(); ++i)
    if (back[i].name != entries[i].name || back[i].data != entries[i].data || back[i].kind != entries[i].kind ||
        back[i].mode != entries[i].mode)
      std::abort();
  return 0;
}
