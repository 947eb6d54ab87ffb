// The animation registry: the avatars a world offers, with their geometry, standard motions
// and gestures, read from the world's "avatars.dat".
#pragma once

#include <istream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Zembrel/Pose/Anim/values.h"

class AvatarRecord {
 public:
  AvatarRecord() = default;
  AvatarRecord(const AvatarRecord&) = default;
  AvatarRecord& operator=(const AvatarRecord&) = default;
  ~AvatarRecord() = default;

  // The attribute's value, or an empty name.
  AnimName Attribute(const AnimName& name) const;
  const std::vector<AnimName>& ImplicitSequences() const { return imp_sequences; }
  const std::vector<AnimName>& ExplicitActions() const { return exp_actions; }
  const std::vector<AnimName>& ExplicitSequences() const { return exp_sequences; }

  std::map<AnimName, AnimName> attributes;
  std::vector<AnimName> imp_actions, imp_sequences;
  std::vector<AnimName> exp_actions, exp_sequences;
};

// The reader's exception.
struct parseError {
  int32_t line;
  char message[256];
};

class AnimRegistry {
 public:
  // Created on first use.
  static AnimRegistry* Get();
  void Clear();
  void MakeDefault();
  std::vector<AnimName> Names() const;
  // 251..255 the special avatars, 0..count-1 the file's; else null.
  const AvatarRecord* Entry(int number) const;
  int Count() const { return static_cast<int>(avatars_.size()); }
  // Reads into the (cleared) registry; false when not a registry or on a top-level error.
  // Reading stops once the file avatars fill the numbers below the special ones.
  bool Read(std::istream& in, const char* path);
  // The last Read stopped with more of the file unread.
  bool LeftOut() const { return left_out_; }

  // Avatar numbers 0-250 choose the file's avatars, 251-255 the special ones.
  static constexpr int kFileAvatars = 251;

  AnimRegistry();

 private:
  std::vector<AvatarRecord> avatars_;
  AvatarRecord special_[5];
  std::string path_;
  int last_token_ = 0;
  bool left_out_ = false;
};
