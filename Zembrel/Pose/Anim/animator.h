// The per-avatar runtime: motion controllers, the motion-state tracker and the two
// sequence layers (motion and gesture) of one avatar.
#pragma once

#include <memory>

#include "Zembrel/Pose/Anim/seqnode.h"
#include "Zembrel/Pose/Anim/skeleton.h"

class MotionController {
 public:
  virtual ~MotionController() = default;
  virtual bool HasTarget() = 0;
  virtual void SetTarget(const AnimPoint& p, const AnimQuat& q, const AnimTime& t, const AnimTime& interval) = 0;
  virtual AnimPoint TargetPosition() = 0;
  virtual AnimQuat TargetOrientation() = 0;
  virtual AnimTime TargetTime() = 0;
  virtual AnimTime ExtraTime() = 0;
  virtual void AdvanceTo(const AnimTime& t) = 0;
  virtual AnimTime CurrentTime() = 0;
  virtual AnimPoint CurrentPosition() = 0;
  virtual AnimQuat CurrentOrientation() = 0;
  virtual int32_t Direction() = 0;
  virtual float TakeDistance() = 0;
  virtual float StepLength() = 0;
};

// The user's own avatar: it is where it was last put.
class DirectMotion : public MotionController {
 public:
  bool HasTarget() override { return has_target_; }
  void SetTarget(const AnimPoint& p, const AnimQuat& q, const AnimTime& t, const AnimTime& interval) override;
  AnimPoint TargetPosition() override { return position_; }
  AnimQuat TargetOrientation() override { return orientation_; }
  AnimTime TargetTime() override { return time_; }
  AnimTime ExtraTime() override { return interval_; }
  void AdvanceTo(const AnimTime& t) override { current_ = t; }
  AnimTime CurrentTime() override { return current_; }
  AnimPoint CurrentPosition() override { return position_; }
  AnimQuat CurrentOrientation() override { return orientation_; }
  int32_t Direction() override { return 1; }
  float TakeDistance() override;
  float StepLength() override { return step_; }

 private:
  bool has_target_ = false;
  AnimPoint position_;
  AnimQuat orientation_;
  AnimTime time_, interval_, current_;
  float pending_ = 0;
  float step_ = 0;
};

// Other users' avatars: reach each reported place one interval after its time stamp.
class SmoothMotion : public MotionController {
 public:
  SmoothMotion() : created_(AnimTime::Now()) {}
  bool HasTarget() override { return has_target_; }
  void SetTarget(const AnimPoint& p, const AnimQuat& q, const AnimTime& t, const AnimTime& interval) override;
  AnimPoint TargetPosition() override;
  AnimQuat TargetOrientation() override { return target_q_; }
  AnimTime TargetTime() override { return target_t_; }
  AnimTime ExtraTime() override { return created_; }
  void AdvanceTo(const AnimTime& t) override;
  AnimTime CurrentTime() override { return current_t_; }
  AnimPoint CurrentPosition() override;
  AnimQuat CurrentOrientation() override { return current_q_; }
  int32_t Direction() override { return direction_; }
  float TakeDistance() override { return covered_; }
  float StepLength() override { return length_; }
  int32_t PathKind() const { return kind_; }

 private:
  void Plan();
  bool has_target_ = false;
  AnimPoint target_h_;
  float target_height_ = 0;
  AnimQuat target_q_;
  AnimTime target_t_;
  AnimTime created_;
  AnimTime start_t_, end_t_;
  AnimPoint current_h_;
  AnimQuat current_q_;
  AnimTime current_t_;
  int32_t kind_ = 1;
  int32_t direction_ = 1;
  float length_ = 0;
  float covered_ = 0;
  float along_ = 0;
  float start_height_ = 0, current_height_ = 0;
  AnimPoint start_h_;
  AnimVector delta_;
  LinearSegment linear_;
  HermiteSegment hermite_;
};

struct MotionTracker {
  AnimPoint position;
  AnimQuat orientation;
  AnimTime time = AnimTime::Now();
  int32_t state = 1;
  AnimTime stamp;
  int32_t Update(const AnimPoint& p, const AnimQuat& q, const AnimTime& t);
};

enum : int32_t { MOTION_STANDING = 1, MOTION_TURNING = 2, MOTION_WALKING = 3, MOTION_WAITING = 4, MOTION_ENDWAIT = 5 };

class AvatarAnimator {
 public:
  AvatarAnimator(bool other_user, bool animations);
  ~AvatarAnimator();
  AvatarAnimator(const AvatarAnimator&) = delete;
  AvatarAnimator& operator=(const AvatarAnimator&) = delete;

  void SetState(const AnimPoint& p, const AnimQuat& q, int32_t type, int32_t gesture, const AnimTime& t);
  void Update(const AnimTime& now, VxClump* root, float height_offset, VxClump* pose, const AnimPoint& rest);
  void ResetLayers();
  AnimPoint CurrentPosition() const;

  MotionController* Controller() const { return controller_.get(); }
  int32_t MotionState() const { return state_; }
  int32_t Gesture() const { return gesture_; }
  const RefHandle<PlaceholderNode>& GestureLayer() const { return gesture_layer_; }
  const RefHandle<PlaceholderNode>& MotionLayer() const { return motion_layer_; }
  // The channels of the last Update (none before the first, or while nothing plays).
  const ChannelSetHandle& LastChannels() const { return last_; }

 private:
  std::unique_ptr<MotionController> controller_;
  SkeletonPoser poser_;
  bool animations_;
  RefHandle<PlaceholderNode> motion_layer_;
  RefHandle<PlaceholderNode> gesture_layer_;
  int32_t state_ = 1;
  int32_t gesture_ = 0;
  MotionTracker tracker_;
  ChannelSetHandle last_;
};
