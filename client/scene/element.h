#pragma once
// Elements: the placed objects of the world as the scene holds them. Each has its position
// and yaw, a model instance that draws it, its object number, owner and build time, its three
// texts (model name, description, action text) and the run-time state the action language
// gives it (sound, visible and solid marks, name). Every element sits on one module-wide
// list, newest first. Window thread only.
#include <cstdint>

struct element;
struct model_instance;
struct animation;
struct sound_instance;
typedef struct VxClumpRec VxClump;

// Places the model's clump, runs the action check and the "create" trigger. Null when out of
// memory. Lengths below 0 count as 0.
element* element_create(double x, double y, double z, float yaw, int model_length, const char* model,
                        int description_length, const char* description, int action_length, const char* action,
                        int32_t number, int32_t owner, int32_t build_time);
// Unlinks (when listed), drops the model instance and the sound, frees. Null is ignored.
void element_destroy(element* e);
// A new, unplaced copy owned by the user, with a fresh object number and build time 0.
element* element_duplicate(const element* e);
// The first listed element of that number in cell (cell_x, cell_z) gets owner and build time.
void element_set_owner(int cell_x, int cell_z, int32_t number, int32_t owner, int32_t build_time);

// Search by name (ignoring case) and owner, newest first.
void element_start_search(const char* name, int32_t owner);
element* element_next_match();

double element_x(const element* e);
double element_y(const element* e);
double element_z(const element* e);
float element_yaw(const element* e);
void element_set_x(element* e, double v);
void element_set_y(element* e, double v);
void element_set_z(element* e, double v);
void element_set_yaw(element* e, float v);
const char* element_model(const element* e);
int element_model_length(const element* e);
const char* element_description(const element* e);
int element_description_length(const element* e);
const char* element_action(const element* e);
int element_action_length(const element* e);
int32_t element_number(const element* e);
void element_set_number(element* e, int32_t number);
int32_t element_owner(const element* e);
int32_t element_build_time(const element* e);
int element_visible(const element* e);
void element_set_visible(element* e, int flag);
int element_solid(const element* e);
void element_set_solid(element* e, int flag);
const char* element_name(const element* e);  // null when none
void element_set_name(element* e, const char* name);
sound_instance* element_sound(const element* e);
void element_set_sound(element* e, sound_instance* sound);
model_instance* element_model_instance(const element* e);
VxClump* element_clump(const element* e);
animation* element_animation(const element* e);
void element_set_animation(element* e, animation* a);

// The list of all elements, newest first (tests, diagnostics).
element* element_first();
element* element_next(const element* e);
int element_count();
