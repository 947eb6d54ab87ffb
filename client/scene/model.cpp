#include "client/scene/model.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "client/cache/chunk.h"
#include "client/cache/database.h"
#include "client/cache/download.h"
#include "client/cache/unzip.h"
#include "client/core/files.h"
#include "client/core/hash.h"
#include "client/core/log.h"
#include "client/scene/modelfile.h"
#include "client/scene/scene.h"
#include "client/scene/texture.h"
#include "platform/progdir.h"

model_hooks model_hook = {};

namespace {

enum {
  kBuckets = 401,
  kKeyLength = 20,
  kLineLength = 255,
  kScriptHeaderMax = 1000,
  kMaxEntryName = 127,
};

hash_table* models = nullptr;
VxClump* placeholder = nullptr;
VxVector placeholder_min{0, 0, 0}, placeholder_max{0, 0, 0};
bool flush_flag = false;
// The instances the next flush puts into their scene, in the order they asked. The set says
// which entries still stand for a live instance: a flush costs what waits, not what the
// scene holds.
std::vector<model_instance*> flush_order;
std::unordered_set<model_instance*> flush_waiting;

void wait_for_flush(model_instance* instance) {
  flush_flag = true;
  if (!flush_waiting.insert(instance).second) return;
  flush_order.push_back(instance);
  // Entries of instances dropped before a flush are let go once they outnumber the live ones.
  if (flush_order.size() > 2 * flush_waiting.size() + 64) {
    std::unordered_set<model_instance*> kept;
    std::erase_if(flush_order,
                  [&](model_instance* i) { return !flush_waiting.count(i) || !kept.insert(i).second; });
  }
}

void forget_flush() {
  flush_order.clear();
  flush_waiting.clear();
  flush_flag = false;
}

bool trace() { return trace_switches[TRACE_GENERAL] != 0; }

char* copy_text(const std::string& s) {
  char* c = static_cast<char*>(std::malloc(s.size() + 1));
  if (c) std::memcpy(c, s.c_str(), s.size() + 1);
  return c;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string cut_last_dot(const std::string& s) {
  size_t dot = s.rfind('.');
  return dot == std::string::npos ? s : s.substr(0, dot);
}

std::string cut_first_dot(const std::string& s) {
  size_t dot = s.find('.');
  return dot == std::string::npos ? s : s.substr(0, dot);
}

std::string table_key(const char* folder, const char* file) {
  std::string key = cut_last_dot(lower(std::string(folder ? folder : "") + file));
  if (key.size() > kKeyLength) key.resize(kKeyLength);
  return key;
}

// File names come from the world's cells: one that names another folder is never fetched
// or written.
bool safe_file_name(const char* name) {
  return name[0] && !std::strchr(name, '/') && !std::strchr(name, '\\');
}

// "<object cache>/<folder>/<file>.<vxx|wrl>"
std::string unpacked_path(const model_record* m) {
  return std::string(download_get_path()) + "/" + m->folder + "/" + m->file + (m->vrml ? ".wrl" : ".vxx");
}

std::string flat_folder(const model_record* m) { return std::string(m->folder) + "flat"; }

// Model files the cache cannot take are kept in memory for the run, as much as a cache
// store kept in memory may hold in all.
size_t memory_held = 0;
bool memory_full_told = false;

// Clumps built from the chunk store, each counted by its stored record's length: what the
// instances hold in all keeps to a bound, and a model past it shows its placeholder.
constexpr size_t kBuiltLimit = size_t(256) << 20;
size_t built_limit = kBuiltLimit;
size_t built_held = 0;
bool built_full_told = false;
std::unordered_map<VxClump*, size_t> built;

// The clump loaded for m, counted; null (the clump destroyed) when it would pass the bound.
VxClump* hold_clump(model_record* m, VxClump* clump, int32_t bytes) {
  if (!clump) return nullptr;
  size_t n = bytes > 0 ? static_cast<size_t>(bytes) : 0;
  if (built_held + n > built_limit) {
    if (!built_full_told)
      log_note("models: no more room in memory for built models; %s/%s and later ones are not shown", m->folder,
               m->file);
    built_full_told = true;
    VxDestroyClump(clump);
    return nullptr;
  }
  built_held += n;
  built[clump] = n;
  return clump;
}

void destroy_clump(VxClump* clump) {
  if (!clump) return;
  auto it = built.find(clump);
  if (it != built.end()) {
    built_held -= std::min(built_held, it->second);
    built.erase(it);
  }
  VxDestroyClump(clump);
}

void drop_model_data(model_record* m) {
  if (m->model_data) memory_held -= std::min(memory_held, static_cast<size_t>(m->model_data_size));
  std::free(m->model_data);
  m->model_data = nullptr;
  m->model_data_size = 0;
}

// The model's file: its bytes kept in memory, or the unpacked file (only a regular file is
// read: a FIFO or a device planted in the cache would hold the window thread).
bool model_source(const model_record* m, std::string& text) {
  if (m->in_memory) {
    if (!m->model_data) return false;
    text.assign(reinterpret_cast<const char*>(m->model_data), static_cast<size_t>(m->model_data_size));
    return true;
  }
  std::string path = unpacked_path(m);
  // No larger than a member may inflate to: a larger file is not one we unpacked.
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || static_cast<uint64_t>(st.st_size) > unzip_limit(UNZIP_KIND_MODEL)) return false;
  uint8_t* bytes = nullptr;
  size_t size = 0;
  if (file_read(path.c_str(), &bytes, &size) != 0) return false;
  text.assign(reinterpret_cast<const char*>(bytes), size);
  std::free(bytes);
  return true;
}

// The next line of a script as a line buffer of 256 bytes reads it: at most 255 characters
// (longer ones come in pieces), up to a zero byte, without the line end.
bool read_line(const std::string& text, size_t& pos, std::string& line) {
  if (pos >= text.size()) return false;
  size_t n = 0;
  while (pos + n < text.size() && n < kLineLength)
    if (text[pos + n++] == '\n') break;
  line.assign(text, pos, n);
  pos += n;
  size_t nul = line.find('\0');
  if (nul != std::string::npos) line.resize(nul);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return true;
}

struct token {
  std::string text;  // as written
  size_t end;        // offset just after it in the line
};

// Tokens of a script line, up to its comment.
std::vector<token> tokens_of(const std::string& line) {
  std::vector<token> out;
  size_t i = 0, n = line.size();
  while (i < n) {
    while (i < n && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    if (i >= n || line[i] == '#') break;
    size_t start = i;
    while (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '#') ++i;
    out.push_back({line.substr(start, i - start), i});
  }
  return out;
}

bool is_texture_keyword(const std::string& t) {
  std::string l = lower(t);
  return l == "texture" || l == "textureext";
}

// Appends one header entry; false when it would not fit.
bool add_entry(std::string& header, const std::string& name, size_t limit) {
  if (name.empty() || name.size() > kMaxEntryName) return true;  // nothing a header could hold
  if (header.size() + 1 + name.size() > limit) return false;
  header += static_cast<char>(name.size());
  header += name;
  return true;
}

// The model header of a script: flags, then the textures (and masks) it names.
void script_header(const std::string& script, uint8_t flags, std::string& header) {
  header.assign(1, static_cast<char>(flags));
  bool full = false;
  std::string line;
  for (size_t pos = 0; read_line(script, pos, line);) {
    std::vector<token> t = tokens_of(line);
    for (size_t i = 0; i < t.size(); ++i) {
      std::string word = lower(t[i].text);
      if (word == "axisalignment") {
        if (i + 1 < t.size()) {
          std::string next = lower(t[++i].text);
          if (next == "zorientx" || next == "zorienty") header[0] = static_cast<char>(header[0] | MODEL_AXIS_ALIGNED);
        }
      } else if ((word == "texture" || word == "textureext") && i + 1 < t.size() &&
                 lower(t[i + 1].text) != "null") {
        std::string name = cut_first_dot(lower(t[i + 1].text));
        ++i;
        std::string mask;
        if (i + 1 < t.size()) {
          ++i;
          if (lower(t[i].text) == "mask" && i + 1 < t.size()) mask = cut_first_dot(lower(t[++i].text));
        }
        if (full || name.empty() || name.size() > kMaxEntryName) continue;
        // A texture and its mask go in together or not at all.
        size_t need = 1 + name.size();
        if (!mask.empty() && mask.size() <= kMaxEntryName) need += 2 + mask.size();
        if (header.size() + need > kScriptHeaderMax) {
          full = true;
          continue;
        }
        add_entry(header, name, kScriptHeaderMax);
        if (!mask.empty() && mask.size() <= kMaxEntryName) {
          header += '\0';
          add_entry(header, mask, kScriptHeaderMax);
        }
      }
    }
  }
}

// The script as the engine reads it: the full version drops mask clauses (the texture module
// applies masks), the flat version drops every texture line that names a texture.
std::string filter_script(const std::string& script, bool flat) {
  std::string out, line;
  for (size_t pos = 0; read_line(script, pos, line);) {
    std::vector<token> t = tokens_of(line);
    bool names_texture = t.size() >= 2 && is_texture_keyword(t[0].text) && lower(t[1].text) != "null";
    if (flat && names_texture) continue;
    if (!flat && names_texture && t.size() >= 3 && lower(t[2].text) == "mask") line.resize(t[1].end);
    out += line;
    out += '\n';
  }
  return out;
}

// The clump of the model's file, or null.
VxClump* build_clump(const model_record* m, const std::string& text, bool flat) {
  if (m->vrml) return vrml_load_clump_text(text.data(), text.size(), unpacked_path(m).c_str(), 1);
  std::string script = filter_script(text, flat);
  return VxReadClumpFromMemory(script.data(), script.size());
}

void reference_textures(model_record* m) {
  for (model_texture_node* n = m->textures; n; n = n->next) texture_reference(n->texture);
}
void dereference_textures(model_record* m) {
  for (model_texture_node* n = m->textures; n; n = n->next) texture_dereference(n->texture);
}

void free_texture_list(model_record* m) {
  while (m->textures) {
    model_texture_node* next = m->textures->next;
    std::free(m->textures);
    m->textures = next;
  }
  m->pending_textures = 0;
}

bool model_read_header(model_record* m) {
  std::string text;
  if (!model_source(m, text)) return false;
  std::string header;
  uint8_t flags = static_cast<uint8_t>(m->flags & ~MODEL_AXIS_ALIGNED);
  if (m->vrml) {
    int length = 0;
    char* names = vrml_texture_names_text(text.data(), text.size(), unpacked_path(m).c_str(), &length);
    if (!names) return false;
    header.assign(1, static_cast<char>(flags));
    header.append(names, static_cast<size_t>(length));
    std::free(names);
  } else {
    script_header(text, flags, header);
  }
  auto* copy = static_cast<uint8_t*>(std::malloc(header.size()));
  if (!copy) return false;
  std::memcpy(copy, header.data(), header.size());
  std::free(m->header);
  m->header = copy;
  m->header_length = static_cast<int32_t>(header.size());
  return true;
}

void model_texture_callback(void* user, int status);

void create_chunk(model_record* m) {
  if (trace()) log_write("create_chunk (%s)", m->file);
  // The engine finds the textures loaded while it reads the model.
  reference_textures(m);
  std::string text;
  VxClump* clump = nullptr;
  if (model_source(m, text)) {
    clump = build_clump(m, text, false);
    // Built once: the chunk cache holds the model from now on.
    if (!m->in_memory) file_delete(unpacked_path(m).c_str());
  }
  m->in_cache = chunk_create(clump, m->header, m->header_length, m->folder, m->file) == 0;
  dereference_textures(m);
}

void create_flat_chunk(model_record* m) {
  std::string folder = flat_folder(m);
  if (!m->fresh && chunk_exists(folder.c_str(), m->file)) return;
  std::string text;
  if (!model_source(m, text)) return;
  chunk_create(build_clump(m, text, true), nullptr, 0, folder.c_str(), m->file);
}

void model_load(model_record* m) {
  if (m->on_disk) {
    if (!model_read_header(m)) return;
  } else {
    uint8_t* header = nullptr;
    int length = 0;
    if (!chunk_header(m->folder, m->file, &header, &length)) return;
    std::free(m->header);
    m->header = header;
    m->header_length = length;
  }
  if (m->header_length < 1) return;
  m->flags = m->header[0];
  // Entries: a length byte (signed) and a name, each optionally followed by a mask entry.
  model_texture_node* last = nullptr;
  int pos = 1;
  const int end = m->header_length;
  while (pos < end) {
    int n = static_cast<int8_t>(m->header[pos]);
    if (n <= 0 || pos + 1 + n > end) break;  // a damaged header ends the list
    std::string name(reinterpret_cast<const char*>(m->header + pos + 1), static_cast<size_t>(n));
    pos += 1 + n;
    std::string mask;
    if (pos + 1 < end && m->header[pos] == 0) {
      int k = static_cast<int8_t>(m->header[pos + 1]);
      if (k <= 0 || pos + 2 + k > end) break;
      mask.assign(reinterpret_cast<const char*>(m->header + pos + 2), static_cast<size_t>(k));
      pos += 2 + k;
    }
    texture_record* t = texture_download(name.c_str(), model_texture_callback, m);
    if (!t) continue;
    if (!mask.empty()) texture_set_mask(t, mask.c_str());
    auto* node = static_cast<model_texture_node*>(std::malloc(sizeof(model_texture_node)));
    if (!node) continue;
    node->next = nullptr;
    node->texture = t;
    if (last) last->next = node;
    else m->textures = node;
    last = node;
    if (!texture_ready(t)) ++m->pending_textures;
  }
  m->loaded = 1;
  if (m->pending_textures && !(m->flags & MODEL_AXIS_ALIGNED) && m->on_disk && !m->vrml) create_flat_chunk(m);
  m->textures_referenced = 1;
  for (model_instance* i = m->instances; i; i = i->next) reference_textures(m);
  if (!m->pending_textures && m->on_disk) create_chunk(m);
  update_models(m);
}

// The unpacked member is kept for the build: on disk, or in memory when it was enciphered or
// the cache cannot take it (full, read-only). False when it is dropped.
bool keep_member(model_record* m, uint8_t* bytes, size_t length, bool enciphered) {
  std::string path = unpacked_path(m);
  int why = 0;
  if (!enciphered) {
    if (file_store(path.c_str(), bytes, length) == 0) {
      std::free(bytes);
      m->in_memory = 0;
      return true;
    }
    why = errno;
    // An older file there no longer stands for the model.
    file_delete(path.c_str());
  }
  if (length > 0x7FFFFFFF || memory_held + length > database_memory_limit) {
    if (!memory_full_told) log_note("models: no more room in memory for model files; %s is not shown", path.c_str());
    memory_full_told = true;
    std::free(bytes);
    return false;
  }
  if (why) log_note("models: %s cannot be written (%s): kept in memory for this run", path.c_str(), std::strerror(why));
  m->in_memory = 1;
  m->model_data = bytes;
  m->model_data_size = static_cast<int32_t>(length);
  memory_held += length;
  return true;
}

void model_download_callback(void* user, int status, uint8_t* data, int size) {
  auto* m = static_cast<model_record*>(user);
  m->download = nullptr;
  if (status != DOWNLOAD_ARRIVED) return;
  m->height = m->bottom = m->top = MODEL_UNKNOWN;
  std::string zip = std::string(m->file) + ".zip";
  uint8_t* bytes = nullptr;
  size_t length = 0;
  int enciphered = 0;
  if (!data || size <= 0 ||
      unzip_to_memory(data, static_cast<size_t>(size), zip.c_str(), &bytes, &length, &enciphered, UNZIP_KIND_MODEL) !=
          UNZIP_OK)
    return;  // the record stays as far as it got
  drop_model_data(m);
  if (!keep_member(m, bytes, length, enciphered != 0)) return;
  m->fresh = 1;
  m->on_disk = 1;
  // The new file is built again; an older build no longer stands for it.
  m->in_cache = 0;
  if (m->textures_referenced)
    for (model_instance* i = m->instances; i; i = i->next) dereference_textures(m);
  m->textures_referenced = 0;
  // The new file's textures are asked for afresh: the old list's requests would count down
  // the new list's pending textures a second time.
  for (model_texture_node* n = m->textures; n; n = n->next) texture_cancel(n->texture, model_texture_callback, m);
  free_texture_list(m);
  model_load(m);
}

void model_texture_callback(void* user, int status) {
  auto* m = static_cast<model_record*>(user);
  if (trace()) log_write("model: texture_callback");
  if (status != 0 || m->pending_textures == 0) return;
  if (--m->pending_textures) return;
  if (!m->in_cache && m->on_disk) {
    create_chunk(m);
    if (!(m->flags & MODEL_AXIS_ALIGNED)) chunk_delete(flat_folder(m).c_str(), m->file);
  }
  update_models(m);
}

// The chunk store gave up the model's build (its share of the disk limit, or damage): the
// file is fetched again and built anew.
void lost_chunk(model_record* m) {
  if (chunk_exists(m->folder, m->file)) return;
  m->in_cache = 0;
  if (!safe_file_name(m->file)) return;
  if (!m->download) {
    std::string zip = std::string(m->file) + ".zip";
    m->download = download_file(m->folder, zip.c_str(), DOWNLOAD_CLASS_MODELS, model_download_callback, m);
  }
  download_force(m->download);
}

model_record* model_new(const char* folder, const char* file) {
  auto* m = static_cast<model_record*>(std::calloc(1, sizeof(model_record)));
  if (!m) return nullptr;
  std::string given = file;
  size_t dot = given.rfind('.');
  std::string extension = dot == std::string::npos ? "" : given.substr(dot + 1);
  m->file = copy_text(cut_last_dot(given));
  m->folder = copy_text(folder);
  if (!m->file || !m->folder) {
    std::free(m->file);
    std::free(m->folder);
    std::free(m);
    return nullptr;
  }
  m->vrml = lower(extension) == "wrl" ? 1 : 0;
  m->height = m->bottom = m->top = MODEL_UNKNOWN;
  m->flags = std::strcmp(folder, "avatars") == 0 ? MODEL_AVATAR : 0;
  m->bbox[0] = placeholder_min.x, m->bbox[1] = placeholder_min.y, m->bbox[2] = placeholder_min.z;
  m->bbox[3] = placeholder_max.x, m->bbox[4] = placeholder_max.y, m->bbox[5] = placeholder_max.z;
  if (!m->file[0] || !safe_file_name(m->file)) return m;
  std::string zip = std::string(m->file) + ".zip";
  m->download = download_file(folder, zip.c_str(), DOWNLOAD_CLASS_MODELS, model_download_callback, m);
  m->in_cache = chunk_exists(folder, m->file) ? 1 : 0;
  m->on_disk = file_is_regular(unpacked_path(m).c_str()) ? 1 : 0;
  if (m->in_cache || m->on_disk) model_load(m);
  else download_force(m->download);
  return m;
}

void free_record(model_record* m) {
  for (model_instance* i = m->instances; i; i = i->next) i->model = nullptr;
  free_texture_list(m);
  std::free(m->folder);
  std::free(m->file);
  std::free(m->header);
  drop_model_data(m);
  std::free(m);
}

void set_state(VxClump* part, void* data) { VxSetClumpState(part, *static_cast<int*>(data)); }

void clear_texture(VxPolygon* polygon, void*) { VxSetPolygonTexture(polygon, nullptr); }
void clear_part_textures(VxClump* part, void*) {
  VxForAllPolygonsInClumpWithArg(part, clear_texture, nullptr);
}

struct box {
  VxVector min, max;
};
void widen(VxClump* part, void* data) {
  auto* b = static_cast<box*>(data);
  VxVector lo, hi;
  if (!VxGetClumpBoundingBox(part, &lo, &hi)) return;
  b->min.x = std::min(b->min.x, lo.x), b->min.y = std::min(b->min.y, lo.y), b->min.z = std::min(b->min.z, lo.z);
  b->max.x = std::max(b->max.x, hi.x), b->max.y = std::max(b->max.y, hi.y), b->max.z = std::max(b->max.z, hi.z);
}

void set_clump_state(model_instance* instance, int state) {
  if (!instance->clump) return;
  // The clump itself too: a model without parts would otherwise never change.
  VxSetClumpState(instance->clump, state);
  VxForAllChildClumps(instance->clump, set_state, &state);
}

}  // namespace

int model_init() {
  if (trace()) log_write("model_init");
  if (!models) models = hash_create(kBuckets);
  if (!models) return 0;
  if (placeholder) return 1;
  VxBeginModel();
  VxBeginClump();
  VxSetModelOption(0);
  VxSetModelKind(3);
  VxAddVertex(-0.02f, 0, 0);
  VxAddVertex(0.02f, 0, 0);
  VxAddVertex(0, 0.02f, 0);
  VxAddTriangle(1, 2, 3);
  placeholder = VxEndClump();
  VxEndModel();
  if (!placeholder) return 0;
  VxGetClumpBoundingBox(placeholder, &placeholder_min, &placeholder_max);
  return 1;
}

void model_term() {
  model_reset();
  hash_destroy(models);
  models = nullptr;
  if (placeholder) VxDestroyClump(placeholder);
  placeholder = nullptr;
  forget_flush();
}

model_instance* model_reference(const char* folder, const char* file, VxScene* scene) {
  if (trace()) log_write("model_reference (%s, %s, %p)", folder ? folder : "", file ? file : "", static_cast<void*>(scene));
  if (!file || !folder || !models) return nullptr;
  std::string key = table_key(folder, file);
  int found = 0;
  auto** slot = hash_find_or_add_as<model_record*>(models, key.size(), key.data(), &found);
  if (!slot) return nullptr;
  model_record* m;
  if (found) {
    m = *slot;
    if (m->download) download_reference(m->download);
  } else {
    *slot = nullptr;
    m = model_new(folder, file);
    if (!m) {
      hash_remove(models, key.size(), key.data());
      return nullptr;
    }
    // model_new may have run callbacks that looked the key up; the entry is still ours.
    hash_entry* e = hash_find(models, key.size(), key.data());
    if (!e) {
      free_record(m);
      return nullptr;
    }
    *static_cast<model_record**>(hash_entry_data(e)) = m;
  }
  auto* instance = static_cast<model_instance*>(std::calloc(1, sizeof(model_instance)));
  if (!instance) return nullptr;
  if (m->textures_referenced) reference_textures(m);
  instance->scene = scene;
  instance->model = m;
  if (!scene) wait_for_flush(instance);
  instance->next = m->instances;
  m->instances = instance;
  ++m->reference_count;
  update_model(instance);
  return instance;
}

void model_dereference(model_instance* instance) {
  if (trace()) log_write("model_dereference");
  if (!instance) return;
  model_record* m = instance->model;
  if (m) {
    for (model_instance** p = &m->instances; *p; p = &(*p)->next)
      if (*p == instance) {
        *p = instance->next;
        break;
      }
  }
  if (instance->picture && model_hook.picture_destroy) model_hook.picture_destroy(instance->picture, instance);
  instance->picture = nullptr;
  flush_waiting.erase(instance);
  if (m && m->download) download_dereference(m->download);
  if (instance->clump && ((m && m->textures_referenced) || instance->animation || instance->sign)) {
    VxForAllPolygonsInClumpWithArg(instance->clump, clear_texture, nullptr);
    VxForAllChildClumps(instance->clump, clear_part_textures, nullptr);
  }
  if (m && m->textures_referenced) dereference_textures(m);
  if (instance->clump && VxGetClumpScene(instance->clump)) VxRemoveClumpFromScene(instance->clump);
  if (instance->animation && model_hook.animation_destroy) model_hook.animation_destroy(instance->animation);
  destroy_clump(instance->clump);
  destroy_clump(instance->pending_clump);
  // The sign that goes below must not reach the clumps just destroyed.
  instance->clump = instance->pending_clump = nullptr;
  if (m) --m->reference_count;
  if (instance->sign && model_hook.sign_destroy) model_hook.sign_destroy(instance->sign);
  std::free(instance);
}

void update_model(model_instance* instance) {
  if (trace()) log_write("update_model");
  if (!instance) return;
  model_record* m = instance->model;
  destroy_clump(instance->pending_clump);
  instance->pending_clump = nullptr;
  if (m && m->loaded) {
    int32_t bytes = 0;
    VxClump* clump = nullptr;
    if (!m->pending_textures && m->in_cache) {
      clump = chunk_load(m->folder, m->file, &bytes);
      m->height = MODEL_UNKNOWN;
      if (!clump) lost_chunk(m);
    } else if (m->pending_textures && !(m->flags & MODEL_AXIS_ALIGNED)) {
      clump = chunk_load(flat_folder(m).c_str(), m->file, &bytes);
    }
    instance->pending_clump = hold_clump(m, clump, bytes);
    // A model shown already stays as it is rather than turn back into the placeholder.
    if (!instance->pending_clump && instance->clump && !instance->placeholder) return;
  }
  if (!instance->pending_clump) {
    instance->pending_clump = placeholder ? VxDuplicateClump(placeholder) : nullptr;
    instance->placeholder = 1;
  } else {
    instance->placeholder = 0;
  }
  if (m && (m->flags & MODEL_AVATAR)) reload_model(instance);
  else wait_for_flush(instance);
  if (!instance->clump && placeholder) {
    instance->clump = VxDuplicateClump(placeholder);
    if (instance->state_off) set_clump_state(instance, VX_STATE_OFF);
  }
}

void update_models(model_record* m) {
  if (trace()) log_write("update_models");
  if (!m) return;
  for (model_instance* i = m->instances; i; i = i->next) update_model(i);
}

void reload_model(model_instance* instance) {
  if (trace()) log_write("reload_model");
  if (!instance || !instance->pending_clump) return;
  if (instance->clump) {
    VxMatrix* placement = VxScratchMatrix();
    if (trace()) log_write("VxGetClumpMatrix");
    VxGetClumpMatrix(instance->clump, placement);
    if (VxGetClumpScene(instance->clump)) {
      if (trace()) log_write("VxRemoveClumpFromScene");
      VxRemoveClumpFromScene(instance->clump);
    }
    if (trace()) log_write("VxDestroyClump");
    destroy_clump(instance->clump);
    instance->clump = instance->pending_clump;
    if (instance->model && instance->model->height == MODEL_UNKNOWN) model_height(instance, nullptr);
    if (trace()) log_write("VxTransformClump");
    VxTransformClump(instance->clump, placement, VX_REPLACE);
  } else {
    instance->clump = instance->pending_clump;
    if (instance->model && instance->model->height == MODEL_UNKNOWN) model_height(instance, nullptr);
  }
  instance->pending_clump = nullptr;
  if (!instance->scene) instance->scene = scene_world();
  if (instance->sign && model_hook.sign_redraw) model_hook.sign_redraw(instance->sign);
  if (instance->animation && model_hook.animation_apply) model_hook.animation_apply(instance->animation, instance);
  if (instance->picture && model_hook.picture_reload) model_hook.picture_reload(instance->picture, instance);
  // A clump swapped in starts on: the element's own state is put back on it.
  if (instance->state_off)
    set_clump_state(instance, VX_STATE_OFF);
  else if (instance->state_on)
    set_clump_state(instance, VX_STATE_ON);
  if (trace()) log_write("VxAddClumpToScene (%p, %p)", static_cast<void*>(instance->scene), static_cast<void*>(instance->clump));
  if (instance->scene) VxAddClumpToScene(instance->scene, instance->clump);
  if (trace()) log_write("reload_model complete");
}

void model_flush() {
  if (trace()) log_write("model_flush");
  if (!flush_flag) return;
  // Taken whole first: swapping may run callbacks that ask for another flush or drop an
  // instance (then gone from the set, and skipped).
  std::vector<model_instance*> batch;
  batch.swap(flush_order);
  for (model_instance* i : batch) {
    if (!flush_waiting.erase(i)) continue;
    if (i->pending_clump) {
      reload_model(i);
    } else if (!i->scene) {
      i->scene = scene_world();
      if (i->scene && i->clump) VxAddClumpToScene(i->scene, i->clump);
    }
  }
  flush_flag = !flush_order.empty();
}

int model_height(model_instance* instance, float* height) {
  if (trace_frames()) log_write("model_height");
  if (!instance || !instance->model || !instance->model->loaded || !instance->clump) return 0;
  // A stand-in (a model file with no untextured version, waiting for its textures) is not
  // the model: measured, its height would be kept as the model's by those who cache it.
  if (instance->placeholder) return 0;
  model_record* m = instance->model;
  if (m->height == MODEL_UNKNOWN) {
    box b{};
    VxClump* first = VxGetFirstChildClump(instance->clump);
    if (first) {
      VxGetClumpBoundingBox(first, &b.min, &b.max);
      VxForAllChildClumps(instance->clump, widen, &b);
      // The clump's own vertices count as well as its parts'.
      if (VxGetClumpNumVertices(instance->clump) > 0) widen(instance->clump, &b);
    } else {
      VxGetClumpBounds(instance->clump, &b.min, &b.max);
    }
    m->bbox[0] = b.min.x, m->bbox[1] = b.min.y, m->bbox[2] = b.min.z;
    m->bbox[3] = b.max.x, m->bbox[4] = b.max.y, m->bbox[5] = b.max.z;
    m->bottom = b.min.y;
    m->top = b.max.y;
    m->height = b.max.y - b.min.y;
  }
  if (height) *height = m->height;
  return 1;
}

int model_get_bottom(model_instance* instance, float* bottom) {
  if (!instance || !instance->model || !instance->model->loaded || instance->model->bottom == MODEL_UNKNOWN)
    return 0;
  if (bottom) *bottom = instance->model->bottom;
  return 1;
}

void model_get_bbox(model_instance* instance, VxVector* min, VxVector* max) {
  if (trace()) log_write("model_get_bbox");
  if (!instance || !instance->model) return;
  const float* b = instance->model->bbox;
  if (min) *min = {b[0], b[1], b[2]};
  if (max) *max = {b[3], b[4], b[5]};
}

VxClump* model_clump(model_instance* instance) { return instance ? instance->clump : nullptr; }

void model_set_animation(model_instance* instance, object_animation* animation) {
  if (!instance) return;
  if (instance->animation && instance->animation != animation && model_hook.animation_destroy)
    model_hook.animation_destroy(instance->animation);
  instance->animation = animation;
}

object_animation* model_animation(model_instance* instance) { return instance ? instance->animation : nullptr; }

void model_set_sign(model_instance* instance, struct sign* sign) {
  if (!instance) return;
  if (instance->sign && instance->sign != sign && model_hook.sign_destroy) model_hook.sign_destroy(instance->sign);
  instance->sign = sign;
}

void model_set_picture(model_instance* instance, struct picture* picture) {
  if (!instance) return;
  if (instance->picture && instance->picture != picture && model_hook.picture_destroy)
    model_hook.picture_destroy(instance->picture, instance);
  instance->picture = picture;
}

bool model_is_ready(model_instance* instance) {
  return instance && !instance->pending_clump && !instance->placeholder && instance->model &&
         instance->model->loaded;
}

void model_state_on(model_instance* instance) {
  if (!instance) return;
  set_clump_state(instance, VX_STATE_ON);
  instance->state_on = 1;
  instance->state_off = 0;
}

void model_state_off(model_instance* instance) {
  if (!instance) return;
  set_clump_state(instance, VX_STATE_OFF);
  instance->state_on = 0;
  instance->state_off = 1;
}

void model_reset() {
  if (trace()) log_write("model_reset");
  if (!models) return;
  hash_clear(models, [](void* data) {
    if (model_record* m = *static_cast<model_record**>(data)) free_record(m);
  });
  forget_flush();
}

void model_set_memory_limit(size_t bytes) { built_limit = bytes ? bytes : kBuiltLimit; }
size_t model_memory_held() { return built_held; }

model_record* model_find(const char* folder, const char* file) {
  if (!models || !folder || !file) return nullptr;
  std::string key = table_key(folder, file);
  hash_entry* e = hash_find(models, key.size(), key.data());
  return e ? *static_cast<model_record**>(hash_entry_data(e)) : nullptr;
}

int model_count() { return models ? models->count : 0; }
bool model_flush_pending() { return flush_flag; }
VxClump* model_placeholder() { return placeholder; }
