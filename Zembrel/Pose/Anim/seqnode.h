// Sequence nodes: the small tree of what an avatar plays at any moment.
#pragma once

#include <ostream>

#include "Zembrel/Pose/Anim/seq.h"

class SeqNode : public RefObject {
 public:
  // The node that takes this node's place: itself, another, or none when finished.
  virtual RefHandle<SeqNode> Advance(float distance, const AnimTime& step) = 0;
  virtual ChannelSetHandle Evaluate() = 0;
  virtual std::ostream& Print(std::ostream& out) = 0;
};
using NodeHandle = RefHandle<SeqNode>;

class PipeNode : public SeqNode {
 public:
  explicit PipeNode(PlayerHandle player) : player_(std::move(player)) {}
  NodeHandle Advance(float distance, const AnimTime& step) override;
  ChannelSetHandle Evaluate() override;
  std::ostream& Print(std::ostream& out) override;
  AnimTime Duration() const;

 private:
  PlayerHandle player_;
};

class PlaceholderNode : public SeqNode {
 public:
  explicit PlaceholderNode(NodeHandle child) : child_(std::move(child)) {}
  NodeHandle Advance(float distance, const AnimTime& step) override;
  ChannelSetHandle Evaluate() override;
  std::ostream& Print(std::ostream& out) override;
  NodeHandle TakeChild();
  void SetChild(NodeHandle child) { child_ = std::move(child); }
  const NodeHandle& Child() const { return child_; }

 private:
  NodeHandle child_;
};

class BinaryNode : public SeqNode {
 public:
  BinaryNode(NodeHandle a, NodeHandle b, const AnimTime& duration)
      : a_(std::move(a)), b_(std::move(b)), duration_(duration) {}
  virtual float Weight() = 0;
  const AnimTime& Elapsed() const { return elapsed_; }

 protected:
  NodeHandle AdvanceBoth(float distance, const AnimTime& step);
  // Both children advance while the blend lasts; after it, the one child in survivor takes
  // this node's place.
  NodeHandle AdvanceThen(NodeHandle* survivor, float distance, const AnimTime& step);
  ChannelSetHandle EvaluateWith(MergePolicy policy);
  std::ostream& PrintAs(std::ostream& out, const char* kind);

  NodeHandle a_, b_;
  AnimTime elapsed_;
  AnimTime duration_;
};

class ShiftToNode : public BinaryNode {
 public:
  using BinaryNode::BinaryNode;
  NodeHandle Advance(float distance, const AnimTime& step) override;
  ChannelSetHandle Evaluate() override { return EvaluateWith(MergePolicy::CrossFade); }
  std::ostream& Print(std::ostream& out) override { return PrintAs(out, "shiftto"); }
  float Weight() override;
};

class DoActionNode : public BinaryNode {
 public:
  using BinaryNode::BinaryNode;
  NodeHandle Advance(float distance, const AnimTime& step) override;
  ChannelSetHandle Evaluate() override { return EvaluateWith(MergePolicy::Overlay); }
  std::ostream& Print(std::ostream& out) override { return PrintAs(out, "doaction"); }
  float Weight() override;
};
