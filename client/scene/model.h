#pragma once
// Models: one record per folder and file name, one instance (an engine clump of its own) per
// user. A model's file is fetched through the download queue as "<file>.zip" from the world's
// object folder, unpacked, read once for its textures (the model header), built into a clump
// from a model script (".vxx") or VRML (".wrl") and kept in the model chunk cache. Until it
// is ready an instance shows a tiny placeholder triangle; while its textures arrive, an
// untextured version stands in. Window thread only.
#include <cstddef>
#include <cstdint>

#include "engine/vxl21.h"

struct model_record;
struct model_instance;
struct texture_record;
// Attachments that belong to other modules (signs, object animations, pictures).
struct sign;
struct object_animation;
struct picture;

enum {
  MODEL_AXIS_ALIGNED = 1,  // header flags byte
  MODEL_AVATAR = 2,
};
// Height, bottom and top not yet measured.
constexpr float MODEL_UNKNOWN = 1e10f;

struct model_texture_node {
  model_texture_node* next;
  texture_record* texture;
};

struct model_record {
  uint8_t flags;
  int32_t vrml;
  char* folder;
  char* file;
  model_instance* instances;
  int32_t reference_count;
  struct download_request* download;
  uint8_t loaded;
  uint8_t fresh;
  uint8_t textures_referenced;
  uint8_t on_disk;
  uint8_t in_cache;
  uint8_t in_memory;
  uint8_t* model_data;
  int32_t model_data_size;
  float bbox[6];
  float height;
  float bottom;
  float top;
  uint8_t* header;
  int32_t header_length;
  int32_t pending_textures;
  model_texture_node* textures;
};

struct model_instance {
  model_instance* next;
  VxClump* clump;
  VxClump* pending_clump;
  VxScene* scene;
  model_record* model;
  struct sign* sign;
  object_animation* animation;
  struct picture* picture;
  int32_t state_on;
  int32_t placeholder;
  int32_t state_off;  // turned off (hidden): every clump swapped in starts off too
};

// Modules the models call, filled by their own init, or that fill their own entry
// when they start; a null entry is skipped.
struct model_hooks {
  void (*sign_destroy)(struct sign* sign);
  void (*sign_redraw)(struct sign* sign);  // queue the sign for drawing on the new clump
  void (*animation_destroy)(object_animation* animation);
  void (*animation_apply)(object_animation* animation, model_instance* instance);
  void (*picture_destroy)(struct picture* picture, model_instance* instance);
  void (*picture_reload)(struct picture* picture, model_instance* instance);
  // The console (kind, line): VRML load errors while the "vrml" trace switch is on.
  void (*console_print)(int kind, const char* line);
};
extern model_hooks model_hook;

// Start of the 3D side: the table and the placeholder. 1, else 0.
int model_init();
model_instance* model_reference(const char* folder, const char* file, VxScene* scene);
void model_dereference(model_instance* instance);
void update_model(model_instance* instance);
void update_models(model_record* model);
void reload_model(model_instance* instance);
// Puts every waiting instance into its scene (after cells are loaded, after duplicating).
void model_flush();
int model_height(model_instance* instance, float* height);
int model_get_bottom(model_instance* instance, float* bottom);
void model_get_bbox(model_instance* instance, VxVector* min, VxVector* max);
VxClump* model_clump(model_instance* instance);
void model_set_animation(model_instance* instance, object_animation* animation);
object_animation* model_animation(model_instance* instance);
void model_set_sign(model_instance* instance, struct sign* sign);
void model_set_picture(model_instance* instance, struct picture* picture);
bool model_is_ready(model_instance* instance);
void model_state_on(model_instance* instance);
void model_state_off(model_instance* instance);
// World change: frees every record (after the users dropped their instances).
void model_reset();

// Tests and tools: the record of a key, the table size, the flush flag, the placeholder.
model_record* model_find(const char* folder, const char* file);
int model_count();
bool model_flush_pending();
VxClump* model_placeholder();
// The bound on what built clumps hold in all, counted by their stored records (0: the
// default), and what they hold now.
void model_set_memory_limit(size_t bytes);
size_t model_memory_held();
// Shutdown of the 3D side (tests): frees the table and the placeholder.
void model_term();
