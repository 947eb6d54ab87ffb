// Node and field classes: the node table, the factories and reference counting.
#include "Parser/vrmlnodes.h"

#include <strings.h>

namespace {

#define F(name, type) {name, type}
const AgFieldDesc kWorldInfo[] = {F("info", AG_MFSTRING), F("title", AG_SFSTRING)};
const AgFieldDesc kGroup[] = {F("children", AG_MFNODE), F("bboxcenter", AG_SFVEC3F),
                              F("bboxsize", AG_SFVEC3F)};
const AgFieldDesc kTransform[] = {
    F("center", AG_SFVEC3F), F("children", AG_MFNODE), F("rotation", AG_SFROTATION),
    F("scale", AG_SFVEC3F), F("scaleorientation", AG_SFROTATION), F("translation", AG_SFVEC3F),
    F("bboxcenter", AG_SFVEC3F), F("bboxsize", AG_SFVEC3F)};
const AgFieldDesc kShape[] = {F("appearance", AG_SFNODE), F("geometry", AG_SFNODE)};
const AgFieldDesc kMaterial[] = {
    F("ambientintensity", AG_SFFLOAT), F("diffusecolor", AG_SFCOLOR), F("emissivecolor", AG_SFCOLOR),
    F("shininess", AG_SFFLOAT), F("specularcolor", AG_SFCOLOR), F("transparency", AG_SFFLOAT)};
const AgFieldDesc kTextureTransform[] = {F("center", AG_SFVEC2F), F("rotation", AG_SFFLOAT),
                                         F("scale", AG_SFVEC2F), F("translation", AG_SFVEC2F)};
const AgFieldDesc kAppearance[] = {F("material", AG_SFNODE), F("texture", AG_SFNODE),
                                   F("texturetransform", AG_SFNODE)};
const AgFieldDesc kImageTexture[] = {F("url", AG_MFSTRING), F("repeats", AG_SFBOOL),
                                     F("repeatt", AG_SFBOOL)};
const AgFieldDesc kIndexedFaceSet[] = {
    F("color", AG_SFNODE), F("coord", AG_SFNODE), F("normal", AG_SFNODE), F("texcoord", AG_SFNODE),
    F("ccw", AG_SFBOOL), F("colorindex", AG_MFINT32), F("colorpervertex", AG_SFBOOL),
    F("convex", AG_SFBOOL), F("coordindex", AG_MFINT32), F("creaseangle", AG_SFFLOAT),
    F("normalindex", AG_MFINT32), F("normalpervertex", AG_SFBOOL), F("solid", AG_SFBOOL),
    F("texcoordindex", AG_MFINT32)};
const AgFieldDesc kCoordinate[] = {F("point", AG_MFVEC3F)};
const AgFieldDesc kTextureCoordinate[] = {F("point", AG_MFVEC2F)};
const AgFieldDesc kColor[] = {F("color", AG_MFCOLOR)};
const AgFieldDesc kPositionInterpolator[] = {F("key", AG_MFFLOAT), F("keyvalue", AG_MFVEC3F)};
const AgFieldDesc kOrientationInterpolator[] = {F("key", AG_MFFLOAT), F("keyvalue", AG_MFROTATION)};
const AgFieldDesc kNormal[] = {F("vector", AG_MFVEC3F)};
const AgFieldDesc kAnchor[] = {
    F("addChildren", AG_MFNODE), F("removeChildren", AG_MFNODE), F("children", AG_MFNODE),
    F("description", AG_SFSTRING), F("parameter", AG_MFSTRING), F("url", AG_MFSTRING),
    F("bboxCenter", AG_SFVEC3F), F("bboxSize", AG_SFVEC3F)};
const AgFieldDesc kBillboard[] = {
    F("addChildren", AG_MFNODE), F("removeChildren", AG_MFNODE), F("axisOfRotation", AG_SFVEC3F),
    F("children", AG_MFNODE), F("bboxCenter", AG_SFVEC3F), F("bboxSize", AG_SFVEC3F)};
const AgFieldDesc kCollision[] = {
    F("addChildren", AG_MFNODE), F("removeChildren", AG_MFNODE), F("children", AG_MFNODE),
    F("collide", AG_SFBOOL), F("bboxCenter", AG_SFVEC3F), F("bboxSize", AG_SFVEC3F),
    F("proxy", AG_MFNODE), F("collideTime", AG_SFTIME)};
const AgFieldDesc kInline[] = {F("url", AG_MFSTRING), F("bboxCenter", AG_SFVEC3F),
                               F("bboxSize", AG_SFVEC3F)};
const AgFieldDesc kLOD[] = {F("level", AG_MFNODE), F("center", AG_SFVEC3F), F("range", AG_MFFLOAT)};
const AgFieldDesc kSwitch[] = {F("choice", AG_MFNODE), F("whichChoice", AG_SFINT32)};
const AgFieldDesc kAudioClip[] = {
    F("description", AG_SFSTRING), F("loop", AG_SFBOOL), F("pitch", AG_SFFLOAT),
    F("startTime", AG_SFTIME), F("stopTime", AG_SFTIME), F("url", AG_MFSTRING),
    F("duration_changed", AG_SFTIME), F("isActive", AG_SFBOOL)};
const AgFieldDesc kDirectionalLight[] = {
    F("ambientIntensity", AG_SFFLOAT), F("color", AG_SFCOLOR), F("direction", AG_SFVEC3F),
    F("intensity", AG_SFFLOAT), F("on", AG_SFBOOL)};
const AgFieldDesc kPointLight[] = {
    F("ambientIntensity", AG_SFFLOAT), F("attenuation", AG_SFVEC3F), F("color", AG_SFCOLOR),
    F("intensity", AG_SFFLOAT), F("location", AG_SFVEC3F), F("on", AG_SFBOOL),
    F("radius", AG_SFFLOAT)};
const AgFieldDesc kScript[] = {F("url", AG_MFSTRING), F("directOutput", AG_SFBOOL),
                               F("mustEvaluate", AG_SFBOOL)};
const AgFieldDesc kSound[] = {
    F("direction", AG_SFVEC3F), F("intensity", AG_SFFLOAT), F("location", AG_SFVEC3F),
    F("maxBack", AG_SFFLOAT), F("maxFront", AG_SFFLOAT), F("minBack", AG_SFFLOAT),
    F("minFront", AG_SFFLOAT), F("priority", AG_SFFLOAT), F("source", AG_SFNODE),
    F("spatialize", AG_SFBOOL)};
const AgFieldDesc kSpotLight[] = {
    F("ambientIntensity", AG_SFFLOAT), F("attenuation", AG_SFVEC3F), F("beamWidth", AG_SFFLOAT),
    F("color", AG_SFCOLOR), F("cutOffAngle", AG_SFFLOAT), F("direction", AG_SFVEC3F),
    F("intensity", AG_SFFLOAT), F("location", AG_SFVEC3F), F("on", AG_SFBOOL),
    F("radius", AG_SFFLOAT)};
const AgFieldDesc kCylinderSensor[] = {
    F("autoOffset", AG_SFBOOL), F("diskAngle", AG_SFFLOAT), F("enabled", AG_SFBOOL),
    F("maxAngle", AG_SFFLOAT), F("minAngle", AG_SFFLOAT), F("offset", AG_SFFLOAT),
    F("isActive", AG_SFBOOL), F("rotation_changed", AG_SFROTATION),
    F("trackPoint_changed", AG_SFVEC3F)};
const AgFieldDesc kPlaneSensor[] = {
    F("autoOffset", AG_SFBOOL), F("enabled", AG_SFBOOL), F("maxPosition", AG_SFVEC2F),
    F("minPosition", AG_SFVEC2F), F("offset", AG_SFVEC3F), F("isActive", AG_SFBOOL),
    F("trackPoint_changed", AG_SFVEC3F), F("translation_changed", AG_SFVEC3F)};
const AgFieldDesc kProximitySensor[] = {
    F("center", AG_SFVEC3F), F("size", AG_SFVEC3F), F("enabled", AG_SFBOOL),
    F("isActive", AG_SFBOOL), F("position_changed", AG_SFVEC3F),
    F("orientation_changed", AG_SFROTATION), F("enterTime", AG_SFTIME), F("exitTime", AG_SFTIME)};
const AgFieldDesc kSphereSensor[] = {
    F("autoOffset", AG_SFBOOL), F("enabled", AG_SFBOOL), F("offset", AG_SFROTATION),
    F("isActive", AG_SFBOOL), F("rotation_changed", AG_SFROTATION),
    F("trackPoint_changed", AG_SFVEC3F)};
const AgFieldDesc kTimeSensor[] = {
    F("cycleInterval", AG_SFFLOAT), F("enabled", AG_SFBOOL), F("loop", AG_SFBOOL),
    F("startTime", AG_SFTIME), F("stopTime", AG_SFTIME), F("cycleTime", AG_SFTIME),
    F("fraction_changed", AG_SFFLOAT), F("isActive", AG_SFBOOL), F("time", AG_SFTIME)};
const AgFieldDesc kTouchSensor[] = {
    F("enabled", AG_SFBOOL), F("hitNormal_changed", AG_SFVEC3F), F("hitPoint_changed", AG_SFVEC3F),
    F("hitTexCoord_changed", AG_SFVEC2F), F("isActive", AG_SFBOOL), F("isOver", AG_SFBOOL),
    F("touchTime", AG_SFTIME)};
const AgFieldDesc kVisibilitySensor[] = {
    F("center", AG_SFVEC3F), F("enabled", AG_SFBOOL), F("size", AG_SFVEC3F),
    F("enterTime", AG_SFTIME), F("exitTime", AG_SFTIME), F("isActive", AG_SFBOOL)};
const AgFieldDesc kBox[] = {F("size", AG_SFVEC3F)};
const AgFieldDesc kCone[] = {F("bottomRadius", AG_SFFLOAT), F("height", AG_SFFLOAT),
                             F("side", AG_SFBOOL), F("bottom", AG_SFBOOL)};
const AgFieldDesc kCylinder[] = {F("bottom", AG_SFBOOL), F("height", AG_SFFLOAT),
                                 F("radius", AG_SFFLOAT), F("side", AG_SFBOOL), F("top", AG_SFBOOL)};
const AgFieldDesc kElevationGrid[] = {
    F("set_height", AG_MFFLOAT), F("color", AG_SFNODE), F("normal", AG_SFNODE),
    F("texCoord", AG_SFNODE), F("height", AG_MFFLOAT), F("ccw", AG_SFBOOL),
    F("colorPerVertex", AG_SFBOOL), F("creaseAngle", AG_SFFLOAT), F("normalPerVertex", AG_SFBOOL),
    F("solid", AG_SFBOOL), F("xDimension", AG_SFINT32), F("xSpacing", AG_SFFLOAT),
    F("zDimension", AG_SFINT32), F("zSpacing", AG_SFFLOAT)};
const AgFieldDesc kExtrusion[] = {
    F("set_crossSection", AG_MFVEC2F), F("set_orientation", AG_MFROTATION),
    F("set_scale", AG_MFVEC2F), F("set_spine", AG_MFVEC3F), F("beginCap", AG_SFBOOL),
    F("ccw", AG_SFBOOL), F("convex", AG_SFBOOL), F("creaseAngle", AG_SFFLOAT),
    F("crossSection", AG_MFVEC2F), F("endCap", AG_SFBOOL), F("orientation", AG_MFROTATION),
    F("scale", AG_MFVEC2F), F("solid", AG_SFBOOL), F("spine", AG_MFVEC3F)};
const AgFieldDesc kIndexedLineSet[] = {
    F("set_colorIndex", AG_MFINT32), F("set_coordIndex", AG_MFINT32), F("color", AG_SFNODE),
    F("coord", AG_SFNODE), F("colorIndex", AG_MFINT32), F("colorPerVertex", AG_SFBOOL),
    F("coordIndex", AG_MFINT32)};
const AgFieldDesc kPointSet[] = {F("color", AG_SFNODE), F("coord", AG_SFNODE)};
const AgFieldDesc kSphere[] = {F("radius", AG_SFFLOAT)};
const AgFieldDesc kText[] = {F("string", AG_MFSTRING), F("fontStyle", AG_SFNODE),
                             F("length", AG_MFFLOAT), F("maxExtent", AG_SFFLOAT)};
const AgFieldDesc kFontStyle[] = {
    F("family", AG_SFSTRING), F("horizontal", AG_SFBOOL), F("justify", AG_MFSTRING),
    F("language", AG_SFSTRING), F("leftToRight", AG_SFBOOL), F("size", AG_SFFLOAT),
    F("spacing", AG_SFFLOAT), F("style", AG_SFSTRING), F("topToBottom", AG_SFBOOL)};
const AgFieldDesc kMovieTexture[] = {
    F("loop", AG_SFBOOL), F("speed", AG_SFFLOAT), F("startTime", AG_SFTIME),
    F("stopTime", AG_SFTIME), F("url", AG_MFSTRING), F("repeatS", AG_SFBOOL),
    F("repeatT", AG_SFBOOL), F("duration_changed", AG_SFFLOAT), F("isActive", AG_SFBOOL)};
const AgFieldDesc kPixelTexture[] = {F("image", AG_SFIMAGE), F("repeatS", AG_SFBOOL),
                                     F("repeatT", AG_SFBOOL)};
const AgFieldDesc kColorInterpolator[] = {F("set_fraction", AG_SFFLOAT), F("key", AG_MFFLOAT),
                                          F("keyValue", AG_MFCOLOR), F("value_changed", AG_SFCOLOR)};
const AgFieldDesc kCoordinateInterpolator[] = {F("set_fraction", AG_SFFLOAT), F("key", AG_MFFLOAT),
                                               F("keyValue", AG_MFVEC3F),
                                               F("valueChanged", AG_MFVEC3F)};
const AgFieldDesc kNormalInterpolator[] = {F("set_fraction", AG_SFFLOAT), F("key", AG_MFFLOAT),
                                           F("keyValue", AG_MFVEC3F),
                                           F("value_changed", AG_MFVEC3F)};
const AgFieldDesc kScalarInterpolator[] = {F("set_fraction", AG_SFFLOAT), F("key", AG_MFFLOAT),
                                           F("keyValue", AG_MFFLOAT), F("value_changed", AG_SFFLOAT)};
const AgFieldDesc kBackground[] = {
    F("set_bind", AG_SFBOOL), F("groundAngle", AG_MFFLOAT), F("groundColor", AG_MFCOLOR),
    F("backUrl", AG_MFSTRING), F("bottomUrl", AG_MFSTRING), F("frontUrl", AG_MFSTRING),
    F("leftUrl", AG_MFSTRING), F("rightUrl", AG_MFSTRING), F("topUrl", AG_MFSTRING),
    F("skyAngle", AG_MFFLOAT), F("skyColor", AG_MFCOLOR), F("isBound", AG_SFBOOL)};
const AgFieldDesc kFog[] = {F("color", AG_SFCOLOR), F("fogType", AG_SFSTRING),
                            F("visibilityRange", AG_SFFLOAT), F("set_bind", AG_SFBOOL),
                            F("isBound", AG_SFBOOL)};
const AgFieldDesc kNavigationInfo[] = {
    F("set_bind", AG_SFBOOL), F("avatarSize", AG_MFFLOAT), F("headlight", AG_SFBOOL),
    F("speed", AG_SFFLOAT), F("type", AG_MFSTRING), F("visibilityLimit", AG_SFFLOAT),
    F("isBound", AG_SFBOOL)};
const AgFieldDesc kViewpoint[] = {
    F("set_bind", AG_SFBOOL), F("fieldOfView", AG_SFFLOAT), F("jump", AG_SFBOOL),
    F("orientation", AG_SFROTATION), F("position", AG_SFVEC3F), F("description", AG_SFSTRING),
    F("bindTime", AG_SFTIME), F("isBound", AG_SFBOOL)};
#undef F

}  // namespace

