#include "Zembrel/Pose/Anim/seqnode.h"

#include <cstdio>

NodeHandle PipeNode::Advance(float distance, const AnimTime& step) {
  if (!player_) return NodeHandle();
  player_ = player_->Advance(distance, step);
  return player_ ? NodeHandle(this) : NodeHandle();
}

ChannelSetHandle PipeNode::Evaluate() { return player_ ? player_->Evaluate() : ChannelSetHandle(); }

std::ostream& PipeNode::Print(std::ostream& out) { return out << "(pipe id=?]"; }

AnimTime PipeNode::Duration() const { return player_ ? player_->Duration() : AnimTime(); }

NodeHandle PlaceholderNode::Advance(float distance, const AnimTime& step) {
  // Keep this node alive while the child's advance may drop the last other handle to it.
  NodeHandle self(this);
  if (child_) {
    NodeHandle next = child_->Advance(distance, step);
    child_ = std::move(next);
  }
  return self;
}

ChannelSetHandle PlaceholderNode::Evaluate() { return child_ ? child_->Evaluate() : ChannelSetHandle(); }

std::ostream& PlaceholderNode::Print(std::ostream& out) {
  out << "(placeholder ";
  if (child_) child_->Print(out);
  else out << "(nil)";
  return out << ")";
}

NodeHandle PlaceholderNode::TakeChild() {
  NodeHandle c = std::move(child_);
  child_ = NodeHandle();
  return c;
}

NodeHandle BinaryNode::AdvanceBoth(float distance, const AnimTime& step) {
  NodeHandle self(this);
  if (a_) {
    NodeHandle next = a_->Advance(distance, step);
    a_ = std::move(next);
  }
  if (b_) {
    NodeHandle next = b_->Advance(distance, step);
    b_ = std::move(next);
  }
  if (a_ && b_) return self;
  if (a_) return a_;
  if (b_) return b_;
  return NodeHandle();
}

NodeHandle BinaryNode::AdvanceThen(NodeHandle* survivor, float distance, const AnimTime& step) {
  NodeHandle self(this);
  elapsed_ = elapsed_ + step;
  if (elapsed_ < duration_) return AdvanceBoth(distance, step);
  return *survivor ? (*survivor)->Advance(distance, step) : NodeHandle();
}

ChannelSetHandle BinaryNode::EvaluateWith(MergePolicy policy) {
  float w = Weight();
  ChannelSetHandle b = b_ ? b_->Evaluate() : ChannelSetHandle();
  ChannelSetHandle a = a_ ? a_->Evaluate() : ChannelSetHandle();
  if (!a && !b) return ChannelSetHandle();
  return channel_merge(a, b, policy, w);
}

std::ostream& BinaryNode::PrintAs(std::ostream& out, const char* kind) {
  char t[64];
  std::snprintf(t, sizeof t, "%.3f", elapsed_.Seconds());
  out << "(" << kind << " t=" << t << " ";
  if (a_) a_->Print(out);
  else out << "(nil)";
  out << " ";
  if (b_) b_->Print(out);
  else out << "(nil)";
  return out << ")";
}

namespace {
float clamp01(double f) {
  if (!(f > 0)) return 0.0f;
  if (f > 1) return 1.0f;
  return static_cast<float>(f);
}
}  // namespace

// The new sequence stays when the shift is over.
NodeHandle ShiftToNode::Advance(float distance, const AnimTime& step) { return AdvanceThen(&b_, distance, step); }

float ShiftToNode::Weight() {
  double d = duration_.Seconds();
  if (d <= 0) return 1.0f;
  return clamp01(elapsed_.Seconds() / d);
}

// The base sequence goes on when the action is over.
NodeHandle DoActionNode::Advance(float distance, const AnimTime& step) { return AdvanceThen(&a_, distance, step); }

float DoActionNode::Weight() {
  double d = duration_.Seconds();
  float a = d <= 0 ? 1.0f : clamp01(elapsed_.Seconds() / d);
  return clamp01(8.0 * a * (1.0 - a));
}
