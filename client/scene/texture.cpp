#include "client/scene/texture.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <string>
#include <vector>

#include "client/cache/chunk.h"
#include "client/cache/download.h"
#include "client/cache/image.h"
#include "client/cache/unzip.h"
#include "client/core/files.h"
#include "client/core/hash.h"
#include "client/core/log.h"

namespace {

struct mask_record {
  char* name;
  download_request* download;
  int32_t failed;
};

struct waiting_node {
  waiting_node* next;
  texture_callback callback;
  void* user;
};

}  // namespace

struct texture_record {
  char* name;
  download_request* download;
  int32_t ready;
  int32_t have_bmp;
  int32_t reference_count;
  VxTexture* engine_texture;
  mask_record* mask;
  waiting_node* waiting;
  int32_t reading;  // its converted picture is being read back into the engine
  int32_t in_memory;  // its picture is converted in the memory folder, not the cache
};

namespace {

enum { kTextureBuckets = 307, kMaskBuckets = 127, kMaxName = 255 };

hash_table* textures = nullptr;
hash_table* masks = nullptr;

bool trace() { return trace_switches[TRACE_GENERAL] != 0; }
bool trace_texture() { return trace_switches[TRACE_TEXTURE] != 0; }

char* copy_text(const std::string& s) {
  char* c = static_cast<char*>(std::malloc(s.size() + 1));
  if (c) std::memcpy(c, s.c_str(), s.size() + 1);
  return c;
}

// The record key: lower-cased, cut at the first '.'.
std::string texture_key(const char* name) {
  std::string key;
  for (const char* p = name; *p && *p != '.' && key.size() < kMaxName; ++p)
    key += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  return key;
}

// "<object cache>/textures/<name>.bmp"
std::string bmp_path(const char* name) {
  return std::string(download_get_path()) + "/textures/" + name + ".bmp";
}

// A cache that cannot be written (read-only, full) takes no converted picture: pictures are
// then converted in a folder of our own in memory for the rest of the run, read back from
// there into the engine and kept as the chunk store keeps them.
bool cache_refused = false;
std::string memory_folder;

std::string bmp_path(const texture_record* t) {
  return t->in_memory ? memory_folder + "/" + t->name + ".bmp" : bmp_path(t->name);
}

bool cache_takes_pictures() {
  std::string probe = std::string(download_get_path()) + "/textures/.picture";
  if (file_store(probe.c_str(), "", 1) != 0) return false;
  file_delete(probe.c_str());
  return true;
}

void remove_memory_folder() {
  std::error_code ignored;
  if (!memory_folder.empty()) std::filesystem::remove_all(memory_folder, ignored);
  memory_folder.clear();
}

bool make_memory_folder() {
  if (!memory_folder.empty()) return true;
  char folder[] = "/dev/shm/tessel-XXXXXX";
  if (!mkdtemp(folder)) return false;
  static const bool at_exit = std::atexit(remove_memory_folder) == 0;
  (void)at_exit;
  memory_folder = folder;
  log_note("textures: the cache takes no pictures; they are converted in memory (%s) for this run", folder);
  return true;
}

// Names from model files become file names: one that could leave the textures folder is
// never used as one.
bool safe_file_name(const char* name) {
  if (!name[0]) return false;
  if (std::strchr(name, '/') || std::strchr(name, '\\')) return false;
  return std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

template <typename F>
void for_each_texture(F fn) {
  hash_for_each(textures, [&](void* data) { fn(*static_cast<texture_record**>(data)); });
}

// True when a texture using the mask is not finished yet (or is being read again).
bool mask_still_needed(const mask_record* mask) {
  bool needed = false;
  for_each_texture([&](texture_record* t) {
    if (t->mask == mask && (!t->ready || t->reading)) needed = true;
  });
  return needed;
}

void delete_mask_bmp(mask_record* mask) {
  if (!mask || mask_still_needed(mask) || !safe_file_name(mask->name)) return;
  file_delete(bmp_path(mask->name).c_str());
}

void apply_mask(texture_record* t) {
  if (trace_texture()) log_write("apply_mask (%s)", t->mask->name);
  VxRaster* raster = safe_file_name(t->mask->name) ? VxReadMaskRaster(t->mask->name) : nullptr;
  if (trace_texture()) log_write("VxReadMaskRaster");
  if (!raster) {
    if (trace_texture()) log_write("VxReadMaskRaster failed!");
    return;
  }
  if (trace_texture()) log_write("VxMaskTexture");
  VxMaskTexture(t->engine_texture, raster);
  if (trace_texture()) log_write("VxDestroyRaster");
  VxDestroyRaster(raster);
  if (trace_texture()) log_write("apply_mask done");
}

// The texture's picture is in the engine (reloaded: a newer picture replaced the one of the
// loaded texture): the mask, the chunk cache, the waiting requests, the files.
void complete_texture(texture_record* t, bool reloaded) {
  if (trace_texture()) {
    log_write("t -> mask: %p", static_cast<void*>(t->mask));
    if (t->mask) log_write("t -> mask -> failed: %d", t->mask->failed);
  }
  if (t->mask && !t->mask->failed) apply_mask(t);
  chunk_save_texture(t->engine_texture, t->name);
  t->ready = 1;
  if (!reloaded) {
    if (trace_texture()) log_write("Beginning callbacks");
    // The list is taken off first: a callback may ask for textures again.
    waiting_node* list = t->waiting;
    t->waiting = nullptr;
    while (list) {
      waiting_node* next = list->next;
      if (list->callback) list->callback(list->user, 0);
      std::free(list);
      list = next;
    }
    if (trace_texture()) log_write("callbacks complete");
  }
  if (t->reference_count == 0 && t->engine_texture) {
    if (trace_texture()) log_write("VxDestroyTexture");
    VxDestroyTexture(t->engine_texture);
    t->engine_texture = nullptr;
  }
  file_delete(bmp_path(t).c_str());
  delete_mask_bmp(t->mask);
}

// The converted picture, read back in slices by the image queue.
void picture_read(void* user, int32_t status, VxRaster* raster) {
  auto* t = static_cast<texture_record*>(user);
  t->reading = 0;
  if (t->engine_texture) {
    // A newer copy: the loaded texture takes the new picture in place.
    if (trace_texture()) log_write("reload (%s)", t->name);
    if (status != 0 || !raster) {
      if (trace_texture()) log_write("ERROR: VxReadRaster() failed!");
    } else if (!VxSetTextureRaster(t->engine_texture, raster)) {
      if (trace_texture()) log_write("ERROR: VxSetTextureRaster () failed!");
      VxDestroyRaster(raster);
    } else if (trace_texture()) {
      log_write("reload complete");
    }
    complete_texture(t, true);
    return;
  }
  VxTexture* texture = status == 0 && raster ? VxCreateTexture(raster) : nullptr;
  if (!texture) {
    if (raster) VxDestroyRaster(raster);
    if (trace_texture()) log_write("ERROR: VxReadNamedTexture failed!");
    file_delete(bmp_path(t).c_str());
    return;
  }
  VxAddNamedTexture(t->name, texture);
  t->engine_texture = texture;
  if (trace_texture()) log_write("VxReadNamedTexture complete");
  complete_texture(t, false);
}

void finish_texture(texture_record* t) {
  if (trace_texture()) log_write("finish_texture (%s)", t->name);
  if (!t->have_bmp && trace_texture()) log_write("ERROR: have_bmp is FALSE!");
  if (t->download && trace_texture()) log_write("ERROR: download still in progress!");
  // A read under way finishes it, with the mask as it stands then.
  if (t->reading) return;
  if (!t->engine_texture && VxFindNamedTexture(t->name)) {
    // The engine holds a texture of this name already: it is taken as it is.
    t->engine_texture = VxReadNamedTexture(t->name);
    complete_texture(t, false);
    return;
  }
  if (trace_texture()) log_write(t->engine_texture ? "VxReadRaster" : "VxReadNamedTexture");
  // A large picture is read in slices, not in one piece of the window's time.
  t->reading = 1;
  if (image_read(bmp_path(t).c_str(), picture_read, t) != 0) {
    t->reading = 0;
    if (!t->engine_texture) file_delete(bmp_path(t).c_str());
  }
}

void texture_arrived(void* user, int status, uint8_t* data, int size);

// The picture is fetched whole once more.
void fetch_again(texture_record* t) {
  if (!t->download) {
    std::string jpg = std::string(t->name) + ".jpg";
    t->download = download_file("textures", jpg.c_str(), DOWNLOAD_CLASS_TEXTURES, texture_arrived, t);
  }
  download_force(t->download);
}

void image_done(void* user, int32_t status) {
  auto* t = static_cast<texture_record*>(user);
  if (trace_texture()) log_write("texture: image_callback (%d)", status);
  if (status != 0) {
    // Fetched once more for the memory folder when the cache would not take it.
    if (t->in_memory || t->download || (!cache_refused && cache_takes_pictures())) return;
    cache_refused = true;
    if (!make_memory_folder()) return;
    t->in_memory = 1;
    fetch_again(t);
    return;
  }
  t->have_bmp = 1;
  if (t->mask && t->mask->download) return;  // the mask's arrival finishes it
  finish_texture(t);
}

void mask_done(void* user, int status, uint8_t* data, int size) {
  auto* m = static_cast<mask_record*>(user);
  if (trace_texture()) log_write("texture: mask_callback");
  m->download = nullptr;
  if (status == DOWNLOAD_ARRIVED) {
    if (!data || size <= 0 || !safe_file_name(m->name) ||
        unzip_memory(data, static_cast<size_t>(size), bmp_path(m->name).c_str(), UNZIP_KIND_MASK) != 0)
      m->failed = 1;
    else
      m->failed = 0;
  } else if (status != DOWNLOAD_CURRENT) {
    m->failed = 1;
  }
  // Textures converted since they were last finished (their BMP still lies there). Taken
  // first: finishing calls back into models, which may add textures to the table.
  std::vector<texture_record*> waiting;
  for_each_texture([&](texture_record* t) {
    if (t->mask == m && t->have_bmp && !t->download && file_is_regular(bmp_path(t).c_str()))
      waiting.push_back(t);
  });
  for (texture_record* t : waiting) finish_texture(t);
  delete_mask_bmp(m);
}

void texture_arrived(void* user, int status, uint8_t* data, int size) {
  auto* t = static_cast<texture_record*>(user);
  if (trace_texture()) log_write("texture: callback (%d)", status);
  t->download = nullptr;
  if (status == DOWNLOAD_FAILED) return;
  mask_record* m = t->mask;
  if (m && !m->download && safe_file_name(m->name)) {
    std::string zip = std::string(m->name) + ".zip";
    m->download = download_file("textures", zip.c_str(), DOWNLOAD_CLASS_TEXTURES, mask_done, m);
  }
  if (status == DOWNLOAD_CURRENT) {
    if (t->have_bmp && !t->ready) image_done(t, 0);
  } else if (status == DOWNLOAD_ARRIVED) {
    if (cache_refused && make_memory_folder()) t->in_memory = 1;
    if (data && size > 0) image_convert(data, static_cast<size_t>(size), bmp_path(t).c_str(), 1, image_done, t);
    if (m && m->download && !file_is_regular(bmp_path(m->name).c_str())) download_force(m->download);
  }
  if (trace_texture()) log_write("texture: callback complete");
}

void free_texture(void* data) {
  texture_record* t = *static_cast<texture_record**>(data);
  if (t->engine_texture) VxDestroyTexture(t->engine_texture);
  while (t->waiting) {
    waiting_node* next = t->waiting->next;
    std::free(t->waiting);
    t->waiting = next;
  }
  std::free(t->name);
  std::free(t);
}

void free_mask(void* data) {
  mask_record* m = *static_cast<mask_record**>(data);
  std::free(m->name);
  std::free(m);
}

}  // namespace

texture_record* texture_download(const char* name, texture_callback callback, void* user) {
  if (!name) return nullptr;
  if (trace()) log_write("texture_download (%s)", name);
  if (!textures && !(textures = hash_create(kTextureBuckets))) return nullptr;
  std::string key = texture_key(name);
  int found = 0;
  auto** slot = hash_find_or_add_as<texture_record*>(textures, key.size(), key.data(), &found);
  if (!slot) return nullptr;
  texture_record* t;
  if (found) {
    t = *slot;
  } else {
    t = static_cast<texture_record*>(std::calloc(1, sizeof(texture_record)));
    char* copy = copy_text(key);
    if (!t || !copy) {
      std::free(t);
      std::free(copy);
      hash_remove(textures, key.size(), key.data());
      return nullptr;
    }
    *slot = t;
    t->name = copy;
    std::string jpg = key + ".jpg";
    t->download = key.empty() ? nullptr
                              : download_file("textures", jpg.c_str(), DOWNLOAD_CLASS_TEXTURES, texture_arrived, t);
    std::string bmp = bmp_path(t->name);
    if (!key.empty() && file_is_regular(bmp.c_str())) {
      t->have_bmp = 1;
      chunk_delete_texture(t->name);
    } else {
      t->engine_texture = key.empty() ? nullptr : chunk_load_texture(t->name);
    }
    t->ready = t->engine_texture ? 1 : 0;
    if (!t->ready && !t->have_bmp) download_force(t->download);
  }
  if (!t->ready && callback) {
    auto* node = static_cast<waiting_node*>(std::malloc(sizeof(waiting_node)));
    if (node) {
      node->callback = callback;
      node->user = user;
      node->next = t->waiting;
      t->waiting = node;
    }
  }
  return t;
}

void texture_cancel(texture_record* t, texture_callback callback, void* user) {
  if (!t) return;
  for (waiting_node** at = &t->waiting; *at;) {
    waiting_node* node = *at;
    if (node->callback == callback && node->user == user) {
      *at = node->next;
      std::free(node);
    } else {
      at = &node->next;
    }
  }
}

void texture_set_mask(texture_record* t, const char* mask_name) {
  if (trace()) log_write("texture_set_mask");
  if (!t || !mask_name) return;
  if (!masks && !(masks = hash_create(kMaskBuckets))) return;
  size_t n = std::strlen(mask_name);
  int found = 0;
  auto** slot = hash_find_or_add_as<mask_record*>(masks, n, mask_name, &found);
  if (!slot) return;
  if (!found) {
    auto* m = static_cast<mask_record*>(std::calloc(1, sizeof(mask_record)));
    char* copy = copy_text(mask_name);
    if (!m || !copy) {
      std::free(m);
      std::free(copy);
      hash_remove(masks, n, mask_name);
      return;
    }
    m->name = copy;
    // A name that could leave the textures folder is never fetched.
    m->failed = safe_file_name(copy) ? 0 : 1;
    *slot = m;
  }
  t->mask = *slot;
}

void texture_reference(texture_record* t) {
  if (trace()) log_write("texture_reference");
  if (!t) return;
  if (t->download) download_reference(t->download);
  if (t->mask && t->mask->download) download_reference(t->mask->download);
  ++t->reference_count;
  if (!t->engine_texture && t->ready) t->engine_texture = chunk_load_texture(t->name);
  if (!t->engine_texture && t->ready && !t->reading) {
    // The chunk store gave it up (its share of the disk limit, or damage): fetched again.
    t->ready = 0;
    t->have_bmp = 0;
    fetch_again(t);
  }
}

void texture_dereference(texture_record* t) {
  if (trace()) log_write("texture_dereference");
  if (!t) return;
  if (t->download) download_dereference(t->download);
  if (t->reference_count <= 0) return;
  if (--t->reference_count == 0 && t->engine_texture) {
    VxDestroyTexture(t->engine_texture);
    t->engine_texture = nullptr;
  }
}

int texture_ready(const texture_record* t) { return t ? t->ready : 0; }
VxTexture* texture_engine_texture(const texture_record* t) { return t ? t->engine_texture : nullptr; }
int texture_reference_count(const texture_record* t) { return t ? t->reference_count : 0; }
const char* texture_name(const texture_record* t) { return t ? t->name : ""; }

void texture_reset() {
  if (trace()) log_write("texture_reset");
  hash_clear(textures, free_texture);
  hash_clear(masks, free_mask);
  // The next world's cache is tried afresh.
  cache_refused = false;
  remove_memory_folder();
}
