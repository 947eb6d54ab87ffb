#include "client/scene/element.h"

#include "client/core/identity.h"
#include "client/core/log.h"
#include "client/core/random.h"
#include "client/scene/behavior.h"
#include "client/scene/cell.h"
#include "client/scene/model.h"
#include "client/scene/prop.h"
#include "client/scene/sound.h"
#include "client/scene/visible.h"
#include "engine/vxl21.h"

#include <strings.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

// One allocation: the fixed fields, then the three texts each with its NUL.
struct element {
  element* next;
  double x, y, z;
  float yaw;
  model_instance* model;
  int32_t number;
  int32_t owner;
  int32_t build_time;
  sound_instance* sound;
  int32_t visible;
  int32_t solid;
  char* name;
  int32_t model_length;
  int32_t description_length;
  int32_t action_length;
  char texts[1];
};

namespace {

element* all_elements = nullptr;
char* search_name = nullptr;
int32_t search_owner = 0;
element* search_position = nullptr;

#define ETRACE(...) LOG_TRACE(TRACE_ELEMENTS, __VA_ARGS__)

char* model_text(element* e) { return e->texts; }
char* description_text(element* e) { return e->texts + e->model_length + 1; }
char* action_text(element* e) { return e->texts + e->model_length + 1 + e->description_length + 1; }

int clean_length(int length, const char* text) { return text && length > 0 ? length : 0; }

// The record with its texts copied; every other field cleared but visible and solid.
element* allocate(int model_length, const char* model, int description_length, const char* description,
                  int action_length, const char* action) {
  model_length = clean_length(model_length, model);
  description_length = clean_length(description_length, description);
  action_length = clean_length(action_length, action);
  size_t size = offsetof(element, texts) + static_cast<size_t>(model_length) +
                static_cast<size_t>(description_length) + static_cast<size_t>(action_length) + 3;
  auto* e = static_cast<element*>(std::calloc(1, size));
  if (!e) return nullptr;
  e->visible = 1;
  e->solid = 1;
  e->model_length = model_length;
  e->description_length = description_length;
  e->action_length = action_length;
  if (model_length) std::memcpy(model_text(e), model, static_cast<size_t>(model_length));
  if (description_length) std::memcpy(description_text(e), description, static_cast<size_t>(description_length));
  if (action_length) std::memcpy(action_text(e), action, static_cast<size_t>(action_length));
  return e;  // calloc left every NUL in place
}

void push(element* e) {
  e->next = all_elements;
  all_elements = e;
}

void place(element* e) {
  VxClump* clump = model_clump(e->model);
  if (!clump) return;
  VxMatrix* m = VxScratchMatrix();
  VxRotateMatrix(m, 0, 1, 0, e->yaw, VX_REPLACE);
  VxTranslateMatrix(m, e->x, e->y, e->z, VX_POSTCONCAT);
  VxTransformClump(clump, m, VX_REPLACE);
}

}  // namespace

element* element_create(double x, double y, double z, float yaw, int model_length, const char* model,
                        int description_length, const char* description, int action_length, const char* action,
                        int32_t number, int32_t owner, int32_t build_time) {
  ETRACE("element_create (%f, %f, %f) %d %.*s/%.*s", x, y, z, number, clean_length(model_length, model),
         model ? model : "", clean_length(action_length, action), action ? action : "");
  element* e = allocate(model_length, model, description_length, description, action_length, action);
  if (!e) return nullptr;
  e->x = x;
  e->y = y;
  e->z = z;
  e->yaw = yaw;
  e->number = number;
  e->owner = owner;
  e->build_time = build_time;
  e->model = model_reference("models", model_text(e), nullptr);
  place(e);
  push(e);
  behavior_check(e);
  behavior_trigger(e, "create");
  return e;
}

void element_destroy(element* e) {
  if (!e) return;
  for (element** link = &all_elements; *link; link = &(*link)->next) {
    if (*link == e) {
      *link = e->next;
      break;
    }
  }
  // A search standing on it moves on rather than read freed memory.
  if (search_position == e) search_position = e->next;
  model_dereference(e->model);
  sound_destroy(e->sound);
  std::free(e->name);
  std::free(e);
}

