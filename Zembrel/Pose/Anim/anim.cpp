#include "Zembrel/Pose/Anim/anim.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <new>
#include <string>
#include <vector>

#include "Zembrel/Pose/Anim/anim_internal.h"
#include "Zembrel/Pose/Anim/animator.h"
#include "Zembrel/Pose/Anim/registry.h"
#include "Zembrel/Pose/Anim/seqcache.h"
#include "Zembrel/Pose/Anim/skeleton.h"
#include "platform/regular.h"

struct AnimAvatar {
  void* owner = nullptr;
  AvatarAnimator* runtime = nullptr;
  int32_t type = -1;
  void* model = nullptr;
  VxClump* root = nullptr;
  float height_offset = -0.0f;
  AnimPoint rest;
};

namespace {

AnimCallbacks g_callbacks{};

AnimSettings make_default_settings() {
  AnimSettings s{};
  std::snprintf(s.sequence_ext, sizeof s.sequence_ext, ".seq");
  std::snprintf(s.archive_ext, sizeof s.archive_ext, ".zip");
  std::snprintf(s.separator, sizeof s.separator, "/");
  std::snprintf(s.avatar_folder, sizeof s.avatar_folder, "avatars");
  std::snprintf(s.sequence_folder, sizeof s.sequence_folder, "seqs");
  std::snprintf(s.avatar_path, sizeof s.avatar_path, "avatars");
  std::snprintf(s.sequence_path, sizeof s.sequence_path, "seqs");
  s.scale = 0.1f;
  s.side[0] = -1;
  s.up[1] = 1;
  s.forward[2] = 1;
  return s;
}
AnimSettings g_settings = make_default_settings();

// Channel names: numbered in order of first use from 3, found through a sorted index.
std::vector<std::string> g_names;
std::vector<int32_t> g_sorted;  // indices into g_names, by name
int32_t g_joint_ids[ANIM_JOINTS + 1] = {0};
bool g_joints_made = false;

}  // namespace

const AnimCallbacks& anim_callbacks() { return g_callbacks; }

void anim_log(const char* fmt, ...) {
  if (!g_callbacks.log) return;
  char text[512];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  g_callbacks.log(text);
}

bool anim_read_file(const char* path, int64_t limit, std::string* data) {
  static std::set<std::string> told;
  std::string why;
  if (platform_read_regular(path, limit, data, &why)) return true;
  if (platform_refused(errno) && told.insert(path).second) anim_log("%s is not read: %s", path, why.c_str());
  return false;
}

void AnimSetCallbacks(const AnimCallbacks* callbacks) { g_callbacks = callbacks ? *callbacks : AnimCallbacks{}; }

const AnimSettings& anim_settings() { return g_settings; }

int AnimInternName(const char* name) {
  std::string n(AnimName(name).c_str());
  size_t lo = 0, hi = g_sorted.size();
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    if (g_names[static_cast<size_t>(g_sorted[mid])] < n) lo = mid + 1;
    else hi = mid;
  }
  if (lo < g_sorted.size() && g_names[static_cast<size_t>(g_sorted[lo])] == n) return g_sorted[lo] + 3;
  g_names.push_back(n);
  int32_t index = static_cast<int32_t>(g_names.size() - 1);
  g_sorted.insert(g_sorted.begin() + static_cast<std::ptrdiff_t>(lo), index);
  return index + 3;
}

int AnimJointNameNumber(int tag) { return tag >= 1 && tag <= ANIM_JOINTS ? g_joint_ids[tag] : 0; }

int AnimReset(const char* cache_dir) {
  AnimSettings& s = g_settings;
  std::snprintf(s.sequence_ext, sizeof s.sequence_ext, ".seq");
  std::snprintf(s.archive_ext, sizeof s.archive_ext, ".zip");
  std::snprintf(s.root, sizeof s.root, "%s", cache_dir ? cache_dir : "");
  std::snprintf(s.separator, sizeof s.separator, "/");
  std::snprintf(s.avatar_folder, sizeof s.avatar_folder, "avatars");
  std::snprintf(s.avatar_path, sizeof s.avatar_path, "%.255s/%.255s", s.root, s.avatar_folder);
  std::snprintf(s.sequence_folder, sizeof s.sequence_folder, "seqs");
  std::snprintf(s.sequence_path, sizeof s.sequence_path, "%.255s/%.255s", s.root, s.sequence_folder);
  s.scale = 0.1f;
  s.side[0] = -1;
  s.side[1] = s.side[2] = 0;
  s.up[0] = s.up[2] = 0;
  s.up[1] = 1;
  s.forward[0] = s.forward[1] = 0;
  s.forward[2] = 1;
  if (!g_joints_made) {
    for (int tag = 1; tag <= ANIM_JOINTS; ++tag) g_joint_ids[tag] = AnimInternName(anim_joint_name(tag));
    g_joints_made = true;
  }
  if (AnimRegistry* r = AnimRegistry::Get()) r->Clear();
  return 1;
}

// Far above any avatar list a world serves.
constexpr int64_t kListBytes = int64_t(16) << 20;

void AnimLoadRegistry(const char* path) {
  AnimRegistry* r = AnimRegistry::Get();
  if (!r) return;
  r->Clear();
  if (!path) {
    r->MakeDefault();
    return;
  }
  if (g_callbacks.file_touch) g_callbacks.file_touch(path);
  std::string text;
  if (!anim_read_file(path, kListBytes, &text)) return;
  std::istringstream in(text);
  r->Read(in, path);
  if (r->LeftOut())
    anim_log("%s: more avatars than the %d an avatar number can choose, the rest left unread", path,
             AnimRegistry::kFileAvatars);
}

