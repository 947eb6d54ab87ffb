// Node classes with behaviour, and the field positions the build reads.
#ifndef TESSEL_PARSER_VRMLNODES_H
#define TESSEL_PARSER_VRMLNODES_H

#include "Parser/vrml.h"

// Field positions in the node table.
enum { AG_GROUP_CHILDREN = 0 };
enum {
  AG_TRANSFORM_CENTER = 0, AG_TRANSFORM_CHILDREN, AG_TRANSFORM_ROTATION, AG_TRANSFORM_SCALE,
  AG_TRANSFORM_SCALEORIENTATION, AG_TRANSFORM_TRANSLATION,
};
enum { AG_SHAPE_APPEARANCE = 0, AG_SHAPE_GEOMETRY };
enum {
  AG_MATERIAL_AMBIENT = 0, AG_MATERIAL_DIFFUSECOLOR, AG_MATERIAL_EMISSIVE, AG_MATERIAL_SHININESS,
  AG_MATERIAL_SPECULAR, AG_MATERIAL_TRANSPARENCY,
};
enum { AG_APPEARANCE_MATERIAL = 0, AG_APPEARANCE_TEXTURE, AG_APPEARANCE_TEXTURETRANSFORM };
enum { AG_IMAGETEXTURE_URL = 0 };
enum {
  AG_IFS_COLOR = 0, AG_IFS_COORD, AG_IFS_NORMAL, AG_IFS_TEXCOORD, AG_IFS_CCW, AG_IFS_COLORINDEX,
  AG_IFS_COLORPERVERTEX, AG_IFS_CONVEX, AG_IFS_COORDINDEX, AG_IFS_CREASEANGLE,
  AG_IFS_NORMALINDEX, AG_IFS_NORMALPERVERTEX, AG_IFS_SOLID, AG_IFS_TEXCOORDINDEX,
};
enum { AG_INTERP_KEY = 0, AG_INTERP_KEYVALUE };

class AgGroup : public AgNode {
 public:
  using AgNode::AgNode;
  void Build(AgBuildContext& ctx, AgGeometryNode* geometry, int32_t* material) override;
};
class AgTransform : public AgNode {
 public:
  using AgNode::AgNode;
  void Build(AgBuildContext& ctx, AgGeometryNode* geometry, int32_t* material) override;
  void CollectInterpolators(AgBuildContext& ctx, AgInterpolatorData* data) override;
};
class AgShape : public AgNode {
 public:
  using AgNode::AgNode;
  void Build(AgBuildContext& ctx, AgGeometryNode* geometry, int32_t* material) override;
};
class AgMaterial : public AgNode {
 public:
  using AgNode::AgNode;
  void Fill(AgGeometryMaterial* m) const;
};
class AgImageTexture : public AgNode {
 public:
  using AgNode::AgNode;
  void Fill(AgGeometryMaterial* m) const;
};
class AgAppearance : public AgNode {
 public:
  using AgNode::AgNode;
  void Build(AgBuildContext& ctx, AgGeometryNode* geometry, int32_t* material) override;
};
class AgIndexedFaceSet : public AgNode {
 public:
  using AgNode::AgNode;
  void Validate() override;
  void Build(AgBuildContext& ctx, AgGeometryNode* geometry, int32_t* material) override;
};
class AgPositionInterpolator : public AgNode {
 public:
  using AgNode::AgNode;
  void CollectInterpolators(AgBuildContext& ctx, AgInterpolatorData* data) override;
};
class AgOrientationInterpolator : public AgNode {
 public:
  using AgNode::AgNode;
  void CollectInterpolators(AgBuildContext& ctx, AgInterpolatorData* data) override;
};

#endif