// Node types that are parsed, kept and ignored by the build.
#define AG_PLAIN_NODE(cls) \
  class cls : public AgNode { \
   public: \
    using AgNode::AgNode; \
  };
AG_PLAIN_NODE(AgWorldInfo)
AG_PLAIN_NODE(AgTextureTransform)
AG_PLAIN_NODE(AgCoordinate)
AG_PLAIN_NODE(AgTextureCoordinate)
AG_PLAIN_NODE(AgColor)
AG_PLAIN_NODE(AgNormal)
AG_PLAIN_NODE(AgAnchor)
AG_PLAIN_NODE(AgBillboard)
AG_PLAIN_NODE(AgCollision)
AG_PLAIN_NODE(AgInline)
AG_PLAIN_NODE(AgLOD)
AG_PLAIN_NODE(AgSwitch)
AG_PLAIN_NODE(AgAudioClip)
AG_PLAIN_NODE(AgDirectionalLight)
AG_PLAIN_NODE(AgPointLight)
AG_PLAIN_NODE(AgScript)
AG_PLAIN_NODE(AgSound)
AG_PLAIN_NODE(AgSpotLight)
AG_PLAIN_NODE(AgCylinderSensor)
AG_PLAIN_NODE(AgPlaneSensor)
AG_PLAIN_NODE(AgProximitySensor)
AG_PLAIN_NODE(AgSphereSensor)
AG_PLAIN_NODE(AgTimeSensor)
AG_PLAIN_NODE(AgTouchSensor)
AG_PLAIN_NODE(AgVisibilitySensor)
AG_PLAIN_NODE(AgBox)
AG_PLAIN_NODE(AgCone)
AG_PLAIN_NODE(AgCylinder)
AG_PLAIN_NODE(AgElevationGrid)
AG_PLAIN_NODE(AgExtrusion)
AG_PLAIN_NODE(AgIndexedLineSet)
AG_PLAIN_NODE(AgPointSet)
AG_PLAIN_NODE(AgSphere)
AG_PLAIN_NODE(AgText)
AG_PLAIN_NODE(AgFontStyle)
AG_PLAIN_NODE(AgMovieTexture)
AG_PLAIN_NODE(AgPixelTexture)
AG_PLAIN_NODE(AgColorInterpolator)
AG_PLAIN_NODE(AgCoordinateInterpolator)
AG_PLAIN_NODE(AgNormalInterpolator)
AG_PLAIN_NODE(AgScalarInterpolator)
AG_PLAIN_NODE(AgBackground)
AG_PLAIN_NODE(AgFog)
AG_PLAIN_NODE(AgNavigationInfo)
AG_PLAIN_NODE(AgViewpoint)
#undef AG_PLAIN_NODE

