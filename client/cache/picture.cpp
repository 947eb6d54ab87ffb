#include "client/cache/picture.h"

#include <strings.h>
#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>

#include "client/cache/chunk.h"
#include "client/cache/download.h"
#include "client/cache/image.h"
#include "client/core/files.h"
#include "client/core/hash.h"
#include "client/core/lists.h"
#include "client/core/log.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/scene/model.h"
#include "client/servers/attributes.h"
#include "engine/vxl21.h"
#include "platform/clock.h"
#include "platform/progdir.h"

picture_hooks picture_hook = {};

struct picture {
  char* address;  // host and path, no scheme
  char* file;     // texture chunk file in the misc cache, or null
  download_request* download;
  VxTexture* texture;
  int32_t saved;
  int32_t max_kb;
  uint32_t next_refresh;
  int32_t refresh_interval;  // ms, 0 none
  PointerList shown_on;      // model instances
};

namespace {

constexpr int kBuckets = 101;
constexpr int kPictureTag = 200;
constexpr size_t kAddressRoom = 256;

hash_table* table = nullptr;
std::string scratch;
// Callbacks of downloads and conversions carry a picture; one freed meanwhile is not touched.
std::unordered_set<picture*> live;

bool tracing() { return trace_switches[TRACE_GENERAL] != 0; }

int pictures_option() {
  return picture_hook.dloptions_pictures ? picture_hook.dloptions_pictures() : dloptions_pictures();
}

// A name with a '/' that is not its first character names a URL.
bool is_url(const char* name) { return name[0] != '/' && std::strchr(name, '/'); }

void set_face(VxPolygon* polygon, void* texture) {
  if (VxGetPolygonTag(polygon) == kPictureTag)
    VxSetPolygonTexture(polygon, static_cast<VxTexture*>(texture));
}

void put_on(model_instance* instance, VxTexture* texture) {
  VxClump* clump = model_clump(instance);
  if (clump) VxForAllPolygonsInClumpWithArg(clump, set_face, texture);
}

// Puts the texture on every instance that shows the picture, in place of the one before.
void show_texture(picture* p, VxTexture* texture) {
  p->shown_on.Reset();
  while (void* item = p->shown_on.Next()) put_on(static_cast<model_instance*>(item), texture);
  if (p->texture) VxDestroyTexture(p->texture);
  p->texture = texture;
  if (p->refresh_interval) p->next_refresh = platform_ticks() + static_cast<uint32_t>(p->refresh_interval);
}

void load_texture(picture* p) {
  if (!p->file) return;
  if (VxTexture* texture = chunk_load_texture_from_file(p->file)) show_texture(p, texture);
}

void make_misc_folder() {
  std::string dir = platform_program_dir() + "/cache";
  file_make_dir(dir.c_str());
  dir += "/art";
  file_make_dir(dir.c_str());
  dir += "/misc";
  file_make_dir(dir.c_str());
}

// The converted picture, read back in slices by the image queue.
void picture_read(void* user, int32_t status, VxRaster* raster) {
  picture* p = static_cast<picture*>(user);
  file_delete(scratch.c_str());
  VxTexture* texture = status == 0 && raster && live.count(p) ? VxCreateTexture(raster) : nullptr;
  if (!texture) {
    if (raster) VxDestroyRaster(raster);
    return;
  }
  int stored = -1;
  if (p->file) {
    make_misc_folder();
    stored = chunk_save_texture_to_file(texture, p->file);
  }
  // Only a file that was written can be shown from; what it holds is this texture.
  if (stored == CHUNK_OK) p->saved = 1;
  if (stored == CHUNK_OK && !p->shown_on.IsEmpty()) show_texture(p, texture);
  else VxDestroyTexture(texture);
}

void image_done(void* user, int32_t status) {
  picture* p = static_cast<picture*>(user);
  if (status != 0 || !live.count(p)) return;
  if (image_read(scratch.c_str(), picture_read, p) != 0) file_delete(scratch.c_str());
}

void download_done(void* user, int status, uint8_t* data, int size) {
  picture* p = static_cast<picture*>(user);
  if (!live.count(p)) return;
  p->download = nullptr;
  if (status != DOWNLOAD_ARRIVED || !data || size <= 0) return;
  image_convert(data, static_cast<size_t>(size), scratch.c_str(), 1, image_done, p);
}

// "<program>/cache/art/misc/<address as one name, without .jpg or .jpeg>.tzb"; null when
// 256 characters or more.
char* picture_path(const char* address) {
  char* name = file_name_from_url(address);
  if (!name) return nullptr;
  size_t n = std::strlen(name);
  if (n > 4 && !strcasecmp(name + n - 4, ".jpg")) name[n - 4] = 0;
  else if (n > 5 && !strcasecmp(name + n - 5, ".jpeg")) name[n - 5] = 0;
  char path[kAddressRoom];
  int w = std::snprintf(path, sizeof path, "%s/cache/art/misc/%s.tzb", platform_program_dir().c_str(), name);
  std::free(name);
  if (w < 0 || w >= static_cast<int>(sizeof path)) return nullptr;
  return strdup(path);
}

void start(picture* p, model_instance* instance) {
  p->download = download_url(p->address, p->max_kb, download_done, p);
  download_ignore_refresh(p->download);
  p->file = picture_path(p->address);
  if (p->file && file_is_regular(p->file)) {
    file_touch(p->file);
    VxTexture* texture = chunk_load_texture_from_file(p->file);
    if (texture) {
      p->saved = 1;
      if (instance) p->texture = texture;
      else VxDestroyTexture(texture);
      return;  // the download only revalidates
    }
    file_delete(p->file);
  }
  download_force(p->download);
}

void free_picture(picture* p) {
  live.erase(p);
  if (p->texture) VxDestroyTexture(p->texture);
  std::free(p->address);
  std::free(p->file);
  delete p;
}

}  // namespace

