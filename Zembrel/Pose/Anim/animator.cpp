#include "Zembrel/Pose/Anim/animator.h"

#include <cmath>

#include "Zembrel/Pose/Anim/anim.h"
#include "Zembrel/Pose/Anim/registry.h"

namespace {
AnimVector up() {
  const float* u = anim_settings().up;
  return {u[0], u[1], u[2]};
}
AnimVector forward() {
  const float* f = anim_settings().forward;
  return {f[0], f[1], f[2]};
}
}  // namespace

void DirectMotion::SetTarget(const AnimPoint& p, const AnimQuat& q, const AnimTime& t, const AnimTime& interval) {
  AnimPoint previous = has_target_ ? position_ : p;
  has_target_ = true;
  position_ = p;
  orientation_ = q;
  time_ = t;
  interval_ = interval;
  float step = (p - previous).Length();
  pending_ = step;
  step_ = step;
}

float DirectMotion::TakeDistance() {
  float d = pending_;
  pending_ = 0;
  return d;
}

void SmoothMotion::SetTarget(const AnimPoint& p, const AnimQuat& q, const AnimTime& t, const AnimTime& interval) {
  AnimVector u = up();
  float h = p.AsVector().Dot(u);
  AnimPoint horizontal = AnimPoint(0, 0, 0) + (p.AsVector() - u * h);
  if (!has_target_) {
    has_target_ = true;
    current_h_ = horizontal;
    current_height_ = h;
    current_q_ = q;
    current_t_ = t;
  }
  target_h_ = horizontal;
  target_height_ = h;
  target_q_ = q;
  target_t_ = t;
  Plan();
  along_ = 0;
  start_t_ = current_t_;
  end_t_ = t + interval;
  start_height_ = current_height_;
}

void SmoothMotion::Plan() {
  start_h_ = current_h_;
  delta_ = target_h_ - current_h_;
  float d = delta_.Length();
  if (d >= anim_settings().scale * 0.01f) {
    kind_ = 2;
    AnimVector t0 = current_q_.Rotate(forward() * d);
    AnimVector t1 = target_q_.Rotate(forward() * d);
    if (t0.Dot(delta_) >= 0 || t1.Dot(delta_) >= 0) {
      direction_ = 1;
    } else {
      direction_ = 2;
      t0 = -t0;
      t1 = -t1;
    }
    hermite_ = HermiteSegment(current_h_, t0, target_h_, t1);
    hermite_.backwards = direction_ == 2;
    length_ = hermite_.Length();
  } else {
    kind_ = 1;
    direction_ = 1;
    linear_ = LinearSegment(current_h_, delta_, current_q_, target_q_);
    length_ = d;
  }
}

void SmoothMotion::AdvanceTo(const AnimTime& t) {
  current_t_ = t;
  if (!has_target_) return;
  double span = end_t_.Seconds() - start_t_.Seconds();
  // A path with no time left is already at its end.
  double f = span > 0 ? (t.Seconds() - start_t_.Seconds()) / span : 1.0;
  if (!(f >= 0)) f = 0;  // negative or not a number
  if (f > 1) f = 1;
  float ff = static_cast<float>(f);
  float previous = along_;
  if (kind_ == 1) {
    current_h_ = linear_.Position(ff);
    current_q_ = linear_.Orientation(ff);
    along_ = linear_.Distance(ff);
  } else {
    current_h_ = hermite_.Value(ff);
    AnimVector dir = hermite_.Derivative(ff);
    if (direction_ == 2) dir = -dir;
    current_q_ = AnimQuat::FromDirections(forward(), dir.Normalized());
    along_ = length_ * ff;
  }
  covered_ = along_ - previous;
  current_height_ = start_height_ + (target_height_ - start_height_) * ff;
}

AnimPoint SmoothMotion::TargetPosition() { return target_h_ + up() * target_height_; }

AnimPoint SmoothMotion::CurrentPosition() { return current_h_ + up() * current_height_; }

int32_t MotionTracker::Update(const AnimPoint& p, const AnimQuat& q, const AnimTime& t) {
  if (stamp.IsZero()) {
    stamp = t;
    state = 1;
  } else {
    bool moved = p != position;
    bool turned = !anim_near_equal(q, orientation);
    int c = moved ? 3 : turned ? 2 : 1;
    auto due = [&](uint32_t s) { return stamp + AnimTime(s, 0) <= t; };
    auto go = [&](int32_t s) {
      stamp = t;
      state = s;
    };
    // A still state: after `wait` seconds still, the state `next`; a move or turn at once.
    auto still = [&](uint32_t wait, int32_t next) {
      if (c != 1)
        go(c);
      else if (due(wait))
        go(next);
    };
    switch (state) {
      case 1:
        still(10, 4);
        break;
      case 2:
        if (c != 2) go(c);
        break;
      case 3:
        if (c == 1) go(4);
        else if (c == 2) go(2);
        break;
      case 4:
        still(30, 5);
        break;
      case 5:
        still(10, 4);
        break;
      default:
        state = 1;
        break;
    }
  }
  position = p;
  orientation = q;
  time = t;
  return state;
}

