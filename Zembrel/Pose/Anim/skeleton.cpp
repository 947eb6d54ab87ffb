#include "Zembrel/Pose/Anim/skeleton.h"

#include "Zembrel/Pose/Anim/anim.h"

namespace {
const char* const kJoints[ANIM_JOINTS + 1] = {
    "",          "pelvis",  "back",      "neck",       "head",    "rtsternum", "rtshoulder", "rtelbow",
    "rtwrist",   "rtfingers", "lfsternum", "lfshoulder", "lfelbow", "lfwrist",   "lffingers",  "rthip",
    "rtknee",    "rtankle", "rttoes",    "lfhip",      "lfknee",  "lfankle",   "lftoes",     "neck2",
    "tail",      "tail2",   "tail3",     "tail4",      "obj",     "obj2",      "obj3"};
const AnimQuat kRootCorrection(1, 0, 0, 0);

// The VRML body part that names the same joint as each joint tag (0: none; the fingers,
// neck2, the tails and the objects have no VRML part).
const int kVrmlPart[ANIM_JOINTS + 1] = {0,  1,  10, 15, 16, 23, 13, 14, 28, 0, 22, 11, 12, 27, 0, 6,
                                        7,  8,  9,  2,  3,  4,  5,  0,  0,  0, 0,  0,  0,  0};
constexpr uint32_t kVrmlPartTag = 0x0C00FFFFu;  // the parser's tag of part p: this + p x 0x10000
}  // namespace

const char* anim_joint_name(int tag) { return tag >= 1 && tag <= ANIM_JOINTS ? kJoints[tag] : nullptr; }

VxClump* anim_find_joint(VxClump* clump, int tag) {
  if (!clump) return nullptr;
  if (VxClump* part = VxFindTaggedClump(clump, tag)) return part;
  // A model built from VRML tags its parts by body-part number instead.
  if (tag < 1 || tag > ANIM_JOINTS || !kVrmlPart[tag]) return nullptr;
  return VxFindTaggedClump(clump, static_cast<int32_t>(kVrmlPartTag + static_cast<uint32_t>(kVrmlPart[tag]) * 0x10000u));
}

void anim_set_translation(VxClump* clump, const AnimPoint& t) {
  if (!clump) return;
  VxMatrix* m = VxPushScratchMatrix();
  VxGetClumpMatrix(clump, m);
  VxSetMatrixElement(m, 3, 0, t.x);
  VxSetMatrixElement(m, 3, 1, t.y);
  VxSetMatrixElement(m, 3, 2, t.z);
  VxTransformClump(clump, m, VX_REPLACE);
  VxPopScratchMatrix();
}

AnimPoint anim_get_translation(VxClump* clump) {
  if (!clump) return {};
  VxMatrix* m = VxPushScratchMatrix();
  VxGetClumpMatrix(clump, m);
  AnimPoint p(VxGetMatrixElement(m, 3, 0), VxGetMatrixElement(m, 3, 1), VxGetMatrixElement(m, 3, 2));
  VxPopScratchMatrix();
  return p;
}

void anim_set_joint_rotation(VxClump* clump, const AnimQuat& q) {
  if (!clump) return;
  VxMatrix* m = VxPushScratchMatrix();
  VxGetClumpJointMatrix(clump, m);
  float e[16];
  q.Normalized().ToMatrix(e);
  VxSetMatrixElements(m, e);
  VxTransformClumpJoint(clump, m, VX_REPLACE);
  VxPopScratchMatrix();
}

void SkeletonPoser::SetJoint(VxClump* clump, int tag, const AnimQuat& rotation) {
  VxClump* part = anim_find_joint(clump, tag);
  if (part) anim_set_joint_rotation(part, rotation);
}

void SkeletonPoser::PlaceRoot(const AnimPoint& position, const AnimQuat& orientation, VxClump* root,
                              float height_offset) {
  if (!root) return;
  anim_set_translation(root, position + AnimVector(0, height_offset, 0));
  anim_set_joint_rotation(root, orientation);
}

void SkeletonPoser::ApplyPose(const ChannelSet* channels, VxClump* pose, const AnimPoint& rest) {
  if (!pose) return;
  int tag = 1;
  if (channels && !channels->values.empty()) {
    const std::vector<ChannelValue>& v = channels->values;
    size_t i = 0;
    for (; i < v.size() && v[i].id < 3; ++i) {
      if (v[i].id != 2) continue;
      VxClump* child = VxGetFirstChildClump(pose);
      if (!child) continue;
      AnimVector t(v[i].value[0], v[i].value[1], v[i].value[2]);
      anim_set_translation(child, rest + kRootCorrection.Rotate(t) * anim_settings().scale);
    }
    while (i < v.size() && tag <= ANIM_JOINTS) {
      int joint = AnimJointNameNumber(tag);
      if (v[i].id < joint) {
        ++i;
      } else if (v[i].id > joint) {
        SetJoint(pose, tag, AnimQuat());
        ++tag;
      } else {
        int type = v[i].type;
        if (type == 4 || type == 5 || type == 6) SetJoint(pose, tag, v[i].Quat());
        ++i;
        ++tag;
      }
    }
  }
  for (; tag <= ANIM_JOINTS; ++tag) SetJoint(pose, tag, AnimQuat());
}
