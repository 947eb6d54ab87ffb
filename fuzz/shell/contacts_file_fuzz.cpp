// "contacts.txt" as a user or another build left it: any bytes load into at most 100
// contacts, and what is saved loads back as the same list.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "client/shell/contacts.h"
#include "fuzz/core/fuzz_files.h"
#include "platform/progdir.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = [] {
    platform_set_program_dir(fuzz_folder());
    return fuzz_folder();
  }();
  if (!fuzz_write(dir + "/contacts.txt", data, size)) return 0;
  contacts_reset();
  contacts_load();
  if (contacts_count() < 0 || contacts_count() > CONTACTS_MAX) std::abort();
  std::vector<int32_t> first = contacts_numbers();
  std::sort(first.begin(), first.end());
  for (int32_t n : first)
    if (n == 0) std::abort();
  contacts_save();
  contacts_reset();
  contacts_load();
  std::vector<int32_t> again = contacts_numbers();
  std::sort(again.begin(), again.end());
  if (again != first) std::abort();
  contacts_reset();
  return 0;
}