namespace {

struct NodeType {
  const char* name;
  const AgFieldDesc* fields;
  int32_t count;
  AgNode* (*make)(int32_t type, const AgFieldDesc* fields, int32_t count, const char* def);
};

template <class T>
AgNode* Make(int32_t type, const AgFieldDesc* fields, int32_t count, const char* def) {
  return new T(type, fields, count, def);
}

#define N(name, cls, table) {name, table, int32_t(sizeof(table) / sizeof(table[0])), &Make<cls>}
const NodeType kNodes[AG_NODE_COUNT] = {
    N("worldinfo", AgWorldInfo, kWorldInfo),
    N("group", AgGroup, kGroup),
    N("transform", AgTransform, kTransform),
    N("shape", AgShape, kShape),
    N("material", AgMaterial, kMaterial),
    N("texturetransform", AgTextureTransform, kTextureTransform),
    N("appearance", AgAppearance, kAppearance),
    N("imagetexture", AgImageTexture, kImageTexture),
    N("indexedfaceset", AgIndexedFaceSet, kIndexedFaceSet),
    N("coordinate", AgCoordinate, kCoordinate),
    N("texturecoordinate", AgTextureCoordinate, kTextureCoordinate),
    N("color", AgColor, kColor),
    N("positioninterpolator", AgPositionInterpolator, kPositionInterpolator),
    N("orientationinterpolator", AgOrientationInterpolator, kOrientationInterpolator),
    N("normal", AgNormal, kNormal),
    N("anchor", AgAnchor, kAnchor),
    N("billboard", AgBillboard, kBillboard),
    N("collision", AgCollision, kCollision),
    N("inline", AgInline, kInline),
    N("lod", AgLOD, kLOD),
    N("switch", AgSwitch, kSwitch),
    N("audioclip", AgAudioClip, kAudioClip),
    N("directionallight", AgDirectionalLight, kDirectionalLight),
    N("pointlight", AgPointLight, kPointLight),
    N("script", AgScript, kScript),
    N("sound", AgSound, kSound),
    N("spotlight", AgSpotLight, kSpotLight),
    N("cylindersensor", AgCylinderSensor, kCylinderSensor),
    N("planesensor", AgPlaneSensor, kPlaneSensor),
    N("proximitysensor", AgProximitySensor, kProximitySensor),
    N("spheresensor", AgSphereSensor, kSphereSensor),
    N("timesensor", AgTimeSensor, kTimeSensor),
    N("touchsensor", AgTouchSensor, kTouchSensor),
    N("visibilitysensor", AgVisibilitySensor, kVisibilitySensor),
    N("box", AgBox, kBox),
    N("cone", AgCone, kCone),
    N("cylinder", AgCylinder, kCylinder),
    N("elevationgrid", AgElevationGrid, kElevationGrid),
    N("extrusion", AgExtrusion, kExtrusion),
    N("indexedlineset", AgIndexedLineSet, kIndexedLineSet),
    N("pointset", AgPointSet, kPointSet),
    N("sphere", AgSphere, kSphere),
    N("text", AgText, kText),
    N("fontstyle", AgFontStyle, kFontStyle),
    N("movietexture", AgMovieTexture, kMovieTexture),
    N("pixeltexture", AgPixelTexture, kPixelTexture),
    N("colorinterpolator", AgColorInterpolator, kColorInterpolator),
    N("coordinateinterpolator", AgCoordinateInterpolator, kCoordinateInterpolator),
    N("normalinterpolator", AgNormalInterpolator, kNormalInterpolator),
    N("scalarinterpolator", AgScalarInterpolator, kScalarInterpolator),
    N("background", AgBackground, kBackground),
    N("fog", AgFog, kFog),
    N("navigationinfo", AgNavigationInfo, kNavigationInfo),
    N("viewpoint", AgViewpoint, kViewpoint),
};
#undef N

}  // namespace

