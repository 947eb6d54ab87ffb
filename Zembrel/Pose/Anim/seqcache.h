// The cache of loaded sequences shared by all avatars, their download, and the per-type
// usage count that requests every sequence of an avatar type.
#pragma once

#include <map>
#include <vector>

#include "Zembrel/Pose/Anim/seq.h"

class SequenceCache {
 public:
  static SequenceCache* Get();
  SequenceHandle Find(const AnimName& name) const;
  void Acquire(const AnimName& name);
  void Release(const AnimName& name);
  // Users of the name, 0 when absent.
  int Users(const AnimName& name) const;
  int Size() const { return static_cast<int>(entries_.size()); }
  // Drops every entry (tests, and a program that starts over).
  void Clear() { entries_.clear(); }

  // The download queue's completion (user data: the fetch record).
  static void Completion(void* user, int status, uint8_t* data, int size);
  // The local file of a sequence name.
  static void LocalPath(const AnimName& name, char* out, size_t size);

 private:
  struct Entry {
    AnimName name;
    int32_t users;
    SequenceHandle sequence;
  };
  size_t LowerBound(const AnimName& name) const;
  std::vector<Entry> entries_;
};

class AvatarTypeUsage {
 public:
  static AvatarTypeUsage* Get();
  void Acquire(int32_t type);
  void Release(int32_t type);
  int Count(int32_t type) const;
  void Clear() { counts_.clear(); }

 private:
  std::map<int32_t, int32_t> counts_;
};
