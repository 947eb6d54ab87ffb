#include "client/scene/anim_link.h"

#include "Zembrel/Pose/Anim/anim.h"
#include "Zembrel/Pose/Anim/values.h"
#include "client/cache/download.h"
#include "client/cache/unzip.h"
#include "client/core/files.h"
#include "client/core/log.h"
#include "client/scene/model.h"
#include "client/scene/self.h"
#include "platform/host.h"

namespace {

void* am_ref(const char* folder, const char* file, void* owner) {
  return model_reference(folder, file, static_cast<VxScene*>(owner));
}
void am_deref(void* m) { model_dereference(static_cast<model_instance*>(m)); }
int am_bottom(void* m, float* bottom) { return model_get_bottom(static_cast<model_instance*>(m), bottom); }
VxClump* am_clump(void* m) { return model_clump(static_cast<model_instance*>(m)); }
void* am_download(const char* folder, const char* name, int cls, void (*done)(void*, int, uint8_t*, int),
                  void* user) {
  return download_file(folder, name, cls, done, user);
}
void am_force(void* r) { download_force(static_cast<download_request*>(r)); }
// The library unpacks only sequences.
int am_unzip(uint8_t* data, size_t size, const char* path) {
  return unzip_memory(data, size, path, UNZIP_KIND_SEQUENCE);
}

// What the library left out of a file is told whatever the trace switches.
void am_log(const char* text) { log_note("%s", text); }

// The library's fatal assertion is shown in an error box before it ends the program.
void fatal_box(const char* text, const char* caption) {
  host()->message_box(text, caption, HOST_MB_OK | HOST_MB_ICONERROR);
}

model_instance* avatar_model(void* a) { return static_cast<model_instance*>(AnimGetAvatarModel(static_cast<AnimAvatar*>(a))); }

}  // namespace

void anim_link_init() {
  static const AnimCallbacks callbacks{am_ref,   am_deref, am_bottom,  am_clump, am_download,
                                       am_force, am_unzip, file_touch, am_log};
  AnimSetCallbacks(&callbacks);
  anim_set_fatal_handler(fatal_box);
  self_hook.anim_create = [](void* owner, int other, int anims) -> void* {
    return AnimCreateAvatar(owner, other, anims);
  };
  self_hook.anim_destroy = [](void* a) { AnimDestroyAvatar(static_cast<AnimAvatar*>(a)); };
  self_hook.anim_set_state = [](void* a, VxReal x, VxReal y, VxReal z, int yaw, uint32_t t, int type, int motion,
                                int gesture) {
    return AnimSetAvatarState(static_cast<AnimAvatar*>(a), x, y, z, yaw, t, type, motion, gesture);
  };
  self_hook.anim_update = [](void* a, uint32_t t) { AnimUpdateAvatar(static_cast<AnimAvatar*>(a), t); };
  self_hook.anim_position = [](void* a, VxReal* x, VxReal* y, VxReal* z) {
    AnimGetAvatarPosition(static_cast<AnimAvatar*>(a), x, y, z);
  };
  self_hook.anim_model_height = [](void* a, VxReal* h) {
    model_instance* m = avatar_model(a);
    return m ? model_height(m, h) : 0;
  };
  self_hook.anim_clump = [](void* a) -> VxClump* {
    model_instance* m = avatar_model(a);
    return m ? model_clump(m) : nullptr;
  };
}