const char* AgNodeTypeName(int32_t type) {
  return (type >= 0 && type < AG_NODE_COUNT) ? kNodes[type].name : "?";
}

AgNode::AgNode(int32_t type, const AgFieldDesc* fields, int32_t field_count, const char* def_name)
    : def_name_(def_name ? def_name : ""), type_(type), fields_(fields), field_count_(field_count) {
  values_ = new AgFieldValue*[field_count]();
}

AgNode::~AgNode() {
  for (int32_t i = 0; i < field_count_; ++i) delete values_[i];
  delete[] values_;
}

AgNode* AgNode::Create(const char* type_name, const char* def_name) {
  for (int32_t i = 0; i < AG_NODE_COUNT; ++i) {
    if (strcasecmp(type_name, kNodes[i].name) == 0)
      return kNodes[i].make(i, kNodes[i].fields, kNodes[i].count, def_name);
  }
  throw AgVrml2Error("unrecognized node: %s", type_name);
}

AgFieldValue* AgNode::FindField(const char* name) {
  for (int32_t i = 0; i < field_count_; ++i) {
    if (strcasecmp(name, fields_[i].name) != 0) continue;
    if (values_[i]) throw AgVrml2Error("duplicate field");
    values_[i] = AgFieldValue::Create(fields_[i].type);
    current_ = values_[i];
    return current_;
  }
  throw AgVrml2Error("unrecognized field name: %s", name);
}

