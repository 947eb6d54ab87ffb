#pragma once
// Pictures on objects: one picture object per address serves every object showing it. The
// picture is fetched as a JPEG, converted to an 8-bit BMP, read by the engine as a texture
// and kept as a texture chunk file in the misc cache so that later runs show it at once.
// Window thread only.
#include <cstdint>

struct picture;
struct model_instance;

int picture_init();
// Shows the picture named by a file below the object path or a URL on the instance's picture
// faces (polygon tag 200); with no instance it is only fetched in advance. update_seconds > 0
// fetches it again that often while an object shows it. Null when nothing was done.
picture* picture_create(model_instance* instance, const char* name, int update_seconds);
// The instance stops showing the picture. Null picture ignored.
void picture_destroy(picture* p, model_instance* instance);
// Puts the texture on the instance's picture faces again (its clump was swapped).
void picture_reload(picture* p, model_instance* instance);
// Task "picture": starts the periodic downloads that are due.
void picture_update();
// Frees every picture object (after the models dropped their instances).
void picture_reset();

// The address of a picture name ("host/path", no scheme) into out; false when there is none.
bool picture_url(const char* name, char* out, int out_size);

// Settings other modules keep. dloptions_pictures: 0 URL pictures off, 1 no limit, else
// a limit in KB (null: [downloads] pictures as the download options read it).
struct picture_hooks {
  int (*dloptions_pictures)();
};
extern picture_hooks picture_hook;

// State for tests.
int picture_count();
const char* picture_file(const picture* p);
int picture_saved(const picture* p);
int picture_shown_count(picture* p);
struct VxTextureRec* picture_texture(const picture* p);
