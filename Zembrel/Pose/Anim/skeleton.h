// Where animation meets the engine: placing an avatar's model and posing its body parts.
#pragma once

#include "Zembrel/Pose/Anim/seq.h"
#include "engine/vxl21.h"

enum : int { ANIM_JOINTS = 30 };
// Joint name of tag 1..30 (null otherwise).
const char* anim_joint_name(int tag);
// The clump of a joint: the first part (the clump itself included) tagged with its number,
// else the part the VRML parser tagged with the body part naming the same joint.
VxClump* anim_find_joint(VxClump* clump, int tag);

void anim_set_translation(VxClump* clump, const AnimPoint& t);
AnimPoint anim_get_translation(VxClump* clump);
void anim_set_joint_rotation(VxClump* clump, const AnimQuat& q);

class SkeletonPoser {
 public:
  void PlaceRoot(const AnimPoint& position, const AnimQuat& orientation, VxClump* root, float height_offset);
  void ApplyPose(const ChannelSet* channels, VxClump* pose, const AnimPoint& rest);
  void SetJoint(VxClump* clump, int tag, const AnimQuat& rotation);
};