char** AnimGetAvatarNames(int* count) {
  if (count) *count = 0;
  AnimRegistry* r = AnimRegistry::Get();
  if (!r) return nullptr;
  std::vector<AnimName> names = r->Names();
  char** out = new (std::nothrow) char*[names.size() + 1];
  if (!out) return nullptr;
  for (size_t i = 0; i < names.size(); ++i) {
    size_t n = names[i].size();
    out[i] = new char[n + 1];
    std::memcpy(out[i], names[i].c_str(), n + 1);
  }
  out[names.size()] = nullptr;
  if (count) *count = static_cast<int>(names.size());
  return out;
}

void AnimFreeAvatarNames(char** names, int count) {
  if (!names) return;
  for (int i = 0; i < count; ++i) delete[] names[i];
  delete[] names;
}

int AnimGetAvatarActions(int avatar, int* count, char* buffer, int size) {
  if (count) *count = 0;
  AnimRegistry* r = AnimRegistry::Get();
  const AvatarRecord* e = r ? r->Entry(avatar) : nullptr;
  if (!e || !buffer || size < 0) return 0;
  size_t used = 0;
  int copied = 0;
  for (const AnimName& a : e->ExplicitActions()) {
    size_t n = a.size();
    if (used + n + 1 > static_cast<size_t>(size)) return 0;
    std::memcpy(buffer + used, a.c_str(), n + 1);
    used += n + 1;
    if (count) *count = ++copied;
  }
  return 1;
}

AnimAvatar* AnimCreateAvatar(void* owner, int other_user, int animations) {
  AnimAvatar* a = new (std::nothrow) AnimAvatar;
  if (!a) return nullptr;
  a->owner = owner;
  a->runtime = new (std::nothrow) AvatarAnimator(other_user != 0, animations != 0);
  if (!a->runtime) {
    delete a;
    return nullptr;
  }
  return a;
}

void AnimDestroyAvatar(AnimAvatar* a) {
  if (!a) return;
  // The avatar no longer uses its type: its sequences may leave the cache.
  AvatarTypeUsage::Get()->Release(a->type);
  if (a->model && g_callbacks.model_dereference) g_callbacks.model_dereference(a->model);
  delete a->runtime;
  delete a;
}

namespace {

VxClump* model_root(void* model) {
  return model && g_callbacks.model_clump ? g_callbacks.model_clump(model) : nullptr;
}

void model_setup(AnimAvatar* a) {
  a->root = model_root(a->model);
  float bottom = 0;
  if (a->model && g_callbacks.model_get_bottom && g_callbacks.model_get_bottom(a->model, &bottom))
    a->height_offset = -bottom;
  else a->height_offset = -0.0f;
  VxClump* child = a->root ? VxGetFirstChildClump(a->root) : nullptr;
  if (child) a->rest = anim_get_translation(child);
}

}  // namespace

int AnimSetAvatarState(AnimAvatar* a, float x, float y, float z, int yaw, uint32_t time, int type, int motion,
                       int gesture) {
  (void)motion;  // motion is inferred from the changes of position and orientation
  if (!a) return 0;
  if (type != a->type) {
    AvatarTypeUsage::Get()->Release(a->type);
    AvatarTypeUsage::Get()->Acquire(type);
    if (a->model && g_callbacks.model_dereference) g_callbacks.model_dereference(a->model);
    a->model = nullptr;
    a->root = nullptr;
    a->type = type;
    char file[300] = "";
    AnimRegistry* reg = AnimRegistry::Get();
    if (const AvatarRecord* r = reg ? reg->Entry(type) : nullptr) {
      AnimName geometry = r->Attribute(AnimName("geometry"));
      if (!geometry.empty()) std::snprintf(file, sizeof file, "%s", geometry.c_str());
      else std::snprintf(file, sizeof file, "%s.vxx", r->Attribute(AnimName("name")).c_str());
    }
    void* model = g_callbacks.model_reference ? g_callbacks.model_reference(g_settings.avatar_folder, file, a->owner)
                                              : nullptr;
    if (!model) return 0;
    a->model = model;
    model_setup(a);
    a->runtime->ResetLayers();
  }
  AnimQuat q = AnimQuat::FromAxisAngle(AnimVector(g_settings.up[0], g_settings.up[1], g_settings.up[2]),
                                       static_cast<float>(yaw * 0.017453292519943295));
  a->runtime->SetState(AnimPoint(x, y, z), q, type, gesture, AnimTime::FromMillis(time));
  return 1;
}

void AnimUpdateAvatar(AnimAvatar* a, uint32_t time) {
  if (!a) return;
  if (model_root(a->model) != a->root) model_setup(a);
  a->runtime->Update(AnimTime::FromMillis(time), a->root, a->height_offset, a->root, a->rest);
}

void AnimGetAvatarPosition(AnimAvatar* a, float* x, float* y, float* z) {
  AnimPoint p = a ? a->runtime->CurrentPosition() : AnimPoint();
  if (x) *x = p.x;
  if (y) *y = p.y;
  if (z) *z = p.z;
}

void* AnimGetAvatarModel(AnimAvatar* a) { return a ? a->model : nullptr; }
int AnimGetAvatarMotion(AnimAvatar* a) { return a && a->runtime ? a->runtime->MotionState() : 1; }
