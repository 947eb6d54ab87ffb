#pragma once
// Textures and masks: one record per texture name. A texture is fetched as "<name>.jpg" from
// the world's "textures" folder, converted to an 8-bit BMP, read by the engine, masked when
// it has a mask ("<mask>.zip" holding a BMP), stored in the texture chunk cache, and then
// those waiting for it are told. Engine textures exist while someone holds a reference.
// Window thread only.
#include "engine/vxl21.h"

struct texture_record;
// Called with status 0 once the texture is ready.
using texture_callback = void (*)(void* user, int status);

// Finds or creates the record of name (case and extension ignored). When the texture is not
// ready and a callback is given, it is queued. Null only for a null name or no memory.
texture_record* texture_download(const char* name, texture_callback callback, void* user);
// Takes back every request of (callback, user) still waiting for the texture.
void texture_cancel(texture_record* texture, texture_callback callback, void* user);
// Attaches the mask (name case kept) to the texture; null texture ignored.
void texture_set_mask(texture_record* texture, const char* mask_name);
void texture_reference(texture_record* texture);
void texture_dereference(texture_record* texture);
int texture_ready(const texture_record* texture);
VxTexture* texture_engine_texture(const texture_record* texture);
// World change: destroys every engine texture and frees every texture and mask record.
void texture_reset();

// For tests and the model module's own checks.
int texture_reference_count(const texture_record* texture);
const char* texture_name(const texture_record* texture);