AgFieldValue* AgNode::GetField(int32_t index) const {
  if (index < 0 || index >= field_count_) return nullptr;
  AgFieldValue* v = values_[index];
  if (!v || v->IsEmpty()) return nullptr;
  return v;
}

void AgNodeRelease(AgNode* node) {
  if (!node) return;
  if (--node->uses_ <= 0) delete node;
}

AgFieldValue* AgFieldValue::Create(int32_t type) {
  switch (type) {
    case AG_SFBOOL: return new AgSFBool;
    case AG_SFCOLOR: return new AgSFColor;
    case AG_SFFLOAT: return new AgSFFloat;
    case AG_SFIMAGE: return new AgSFImage;
    case AG_SFINT32: return new AgSFInt32;
    case AG_SFNODE: return new AgSFNode;
    case AG_SFROTATION: return new AgSFRotation;
    case AG_SFSTRING: return new AgSFString;
    case AG_SFTIME: return new AgSFTime;
    case AG_SFVEC2F: return new AgSFVec2f;
    case AG_SFVEC3F: return new AgSFVec3f;
    case AG_MFCOLOR: return new AgMFColor;
    case AG_MFFLOAT: return new AgMFFloat;
    case AG_MFINT32: return new AgMFInt32;
    case AG_MFNODE: return new AgMFNode;
    case AG_MFROTATION: return new AgMFRotation;
    case AG_MFSTRING: return new AgMFString;
    case AG_MFVEC2F: return new AgMFVec2f;
    case AG_MFVEC3F: return new AgMFVec3f;
    default: throw AgVrml2Error("unable to create value");
  }
}

AgSFNode::~AgSFNode() { AgNodeRelease(node); }

void AgSFNode::AddNode(AgNode* n) {
  AgNodeRelease(node);
  node = n;
}

AgMFNode::~AgMFNode() {
  for (AgNode* n : nodes) AgNodeRelease(n);
}

void AgMFNode::AddNode(AgNode* n) {
  if (!n) return;  // a use of an unknown name adds nothing
  try {
    nodes.push_back(n);
  } catch (...) {
    AgNodeRelease(n);
    throw;
  }
}
