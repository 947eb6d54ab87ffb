// VRML 2.0 scanner, parser, node and field classes (the library's inside).
#ifndef TESSEL_PARSER_VRML_H
#define TESSEL_PARSER_VRML_H

#include "Parser/aglib.h"
#include "Parser/arraypool.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// Token kinds.
enum : int32_t {
  AG_TOK_INTEGER = 300,
  AG_TOK_REAL = 301,
  AG_TOK_STRING = 302,
  AG_TOK_IDENT = 303,
  AG_TOK_END = 304,
  AG_TOK_DEF = 305,
  AG_TOK_USE = 306,
  AG_TOK_NULL = 307,
  AG_TOK_TRUE = 308,
  AG_TOK_FALSE = 309,
};

struct AgToken {
  int32_t kind = AG_TOK_END;
  int32_t ival = 0;
  float fval = 0;
  char text[128] = {0};
};

// Scanner over the bytes of one file, held in memory.
class AgVrmlLexer {
 public:
  AgVrmlLexer(const char* data, size_t size) : data_(data), size_(size) {}
  void Next(AgToken* token);
  int Line() const { return line_; }

 private:
  bool ScanPlain(AgToken* token);
  const char* data_;
  size_t size_;
  size_t pos_ = 0;
  int line_ = 1;
};

const char* AgTokenKindName(int32_t kind);

// Replaces the text AgGetLastError returns.
void AgSetLastError(const char* text);

// Field value type codes.
enum : int32_t {
  AG_SFBOOL = 300, AG_SFCOLOR, AG_SFFLOAT, AG_SFIMAGE, AG_SFINT32, AG_SFNODE, AG_SFROTATION,
  AG_SFSTRING, AG_SFTIME, AG_SFVEC2F, AG_SFVEC3F, AG_MFCOLOR, AG_MFFLOAT, AG_MFINT32,
  AG_MFNODE, AG_MFROTATION, AG_MFSTRING, AG_MFVEC2F, AG_MFVEC3F,
};

class AgNode;

class AgFieldValue {
 public:
  explicit AgFieldValue(int32_t type) : type_(type) {}
  virtual ~AgFieldValue() = default;
  virtual void AddFloat(float) {}
  virtual void SetImage(const int32_t*, int32_t) {}
  virtual void AddInt(int32_t) {}
  virtual void AddString(const char*) {}
  virtual void SetTime(double) {}
  virtual void AddNode(AgNode*) {}
  virtual void Finish() {}
  // True when the value holds nothing (an SFNode holding null, an empty list).
  virtual bool IsEmpty() const { return false; }
  int32_t GetType() const { return type_; }
  static AgFieldValue* Create(int32_t type);

 private:
  int32_t type_;
};

// Single values of up to four float components.
template <int N, int32_t T>
class AgSFVecN : public AgFieldValue {
 public:
  AgSFVecN() : AgFieldValue(T) {}
  void AddFloat(float f) override {
    if (next_ < N) v[next_++] = f;
  }
  float v[N] = {};

 private:
  int next_ = 0;
};
using AgSFColor = AgSFVecN<3, AG_SFCOLOR>;
using AgSFRotation = AgSFVecN<4, AG_SFROTATION>;
using AgSFVec2f = AgSFVecN<2, AG_SFVEC2F>;
using AgSFVec3f = AgSFVecN<3, AG_SFVEC3F>;

class AgSFBool : public AgFieldValue {
 public:
  AgSFBool() : AgFieldValue(AG_SFBOOL) {}
  void AddInt(int32_t i) override { value = i; }
  int32_t value = 0;
};
class AgSFInt32 : public AgFieldValue {
 public:
  AgSFInt32() : AgFieldValue(AG_SFINT32) {}
  void AddInt(int32_t i) override { value = i; }
  int32_t value = 0;
};
class AgSFFloat : public AgFieldValue {
 public:
  AgSFFloat() : AgFieldValue(AG_SFFLOAT) {}
  void AddFloat(float f) override { value = f; }
  float value = 0;
};
class AgSFImage : public AgFieldValue {
 public:
  AgSFImage() : AgFieldValue(AG_SFIMAGE) {}
  void SetImage(const int32_t* v, int32_t n) override {
    values.assign(v, v + (n > 0 ? n : 0));
  }
  std::vector<int32_t> values;
};
class AgSFTime : public AgFieldValue {
 public:
  AgSFTime() : AgFieldValue(AG_SFTIME) {}
  void SetTime(double t) override { value = t; }
  double value = 0;
};
class AgSFString : public AgFieldValue {
 public:
  AgSFString() : AgFieldValue(AG_SFSTRING) {}
  void AddString(const char* s) override {
    value = s;
    set = true;
  }
  std::string value;
  bool set = false;
};
class AgSFNode : public AgFieldValue {
 public:
  AgSFNode() : AgFieldValue(AG_SFNODE) {}
  ~AgSFNode() override;
  void AddNode(AgNode* n) override;
  bool IsEmpty() const override { return node == nullptr; }
  AgNode* node = nullptr;
};

