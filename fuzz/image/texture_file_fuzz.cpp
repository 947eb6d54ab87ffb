// Texture chunk files in the cache: any bytes read back as a texture, never a crash; a
// texture that loads saves and loads again.
#include <cstdlib>

#include "client/cache/chunk.h"
#include "engine/vxl21.h"
#include "fuzz/core/fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = VxInitialize(nullptr);
  if (!ready) return 0;
  static const std::string path = fuzz_folder() + "/texture.chunk";
  static const std::string again = fuzz_folder() + "/texture_again.chunk";
  if (!fuzz_write(path, data, size)) return 0;
  VxTexture* t = chunk_load_texture_from_file(path.c_str());
  if (!t) return 0;
  if (chunk_save_texture_to_file(t, again.c_str()) == 0) {
    VxTexture* u = chunk_load_texture_from_file(again.c_str());
    if (!u) std::abort();
    VxDestroyTexture(u);
  }
  VxDestroyTexture(t);
  return 0;
}
