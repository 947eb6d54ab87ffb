// Records of the model and texture caches as a damaged or foreign file may hold them. The
// first input byte picks the cache (even: model, odd: texture); the rest is the record. Any
// record reads as a miss or a clump/texture, and a damaged one is gone afterwards.
#include <cstdlib>

#include "client/cache/chunk.h"
#include "client/cache/database.h"
#include "client/cache/download.h"
#include "engine/vxl21.h"
#include "fuzz/core/fuzz_files.h"
#include "platform/progdir.h"

namespace {

void store_raw(const char* name, int compressed, const uint8_t* key, const uint8_t* data, size_t size) {
  std::string path = std::string(download_get_path()) + "/" + name;
  database* db = database_open(path.c_str(), CHUNK_KEY_LENGTH, 0, 16384, 4096, compressed, 1);
  if (!db) std::abort();
  database_store(db, key, data, static_cast<int32_t>(size));
  database_close(db);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = [] {
    platform_set_program_dir(fuzz_folder());
    return VxInitialize(nullptr) && database_init() == 0 && download_init() == 0;
  }();
  if (!ready || size < 2 || size > 65536) return 0;
  bool texture = data[0] & 1;
  uint8_t key[CHUNK_KEY_LENGTH];
  chunk_term();
  chunk_make_key(texture ? "fuzz.jpg" : "fuzz", texture ? nullptr : "model", key);
  store_raw(texture ? "texture" : "model", texture ? 0 : 1, key, data + 1, size - 1);
  chunk_reset();
  if (texture) {
    if (VxTexture* t = chunk_load_texture("fuzz.jpg")) VxDestroyTexture(t);
  } else {
    uint8_t* header = nullptr;
    int length = -1;
    if (chunk_header("fuzz", "model", &header, &length)) {
      if (length < 0 || !header) std::abort();
      std::free(header);
    }
    if (VxClump* c = chunk_load("fuzz", "model")) VxDestroyClump(c);
  }
  return 0;
}