element* element_duplicate(const element* source) {
  if (!source) return nullptr;
  auto* src = const_cast<element*>(source);
  element* e = allocate(src->model_length, model_text(src), src->description_length, description_text(src),
                        src->action_length, action_text(src));
  if (!e) return nullptr;
  e->x = src->x;
  e->y = src->y;
  e->z = src->z;
  e->yaw = src->yaw;
  e->owner = citizen_effective_number();
  e->build_time = 0;
  if (prop_get_old())
    e->number = static_cast<int32_t>(random_next() % 223 + 32);
  else
    e->number = static_cast<int32_t>(random_next());
  e->model = model_reference("models", model_text(e), nullptr);
  push(e);
  return e;
}

void element_set_owner(int cell_x, int cell_z, int32_t number, int32_t owner, int32_t build_time) {
  for (element* e = all_elements; e; e = e->next) {
    if (e->number == number && cell_from_coordinate(e->x) == cell_x && cell_from_coordinate(e->z) == cell_z) {
      e->owner = owner;
      e->build_time = build_time;
      return;
    }
  }
}

void element_start_search(const char* name, int32_t owner) {
  ETRACE("element_start_search (%s)", name ? name : "");
  std::free(search_name);
  search_name = name ? strdup(name) : nullptr;
  search_owner = owner;
  search_position = all_elements;
}

element* element_next_match() {
  if (!search_name) return nullptr;
  while (search_position) {
    element* e = search_position;
    search_position = e->next;
    if (e->owner == search_owner && e->name && strcasecmp(e->name, search_name) == 0) return e;
  }
  return nullptr;
}

double element_x(const element* e) { return e ? e->x : 0; }
double element_y(const element* e) { return e ? e->y : 0; }
double element_z(const element* e) { return e ? e->z : 0; }
float element_yaw(const element* e) { return e ? e->yaw : 0; }
void element_set_x(element* e, double v) {
  if (e) e->x = v;
}
void element_set_y(element* e, double v) {
  if (e) e->y = v;
}
void element_set_z(element* e, double v) {
  if (e) e->z = v;
}
void element_set_yaw(element* e, float v) {
  if (e) e->yaw = v;
}
const char* element_model(const element* e) { return e ? model_text(const_cast<element*>(e)) : nullptr; }
int element_model_length(const element* e) { return e ? e->model_length : 0; }
const char* element_description(const element* e) {
  return e ? description_text(const_cast<element*>(e)) : nullptr;
}
int element_description_length(const element* e) { return e ? e->description_length : 0; }
const char* element_action(const element* e) { return e ? action_text(const_cast<element*>(e)) : nullptr; }
int element_action_length(const element* e) { return e ? e->action_length : 0; }
int32_t element_number(const element* e) { return e ? e->number : 0; }
void element_set_number(element* e, int32_t number) {
  if (e) e->number = number;
}
int32_t element_owner(const element* e) { return e ? e->owner : 0; }
int32_t element_build_time(const element* e) { return e ? e->build_time : 0; }
int element_visible(const element* e) { return e ? e->visible : 0; }

void element_set_visible(element* e, int flag) {
  if (!e) return;
  flag = flag ? 1 : 0;
  if (e->visible == flag) return;
  e->visible = flag;
  if (flag)
    visible_element_shown(e);
  else
    visible_element_hidden(e);
}

int element_solid(const element* e) { return e ? e->solid : 0; }
void element_set_solid(element* e, int flag) {
  if (e) e->solid = flag;
}
const char* element_name(const element* e) { return e ? e->name : nullptr; }

void element_set_name(element* e, const char* name) {
  if (!e) return;
  char* copy = name ? strdup(name) : nullptr;
  std::free(e->name);
  e->name = copy;
}

sound_instance* element_sound(const element* e) { return e ? e->sound : nullptr; }

void element_set_sound(element* e, sound_instance* sound) {
  if (!e) return;
  if (e->sound != sound) sound_destroy(e->sound);
  e->sound = sound;
}

model_instance* element_model_instance(const element* e) { return e ? e->model : nullptr; }
VxClump* element_clump(const element* e) { return e ? model_clump(e->model) : nullptr; }
animation* element_animation(const element* e) {
  return e ? reinterpret_cast<animation*>(model_animation(e->model)) : nullptr;
}
void element_set_animation(element* e, animation* a) {
  if (e) model_set_animation(e->model, reinterpret_cast<object_animation*>(a));
}

element* element_first() { return all_elements; }
element* element_next(const element* e) { return e ? e->next : nullptr; }
int element_count() {
  int n = 0;
  for (element* e = all_elements; e; e = e->next) ++n;
  return n;
}
