// The sequence engine: sequences evaluated into channel values, the players that step
// through them, the two blending policies, and the curves of the smooth motion controller.
#pragma once

#include <istream>
#include <vector>

#include "Zembrel/Pose/Anim/seqfile.h"
#include "Zembrel/Pose/Anim/values.h"

enum : int32_t { CHANNEL_ROOT_ORIENTATION = 1, CHANNEL_ROOT_TRANSLATION = 2 };
enum : int32_t {
  CHANNEL_PLAIN = 0,
  CHANNEL_ROOT_ROTATION = 1,
  CHANNEL_TRANSLATION = 2,
  CHANNEL_SCALAR = 3,
  CHANNEL_ROTATION4 = 4,
  CHANNEL_ROTATION5 = 5,
  CHANNEL_ROTATION = 6,
};

struct ChannelValue {
  int32_t id = 0;
  int32_t type = 0;
  // Rotations (w, x, y, z); vectors (x, y, z); scalars and plain values in the first float.
  float value[4] = {0, 0, 0, 0};

  AnimQuat Quat() const { return {value[0], value[1], value[2], value[3]}; }
  void SetQuat(const AnimQuat& q) {
    value[0] = q.w;
    value[1] = q.x;
    value[2] = q.y;
    value[3] = q.z;
  }
};
ChannelValue channel_neutral(const ChannelValue& v);
ChannelValue channel_interpolate(const ChannelValue& a, const ChannelValue& b, float w);

class ChannelSet : public RefObject {
 public:
  ChannelSet() = default;
  explicit ChannelSet(std::vector<ChannelValue> v) : values(std::move(v)) {}
  std::vector<ChannelValue> values;  // ascending id
};
using ChannelSetHandle = RefHandle<ChannelSet>;

class Sequence : public RefObject {
 public:
  // Reads the file from the stream (a missing stream is fatal) and maps its tracks to channels.
  explicit Sequence(std::istream* in);
  ChannelSetHandle Evaluate(int16_t frame, bool keep_forward);
  int16_t Frames() const { return file_.frames; }
  const SeqFile& File() const { return file_; }

  struct MapEntry {
    int32_t track;
    int32_t channel;
  };
  const std::vector<MapEntry>& Map() const { return map_; }

 private:
  SeqFile file_;
  std::vector<MapEntry> map_;
};
using SequenceHandle = RefHandle<Sequence>;

class SeqPlayer : public RefObject {
 public:
  virtual AnimTime Duration() = 0;
  // This player, or none when it has finished.
  virtual RefHandle<SeqPlayer> Advance(float distance, const AnimTime& step) = 0;
  virtual ChannelSetHandle Evaluate() = 0;
};
using PlayerHandle = RefHandle<SeqPlayer>;

enum : int32_t { PLAY_END = 0, PLAY_HOLD = 1, PLAY_LOOP = 2 };

class EmptyPlayer : public SeqPlayer {
 public:
  AnimTime Duration() override { return {10000, 0}; }
  PlayerHandle Advance(float, const AnimTime&) override { return PlayerHandle(this); }
  ChannelSetHandle Evaluate() override { return ChannelSetHandle(new ChannelSet()); }
};

class DistancePlayer : public SeqPlayer {
 public:
  DistancePlayer(SequenceHandle seq, int32_t mode);
  AnimTime Duration() override;
  PlayerHandle Advance(float distance, const AnimTime& step) override;
  ChannelSetHandle Evaluate() override;
  int16_t Frame() const { return frame_; }
  float Position() const { return position_; }
  float Length() const { return length_; }

 private:
  SequenceHandle seq_;
  int32_t mode_;
  int16_t frame_ = 0;
  float position_ = 0;
  float length_;
};

class TimePlayer : public SeqPlayer {
 public:
  TimePlayer(SequenceHandle seq, int32_t mode) : seq_(std::move(seq)), mode_(mode) {}
  AnimTime Duration() override;
  PlayerHandle Advance(float distance, const AnimTime& step) override;
  ChannelSetHandle Evaluate() override;
  int16_t Frame() const { return frame_; }

 private:
  SequenceHandle seq_;
  int32_t mode_;
  int16_t frame_ = 0;
  AnimTime elapsed_;
};

// An EmptyPlayer when the name is empty or not loaded in the sequence cache.
PlayerHandle make_player(const AnimName& name, bool time_driven, int32_t mode);

enum class MergePolicy { CrossFade, Overlay };
ChannelSetHandle channel_merge(const ChannelSetHandle& a, const ChannelSetHandle& b, MergePolicy policy, float w);

class HermiteSegment {
 public:
  HermiteSegment() = default;
  HermiteSegment(const AnimPoint& p0, const AnimVector& m0, const AnimPoint& p1, const AnimVector& m1);
  AnimPoint Value(float t) const;
  AnimVector Derivative(float t) const;
  float Length() const { return length_; }

  bool backwards = false;

 private:
  float c_[3][4] = {};  // per axis: p0, m0, p1, m1
  float length_ = 0;
};

class LinearSegment {
 public:
  LinearSegment() = default;
  LinearSegment(const AnimPoint& start, const AnimVector& delta, const AnimQuat& from, const AnimQuat& to);
  AnimPoint Position(float t) const { return start_ + delta_ * t; }
  AnimQuat Orientation(float t) const { return anim_blend(from_, to_, t); }
  float Distance(float t) const { return delta_.Length() * t; }

 private:
  AnimPoint start_;
  AnimVector delta_;
  AnimQuat from_, to_;
};
