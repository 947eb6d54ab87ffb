// Archive bytes from anywhere: every input must end in a result code, never a crash or a
// read outside the buffer, and a failed extraction leaves no file behind.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/cache/unzip.h"
#include "client/core/identity.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string out = "/tmp/tessel_unzip_fuzz_" + std::to_string(getpid());
  // The password the enciphered seeds were made with.
  static const bool password = (object_password_set("fuzz", 4), true);
  (void)password;
  // Deciphering works in place: the input itself stays untouched.
  uint8_t* copy = static_cast<uint8_t*>(std::malloc(size ? size : 1));
  if (!copy) return 0;
  if (size) std::memcpy(copy, data, size);
  int enciphered = -1;
  int rc = unzip_to_file(copy, size, out.c_str(), &enciphered, UNZIP_KIND_MODEL);
  std::free(copy);
  if (rc < 0 || rc > UNZIP_TOO_LARGE || (enciphered != 0 && enciphered != 1)) std::abort();
  if (rc != UNZIP_OK && access(out.c_str(), F_OK) == 0) std::abort();
  std::remove(out.c_str());
  return 0;
}
