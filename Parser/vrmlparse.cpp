// The LR parse loop and the parser's semantic actions.
//
// The state stack holds one state per recognised grammar symbol, as an LR parser's does;
// lists are left-recursive, so long sibling lists never deepen it, and nesting is bounded
// by the stack's 1024 states.
#include "Parser/vrml.h"

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cstdio>
#include <iterator>

#include "platform/regular.h"

namespace {

// A model's file is read whole into memory: no real one comes near this.
constexpr int64_t kVrmlFileBytes = int64_t(64) << 20;

enum State : uint8_t {
  S_START,    // nothing read yet
  S_NODES,    // top-level node statements
  S_DEF,      // def
  S_DEFID,    // def identifier
  S_DEFOPT,   // [def identifier]
  S_NTYPEID,  // node type identifier
  S_NTYPE,    // node begun
  S_LC,       // {
  S_FIELDS,   // fields
  S_FNAMEID,  // field name identifier
  S_FN,       // field name of a known type
  S_TOK,      // a value token
  S_VAL,      // a value
  S_LB,       // [
  S_LIST,     // list of elements
  S_RB,       // ]
  S_MVAL,     // a whole field value
  S_FIELD,    // a field
  S_RC,       // }
  S_USE,      // use
  S_USEID,    // use identifier
  S_NODE,     // a node statement
};

// How a field of each type is written.
enum Form : uint8_t { F_BOOL, F_NUMS, F_INT, F_STR, F_SFNODE, F_MNUMS, F_MINT, F_MSTR, F_MNODE };
struct FormInfo {
  Form form;
  int group;  // numbers per element
};

FormInfo FormOf(int32_t type) {
  switch (type) {
    case AG_SFBOOL: return {F_BOOL, 1};
    case AG_SFCOLOR: case AG_SFVEC3F: return {F_NUMS, 3};
    case AG_SFFLOAT: return {F_NUMS, 1};
    case AG_SFINT32: return {F_INT, 1};
    case AG_SFNODE: return {F_SFNODE, 1};
    case AG_SFROTATION: return {F_NUMS, 4};
    case AG_SFSTRING: return {F_STR, 1};
    case AG_SFVEC2F: return {F_NUMS, 2};
    case AG_MFCOLOR: case AG_MFVEC3F: case AG_SFIMAGE: case AG_SFTIME: return {F_MNUMS, 3};
    case AG_MFFLOAT: return {F_MNUMS, 1};
    case AG_MFINT32: return {F_MINT, 1};
    case AG_MFNODE: return {F_MNODE, 1};
    case AG_MFROTATION: return {F_MNUMS, 4};
    case AG_MFSTRING: return {F_MSTR, 1};
    case AG_MFVEC2F: return {F_MNUMS, 2};
    default: throw AgVrml2Error("unable to create value");
  }
}

struct Entry {
  State state;
  int32_t type;  // field type inside a field, else 0
  int32_t n;     // values of the current element so far (S_VAL)
};

class Loop {
 public:
  Loop(AgVrmlLexer& lexer, AgParserActions& actions) : lex_(lexer), act_(actions) {}

  void Run() {
    lex_.Next(tok_);
    Push(S_START);
    for (;;) {
      Entry& e = st_[top_];
      switch (e.state) {
        case S_START:
        case S_NODES:
          if (e.state == S_NODES && tok_->kind == AG_TOK_END) return;  // accept
          NodeStart();
          break;
        case S_DEF:
          Expect(AG_TOK_IDENT, S_DEFID);
          break;
        case S_DEFID:
          act_.SetDefName(last_->text);
          Pop(2);
          Push(S_DEFOPT);
          break;
        case S_DEFOPT:
          Expect(AG_TOK_IDENT, S_NTYPEID);
          break;
        case S_NTYPEID:
          act_.BeginNode(last_->text);
          Pop(1);
          Push(S_NTYPE);
          break;
        case S_NTYPE:
          Expect('{', S_LC);
          break;
        case S_LC:
          Expect(AG_TOK_IDENT, S_FNAMEID);
          break;
        case S_FIELDS:
          if (tok_->kind == '}') Shift(S_RC);
          else Expect(AG_TOK_IDENT, S_FNAMEID);
          break;
        case S_FNAMEID: {
          int32_t type = act_.BeginField(last_->text);
          FormOf(type);  // rejects a code no value form exists for
          Pop(1);
          Push(S_FN, type);
          break;
        }
        case S_FN:
          FieldStart(e.type);
          break;
        case S_TOK:
          ReduceToken(e.type);
          break;
        case S_VAL:
          AfterValue(e);
          break;
        case S_LB: {
          int32_t type = e.type;
          Push(S_LIST, type);  // the empty list
          break;
        }
        case S_LIST:
          ListItem(e.type);
          break;
        case S_RB: {
          int32_t type = e.type;
          Pop(3);
          Push(S_MVAL, type);
          break;
        }
        case S_MVAL:
          act_.FinishField();
          Pop(2);
          Push(S_FIELD);
          break;
        case S_FIELD: {
          bool more = st_[top_ - 1].state == S_FIELDS;
          Pop(more ? 2 : 1);
          Push(S_FIELDS);
          break;
        }
        case S_RC:
          act_.ValidateNode();
          Pop(5);
          Push(S_NODE);
          break;
        case S_USE:
          Expect(AG_TOK_IDENT, S_USEID);
          break;
        case S_USEID:
          act_.UseNode(last_->text);
          Pop(2);
          Push(S_NODE);
          break;
        case S_NODE:
          ReduceNode();
          break;
      }
    }
  }