// Lists of N-float elements; a partly given last element does not count. Number lists are not
// trimmed when done: the parse tree lives only until its geometry is built, and then their
// arrays go back to the pool for the next file.
template <int N, int32_t T>
class AgMFVecN : public AgFieldValue {
 public:
  AgMFVecN() : AgFieldValue(T) {}
  ~AgMFVecN() override { AgArrayPool<float>::Give(values); }
  void AddFloat(float f) override {
    part_[next_++] = f;
    if (next_ == N) {
      AgArrayPool<float>::Grow(values, N, true);
      for (int i = 0; i < N; ++i) values.push_back(part_[i]);
      next_ = 0;
    }
  }
  bool IsEmpty() const override { return values.empty(); }
  int32_t Count() const { return static_cast<int32_t>(values.size() / N); }
  const float* At(int32_t i) const { return &values[static_cast<size_t>(i) * N]; }
  std::vector<float> values;

 private:
  float part_[N] = {};
  int next_ = 0;
};
using AgMFColor = AgMFVecN<3, AG_MFCOLOR>;
using AgMFFloat = AgMFVecN<1, AG_MFFLOAT>;
using AgMFRotation = AgMFVecN<4, AG_MFROTATION>;
using AgMFVec2f = AgMFVecN<2, AG_MFVEC2F>;
using AgMFVec3f = AgMFVecN<3, AG_MFVEC3F>;

class AgMFInt32 : public AgFieldValue {
 public:
  AgMFInt32() : AgFieldValue(AG_MFINT32) {}
  ~AgMFInt32() override { AgArrayPool<int32_t>::Give(values); }
  void AddInt(int32_t i) override {
    AgArrayPool<int32_t>::Grow(values, 1, true);
    values.push_back(i);
  }
  bool IsEmpty() const override { return values.empty(); }
  std::vector<int32_t> values;
};
class AgMFString : public AgFieldValue {
 public:
  AgMFString() : AgFieldValue(AG_MFSTRING) {}
  void AddString(const char* s) override { values.emplace_back(s); }
  void Finish() override { values.shrink_to_fit(); }
  bool IsEmpty() const override { return values.empty(); }
  std::vector<std::string> values;
};
class AgMFNode : public AgFieldValue {
 public:
  AgMFNode() : AgFieldValue(AG_MFNODE) {}
  ~AgMFNode() override;
  void AddNode(AgNode* n) override;
  void Finish() override { nodes.shrink_to_fit(); }
  bool IsEmpty() const override { return nodes.empty(); }
  std::vector<AgNode*> nodes;
};

struct AgFieldDesc {
  const char* name;
  int32_t type;
};

// Shared state of one tree build: the options and a bound on the work a file can ask for.
struct AgBuildContext {
  int options = 0;
  int64_t budget = 0;  // geometry elements and node visits still allowed
  void Spend(int64_t units);
  // The material behind the shared material index, and the node that index belongs to:
  // a shape that inherits it into another geometry node enters it there first.
  AgGeometryNode* material_node = nullptr;
  AgGeometryMaterial material;
};

class AgNode {
 public:
  AgNode(int32_t type, const AgFieldDesc* fields, int32_t field_count, const char* def_name);
  virtual ~AgNode();
  AgNode(const AgNode&) = delete;
  AgNode& operator=(const AgNode&) = delete;

  virtual void Validate() {}
  virtual void Build(AgBuildContext& ctx, AgGeometryNode* geometry, int32_t* material) {}
  virtual void CollectInterpolators(AgBuildContext& ctx, AgInterpolatorData* data) {}