bool picture_url(const char* name, char* out, int out_size) {
  if (!name || !name[0] || !out || out_size <= 0) return false;
  std::string address;
  if (name[0] == '/') {
    address = std::string(attribute_get(ATTR_OBJECT_PATH)) + name;
  } else if (std::strchr(name, '/')) {
    const char* rest = !strncasecmp(name, "http://", 7) ? name + 7 : name;
    if (!std::strchr(rest, '/')) return false;
    address = rest;
  } else {
    address = std::string(attribute_get(ATTR_OBJECT_PATH)) + "/textures/" + name;
  }
  if (address.size() >= kAddressRoom || address.size() >= static_cast<size_t>(out_size)) return false;
  std::snprintf(out, out_size, "%s", address.c_str());
  return true;
}

int picture_init() {
  if (tracing()) log_write("picture_init");
  if (!table) table = hash_create(kBuckets);
  scratch = platform_program_dir() + "/temp.bmp";
  model_hook.picture_destroy = picture_destroy;
  model_hook.picture_reload = picture_reload;
  return 0;
}

picture* picture_create(model_instance* instance, const char* name, int update_seconds) {
  if (tracing()) log_write("picture_create (%s)", name ? name : "");
  if (!name || !table) return nullptr;
  int max_kb = 0;
  if (is_url(name)) {
    int option = pictures_option();
    if (option == 0) return nullptr;
    max_kb = option == 1 ? 0 : option;
  }
  char address[kAddressRoom];
  if (!picture_url(name, address, sizeof address)) return nullptr;
  int found = 0;
  picture** slot = hash_find_or_add_as<picture*>(table, std::strlen(address), address, &found);
  if (!slot) return nullptr;
  if (!found) {
    picture* p = new (std::nothrow) picture{};
    if (!p || !(p->address = strdup(address))) {
      delete p;
      hash_remove(table, std::strlen(address), address);
      return nullptr;
    }
    p->max_kb = max_kb;
    live.insert(p);
    *slot = p;
    start(p, instance);
  }
  picture* p = *slot;
  if (update_seconds < 0) update_seconds = 0;
  if (update_seconds > INT32_MAX / 1000) update_seconds = INT32_MAX / 1000;
  // A new interval counts from now.
  if (p->refresh_interval != update_seconds * 1000)
    p->next_refresh = platform_ticks() + static_cast<uint32_t>(update_seconds) * 1000u;
  p->refresh_interval = update_seconds * 1000;
  download_reference(p->download);
  if (instance) {
    model_set_picture(instance, p);
    p->shown_on.Remove(instance);  // shown once, however often it is asked for
    p->shown_on.Add(instance);
    if (!p->texture && p->saved) load_texture(p);
    if (p->texture) put_on(instance, p->texture);
  }
  return p;
}

void picture_destroy(picture* p, model_instance* instance) {
  if (tracing()) log_write("picture_destroy");
  if (!p || !live.count(p)) return;
  if (!p->shown_on.Remove(instance)) return;
  put_on(instance, nullptr);
  if (p->shown_on.IsEmpty() && p->texture) {
    VxDestroyTexture(p->texture);
    p->texture = nullptr;
  }
  download_dereference(p->download);
}

void picture_reload(picture* p, model_instance* instance) {
  if (tracing()) log_write("picture_reload");
  if (!p || !instance || !live.count(p)) return;
  if (p->texture) put_on(instance, p->texture);
}

void picture_update() {
  if (!table) return;
  uint32_t now = platform_ticks();
  for (picture* p : live) {
    if (p->shown_on.IsEmpty() || !p->refresh_interval || p->download ||
        tick_before(now, p->next_refresh))
      continue;
    p->download = download_url(p->address, p->max_kb, download_done, p);
    download_ignore_refresh(p->download);
    p->next_refresh = now + static_cast<uint32_t>(p->refresh_interval);
  }
}

void picture_reset() {
  if (tracing()) log_write("picture_reset");
  if (!table) return;
  hash_clear(table, [](void* data) { free_picture(*static_cast<picture**>(data)); });
  hash_destroy(table);
  table = hash_create(kBuckets);
}

int picture_count() { return table ? table->count : 0; }
const char* picture_file(const picture* p) { return p ? p->file : nullptr; }
int picture_saved(const picture* p) { return p ? p->saved : 0; }
int picture_shown_count(picture* p) {
  if (!p) return 0;
  int n = 0;
  p->shown_on.Reset();
  while (p->shown_on.Next()) ++n;
  return n;
}
VxTexture* picture_texture(const picture* p) { return p ? p->texture : nullptr; }