 private:
  [[noreturn]] void SyntaxError() { throw AgVrml2Error("syntax error on line %d", lex_.Line()); }

  void Push(State s, int32_t type = 0, int32_t n = 0) {
    if (top_ + 1 >= AG_PARSE_STACK_MAX) throw AgVrml2Error("parse stack overflow");
    st_[++top_] = Entry{s, type, n};
  }
  void Pop(int n) { top_ -= n; }
  void Shift(State s, int32_t type = 0) {
    Push(s, type);
    std::swap(last_, tok_);  // the shifted token stays where it was read
    lex_.Next(tok_);
  }
  void Expect(int32_t kind, State s) {
    if (tok_->kind != kind) SyntaxError();
    Shift(s);
  }
  bool IsNumber() const { return tok_->kind == AG_TOK_INTEGER || tok_->kind == AG_TOK_REAL; }

  // Where a node statement may start: def, use, or a node type (an empty [def]).
  void NodeStart() {
    if (tok_->kind == AG_TOK_DEF) {
      Shift(S_DEF);
    } else if (tok_->kind == AG_TOK_USE) {
      Shift(S_USE);
    } else if (tok_->kind == AG_TOK_IDENT) {
      act_.ClearDefName();
      Push(S_DEFOPT);
    } else {
      SyntaxError();
    }
  }

  // The first token of a field's value.
  void FieldStart(int32_t type) {
    FormInfo f = FormOf(type);
    switch (f.form) {
      case F_BOOL:
        if (tok_->kind != AG_TOK_TRUE && tok_->kind != AG_TOK_FALSE) SyntaxError();
        Shift(S_TOK, type);
        return;
      case F_NUMS:
        if (!IsNumber()) SyntaxError();
        Shift(S_TOK, type);
        return;
      case F_INT:
        if (tok_->kind != AG_TOK_INTEGER) SyntaxError();
        Shift(S_TOK, type);
        return;
      case F_STR:
        if (tok_->kind != AG_TOK_STRING) SyntaxError();
        Shift(S_TOK, type);
        return;
      case F_SFNODE:
        if (tok_->kind == AG_TOK_NULL) Shift(S_TOK, type);
        else NodeStart();
        return;
      case F_MNUMS:
      case F_MINT:
      case F_MSTR:
        if (tok_->kind == '[') {
          Shift(S_LB, type);
          return;
        }
        if (f.form == F_MNUMS ? !IsNumber()
                              : tok_->kind != (f.form == F_MINT ? AG_TOK_INTEGER : AG_TOK_STRING))
          SyntaxError();
        Shift(S_TOK, type);
        return;
      case F_MNODE:
        if (tok_->kind == '[') Shift(S_LB, type);
        else NodeStart();
        return;
    }
  }

  void ListItem(int32_t type) {
    if (tok_->kind == ']') {
      Shift(S_RB, type);
      return;
    }
    FormInfo f = FormOf(type);
    switch (f.form) {
      case F_MNUMS:
        if (!IsNumber()) SyntaxError();
        break;
      case F_MINT:
        if (tok_->kind != AG_TOK_INTEGER) SyntaxError();
        break;
      case F_MSTR:
        if (tok_->kind != AG_TOK_STRING) SyntaxError();
        break;
      default:  // F_MNODE
        NodeStart();
        return;
    }
    Shift(S_TOK, type);
  }

  // A value token becomes a value: its action runs with the last shifted token.
  void ReduceToken(int32_t type) {
    switch (last_->kind) {
      case AG_TOK_TRUE: act_.AddTrue(); break;
      case AG_TOK_FALSE: act_.AddFalse(); break;
      case AG_TOK_NULL: act_.AddNull(); break;
      case AG_TOK_STRING: act_.AddString(last_->text); break;
      case AG_TOK_INTEGER:
        if (type == AG_SFINT32 || type == AG_MFINT32) act_.AddInt(last_->ival);
        else act_.AddFloat(static_cast<float>(last_->ival));
        break;
      default: act_.AddFloat(last_->fval); break;
    }
    int32_t n = (top_ > 0 && st_[top_ - 1].state == S_VAL) ? st_[top_ - 1].n + 1 : 1;
    Pop(1);
    Push(S_VAL, type, n);
  }

