// The avatar animation library's flat interface: the only entry points the program calls.
// The library reaches the program's models, downloads and files only through the callbacks
// set with AnimSetCallbacks; a null callback is skipped (no model, no download).
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/vxl21.h"

struct AnimAvatar;

// Download completion codes handed to the download callback.
enum : int { ANIM_DOWNLOAD_FAILED = 418, ANIM_DOWNLOAD_ARRIVED = 419, ANIM_DOWNLOAD_CURRENT = 420 };
// Download class of sequences (models and sequences).
enum : int { ANIM_DOWNLOAD_CLASS = 1 };

struct AnimCallbacks {
  // Models: owner is the caller's pointer given to AnimCreateAvatar (the scene).
  void* (*model_reference)(const char* folder, const char* file, void* owner);
  void (*model_dereference)(void* model);
  // 1 with the model's lowest y, 0 while it has no bounding box yet.
  int (*model_get_bottom)(void* model, float* bottom);
  VxClump* (*model_clump)(void* model);
  // Downloads from the object server; data belongs to the queue and is gone after done().
  void* (*download_file)(const char* folder, const char* name, int cls,
                         void (*done)(void* user, int status, uint8_t* data, int size), void* user);
  void (*download_force)(void* request);
  // Extracts the single member of a zip held in memory to path; 0 on success.
  int (*unzip_memory)(uint8_t* data, size_t size, const char* path);
  // Renews a cache file's times.
  void (*file_touch)(const char* path);
  // One line for the program's log: what the library left out of a file, and why.
  void (*log)(const char* text);
};
// Copies the table (null clears every entry).
void AnimSetCallbacks(const AnimCallbacks* callbacks);

// Clears and refills the registry from the file (null: the default avatar "cy").
void AnimLoadRegistry(const char* path);
// Settings from the cache directory, the channel-name table, and an empty registry. Returns 1.
int AnimReset(const char* cache_dir);
// New array of count new texts (free each with delete[], then the array with delete[]);
// null and 0 without a registry.
char** AnimGetAvatarNames(int* count);
void AnimFreeAvatarNames(char** names, int count);
// Gesture names of avatar number, NUL after each. 0 for no such avatar or when the buffer is
// too small (count then holds the names copied).
int AnimGetAvatarActions(int avatar, int* count, char* buffer, int size);

AnimAvatar* AnimCreateAvatar(void* owner, int other_user, int animations);
void AnimDestroyAvatar(AnimAvatar* avatar);
// Yaw in whole degrees, time in tick milliseconds. 0 when the model cannot be referenced.
int AnimSetAvatarState(AnimAvatar* avatar, float x, float y, float z, int yaw, uint32_t time, int type,
                       int motion, int gesture);
void AnimUpdateAvatar(AnimAvatar* avatar, uint32_t time);
void AnimGetAvatarPosition(AnimAvatar* avatar, float* x, float* y, float* z);
void* AnimGetAvatarModel(AnimAvatar* avatar);
// Inspection: the motion its animation plays (1 standing, 2 turning, 3 walking, 4 waiting,
// 5 end of waiting); an avatar whose animations are off stays at 1 however it moves.
int AnimGetAvatarMotion(AnimAvatar* avatar);

// The channel-name table.
int AnimInternName(const char* name);
int AnimJointNameNumber(int tag);

// Library settings, set by AnimReset.
struct AnimSettings {
  char root[256];
  char avatar_folder[256];
  char avatar_path[512];
  char sequence_folder[256];
  char sequence_path[512];
  char sequence_ext[16];
  char archive_ext[16];
  char separator[4];
  float scale;
  float side[3];
  float up[3];
  float forward[3];
};
const AnimSettings& anim_settings();