AvatarAnimator::AvatarAnimator(bool other_user, bool animations) : animations_(animations) {
  if (other_user) controller_ = std::make_unique<SmoothMotion>();
  else controller_ = std::make_unique<DirectMotion>();
  ResetLayers();
}

AvatarAnimator::~AvatarAnimator() = default;

void AvatarAnimator::ResetLayers() {
  state_ = 1;
  gesture_ = 0;
  motion_layer_ = RefHandle<PlaceholderNode>(new PlaceholderNode(NodeHandle(new PipeNode(PlayerHandle(new EmptyPlayer())))));
  gesture_layer_ = RefHandle<PlaceholderNode>(new PlaceholderNode(NodeHandle(motion_layer_.get())));
}

AnimPoint AvatarAnimator::CurrentPosition() const {
  return controller_ ? controller_->CurrentPosition() : AnimPoint();
}

void AvatarAnimator::SetState(const AnimPoint& p, const AnimQuat& q, int32_t type, int32_t gesture, const AnimTime& t) {
  if (!controller_) return;
  bool target = controller_->TargetTime().IsZero();
  if (!target && t != controller_->TargetTime()) {
    if (p != controller_->TargetPosition()) target = true;
    else if (!anim_near_equal(q, controller_->TargetOrientation())) target = true;
  }
  if (target) {
    AnimTime interval = t - controller_->TargetTime();
    if (AnimTime(10, 0) < interval) interval = AnimTime(10, 0);
    controller_->SetTarget(p, q, t, interval);
  }
  if (!animations_) return;

  int32_t state = tracker_.Update(p, q, t);
  if (state != state_) {
    state_ = state;
    AnimRegistry* reg = AnimRegistry::Get();
    const AvatarRecord* r = reg ? reg->Entry(type) : nullptr;
    if (!r) return;
    const std::vector<AnimName>& imp = r->ImplicitSequences();
    NodeHandle seq;
    if (state == 1 || state == 2) seq = NodeHandle(new PipeNode(PlayerHandle(new EmptyPlayer())));
    else if (state == 3 && imp.size() >= 1) seq = NodeHandle(new PipeNode(make_player(imp[0], false, PLAY_LOOP)));
    else if (state == 4 && imp.size() >= 2) seq = NodeHandle(new PipeNode(make_player(imp[1], true, PLAY_HOLD)));
    else if (state == 5 && imp.size() >= 3) seq = NodeHandle(new PipeNode(make_player(imp[2], true, PLAY_HOLD)));
    if (seq) {
      NodeHandle old = motion_layer_->TakeChild();
      motion_layer_->SetChild(NodeHandle(new ShiftToNode(old, seq, AnimTime(0, 250))));
    }
  }
  if (gesture != gesture_) {
    gesture_ = gesture;
    if (gesture != 0) {
      AnimRegistry* reg = AnimRegistry::Get();
      const AvatarRecord* r = reg ? reg->Entry(type) : nullptr;
      if (r && gesture >= 1 && static_cast<size_t>(gesture) <= r->ExplicitSequences().size()) {
        RefHandle<PipeNode> action(
            new PipeNode(make_player(r->ExplicitSequences()[static_cast<size_t>(gesture - 1)], true, PLAY_END)));
        AnimTime duration = action->Duration();
        NodeHandle base = gesture_layer_->TakeChild();
        gesture_layer_->SetChild(NodeHandle(new DoActionNode(base, NodeHandle(action.get()), duration)));
      }
    }
  }
}

void AvatarAnimator::Update(const AnimTime& now, VxClump* root, float height_offset, VxClump* pose,
                            const AnimPoint& rest) {
  if (!controller_) return;
  AnimTime before = controller_->CurrentTime();
  controller_->AdvanceTo(now);
  poser_.PlaceRoot(controller_->CurrentPosition(), controller_->CurrentOrientation(), root, height_offset);
  AnimTime dt = controller_->CurrentTime() - before;
  float distance = controller_->TakeDistance();
  gesture_layer_->Advance(distance, dt);
  if (pose) {
    last_ = gesture_layer_->Evaluate();
    poser_.ApplyPose(last_.get(), pose, rest);
  }
}