  static AgNode* Create(const char* type_name, const char* def_name);
  AgFieldValue* FindField(const char* name);
  AgFieldValue* GetField(int32_t index) const;
  AgFieldValue* CurrentField() const { return current_; }
  int32_t GetType() const { return type_; }
  const std::string& DefName() const { return def_name_; }
  int32_t PartTag(int options) const { return AgPartTagOf(def_name_.c_str(), options); }
  int32_t FieldCount() const { return field_count_; }
  const AgFieldDesc& FieldDesc(int32_t i) const { return fields_[i]; }
  // The value as read, also when it holds nothing (null when the field was not read).
  AgFieldValue* RawField(int32_t i) const { return (i >= 0 && i < field_count_) ? values_[i] : nullptr; }
  void AddUse() { ++uses_; }
  int32_t Uses() const { return uses_; }

  // Nesting of the node graph below this node (1 for a leaf), known once it is closed.
  int32_t height = 1;
  bool open = true;

 protected:
  std::string def_name_;
  int32_t type_;
  const AgFieldDesc* fields_;
  int32_t field_count_;
  AgFieldValue** values_;
  int32_t uses_ = 1;
  AgFieldValue* current_ = nullptr;

  friend void AgNodeRelease(AgNode* node);
};

void AgNodeRelease(AgNode* node);

enum : int32_t {
  AG_NODE_WORLDINFO = 0, AG_NODE_GROUP, AG_NODE_TRANSFORM, AG_NODE_SHAPE, AG_NODE_MATERIAL,
  AG_NODE_TEXTURETRANSFORM, AG_NODE_APPEARANCE, AG_NODE_IMAGETEXTURE, AG_NODE_INDEXEDFACESET,
  AG_NODE_COORDINATE, AG_NODE_TEXTURECOORDINATE, AG_NODE_COLOR, AG_NODE_POSITIONINTERPOLATOR,
  AG_NODE_ORIENTATIONINTERPOLATOR, AG_NODE_NORMAL,
  AG_NODE_COUNT = 54,
};
const char* AgNodeTypeName(int32_t type);

// The parser's semantic actions, in slot order.
class AgParserActions {
 public:
  virtual ~AgParserActions() = default;
  virtual void ValidateNode() = 0;
  virtual void UseNode(const char* name) = 0;
  virtual void SetDefName(const char* name) = 0;
  virtual void ClearDefName() = 0;
  virtual void BeginNode(const char* type_name) = 0;
  virtual void FinishField() = 0;
  virtual int32_t BeginField(const char* name) = 0;
  virtual void AddTrue() = 0;
  virtual void AddFalse() = 0;
  virtual void AddNull() = 0;
  virtual void AddInt(int32_t value) = 0;
  virtual void AddFloat(float value) = 0;
  virtual void AddString(const char* text) = 0;
  virtual void EndNode() = 0;
};

// Most states the parse may stack.
constexpr int AG_PARSE_STACK_MAX = 1024;

// Runs the grammar over the scanner's tokens, calling the actions.
void AgRunParse(AgVrmlLexer& lexer, AgParserActions& actions);

class AgVrmlParser : public AgParserActions {
 public:
  AgVrmlParser() = default;
  ~AgVrmlParser() override;
  AgVrmlParser(const AgVrmlParser&) = delete;
  AgVrmlParser& operator=(const AgVrmlParser&) = delete;

  void Parse(const char* path);
  void ParseText(const char* text, size_t length);
  // Builds the top-level nodes into a new geometry tree; interp gets the interpolators.
  AgGeometryNode* BuildTree(int options, AgInterpolatorData* interp);

  const std::vector<AgNode*>& TopNodes() const { return stack_; }

  void ValidateNode() override;
  void UseNode(const char* name) override;
  void SetDefName(const char* name) override;
  void ClearDefName() override;
  void BeginNode(const char* type_name) override;
  void FinishField() override;
  int32_t BeginField(const char* name) override;
  void AddTrue() override;
  void AddFalse() override;
  void AddNull() override;
  void AddInt(int32_t value) override;
  void AddFloat(float value) override;
  void AddString(const char* text) override;
  void EndNode() override;

 private:
  AgNode* Top() const;
  std::vector<AgNode*> stack_;   // node stack; a null entry is a use of an unknown name
  AgFieldValue* current_ = nullptr;
  std::string def_name_;
  std::unordered_map<std::string, AgNode*> defs_;  // newest node per lower-cased DEF name
};

// The largest number of geometry elements (vertices, polygons, corners, visited nodes)
// one file may build.
constexpr int64_t AG_BUILD_BUDGET = int64_t(1) << 22;
// The deepest node graph (nesting, also through USE) a file may describe.
constexpr int32_t AG_MAX_NODE_HEIGHT = 256;

#endif