  void AfterValue(const Entry& e) {
    FormInfo f = FormOf(e.type);
    int32_t type = e.type;
    int32_t n = e.n;
    if (n < f.group) {  // more numbers of this element
      if (!IsNumber()) SyntaxError();
      Shift(S_TOK, type);
      return;
    }
    bool multi = f.form == F_MNUMS || f.form == F_MINT || f.form == F_MSTR;
    if (!multi) {  // field: name and its values
      act_.FinishField();
      Pop(n + 1);
      Push(S_FIELD);
    } else if (st_[top_ - n].state == S_LIST) {  // list: list element
      Pop(n + 1);
      Push(S_LIST, type);
    } else {  // a single element without brackets
      Pop(n);
      Push(S_MVAL, type);
    }
  }

  void ReduceNode() {
    const Entry& below = st_[top_ - 1];
    switch (below.state) {
      case S_START:
        Pop(1);
        Push(S_NODES);
        return;
      case S_NODES:
        Pop(2);
        Push(S_NODES);
        return;
      case S_FN: {
        int32_t type = below.type;
        act_.EndNode();
        Pop(1);
        Push(S_MVAL, type);
        return;
      }
      default: {  // S_LIST of a node list
        int32_t type = below.type;
        act_.EndNode();
        Pop(2);
        Push(S_LIST, type);
        return;
      }
    }
  }

  AgVrmlLexer& lex_;
  AgParserActions& act_;
  AgToken buf_[2];
  AgToken* tok_ = &buf_[0];
  AgToken* last_ = &buf_[1];
  Entry st_[AG_PARSE_STACK_MAX];
  int top_ = -1;
};

std::string Lower(const char* s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

}  // namespace

void AgRunParse(AgVrmlLexer& lexer, AgParserActions& actions) {
  auto loop = std::make_unique<Loop>(lexer, actions);
  loop->Run();
}

// ---------------------------------------------------------------------------------------
// AgVrmlParser

AgVrmlParser::~AgVrmlParser() {
  for (AgNode* n : stack_) AgNodeRelease(n);
}

void AgVrmlParser::Parse(const char* path) {
  // Only a regular file of a model's size: a FIFO or a device would hold the window for good.
  std::string data;
  if (!platform_read_regular(path, kVrmlFileBytes, &data))
    throw AgVrml2Error(errno == EFBIG ? "lexer: vrml file too large" : "lexer: unable to open vrml file");
  ParseText(data.data(), data.size());
}

void AgVrmlParser::ParseText(const char* text, size_t length) {
  AgVrmlLexer lexer(text, length);
  AgRunParse(lexer, *this);
}

AgNode* AgVrmlParser::Top() const {
  if (stack_.empty() || !stack_.back()) throw AgVrml2Error("parse stack overflow");
  return stack_.back();
}

void AgVrmlParser::ValidateNode() {
  AgNode* node = Top();
  node->Validate();
  node->open = false;
  if (node->height > AG_MAX_NODE_HEIGHT) throw AgVrml2Error("parse stack overflow");
}

void AgVrmlParser::UseNode(const char* name) {
  auto it = defs_.find(Lower(name));
  if (it == defs_.end()) {
    stack_.push_back(nullptr);  // an unknown name stands for no node at all
    return;
  }
  AgNode* node = it->second;
  // A node still being read would end up inside itself.
  if (node->open) throw AgVrml2Error("use of node %s inside its own definition", name);
  node->AddUse();
  stack_.push_back(node);
}

void AgVrmlParser::SetDefName(const char* name) { def_name_ = name; }

void AgVrmlParser::ClearDefName() { def_name_.clear(); }

void AgVrmlParser::BeginNode(const char* type_name) {
  AgNode* node = AgNode::Create(type_name, def_name_.c_str());
  stack_.push_back(node);
  if (!def_name_.empty()) defs_[Lower(def_name_.c_str())] = node;
}

void AgVrmlParser::FinishField() {
  if (current_) current_->Finish();
}

int32_t AgVrmlParser::BeginField(const char* name) {
  current_ = Top()->FindField(name);
  return current_->GetType();
}

void AgVrmlParser::AddTrue() { AddInt(1); }
void AgVrmlParser::AddFalse() { AddInt(0); }
void AgVrmlParser::AddNull() {
  if (current_) current_->AddNode(nullptr);
}
void AgVrmlParser::AddInt(int32_t value) {
  if (current_) current_->AddInt(value);
}
void AgVrmlParser::AddFloat(float value) {
  if (current_) current_->AddFloat(value);
}
void AgVrmlParser::AddString(const char* text) {
  if (current_) current_->AddString(text);
}

void AgVrmlParser::EndNode() {
  if (stack_.size() < 2 || !stack_[stack_.size() - 2]) throw AgVrml2Error("parse stack overflow");
  AgNode* child = stack_.back();
  stack_.pop_back();
  AgNode* parent = stack_.back();
  current_ = parent->CurrentField();
  if (child && child->height + 1 > parent->height) parent->height = child->height + 1;
  if (current_) current_->AddNode(child);
  else AgNodeRelease(child);
}
