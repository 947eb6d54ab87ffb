#include "Zembrel/Pose/Anim/registry.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

enum Token {
  T_EOF = -1,
  T_CHAR = 0,
  T_EQUALS = 257,
  T_VERSION = 258,
  T_AVATAR = 259,
  T_ENDAVATAR = 260,
  T_BEGINIMP = 261,
  T_ENDIMP = 262,
  T_BEGINEXP = 263,
  T_ENDEXP = 264,
  T_VALUE = 265,
  T_IDENTIFIER = 266,
};

const char* const kKeywordNames[] = {"error",  "equals", "version",  "avatar", "endavatar", "beginimp",
                                     "endimp", "beginexp", "endexp", "value",  "identifier"};

struct Keyword {
  const char* text;
  int kind;
};
const Keyword kKeywords[] = {{"version", T_VERSION},   {"avatar", T_AVATAR},     {"endavatar", T_ENDAVATAR},
                             {"beginimp", T_BEGINIMP}, {"endimp", T_ENDIMP},     {"beginexp", T_BEGINEXP},
                             {"endexp", T_ENDEXP}};

bool ident_char(int c) { return std::isalnum(c) || c == '.' || c == '_' || c == '-'; }

class Scanner {
 public:
  Scanner(std::istream& in, int line) : in_(in), line_(line) {}

  int Next() { return last_ = Scan(); }
  int last() const { return last_; }

 private:
  int Scan() {
    for (;;) {
      int c = in_.get();
      if (c == EOF) return T_EOF;
      if (c == '\n') {
        ++line_;
        continue;
      }
      if (c == ' ' || c == '\t' || c == '\r') continue;
      if (c == '#') {
        while ((c = in_.get()) != EOF && c != '\n') {
        }
        if (c == '\n') ++line_;
        continue;
      }
      if (c == '=') {
        set_text(c);
        return T_EQUALS;
      }
      if (std::isalnum(c)) {
        size_t n = 0;
        text_[n++] = static_cast<char>(c);
        while (ident_char(in_.peek())) {
          int d = in_.get();
          if (n < sizeof text_ - 1) text_[n++] = static_cast<char>(d);
        }
        text_[n] = 0;
        if (n == 1 && std::isdigit(static_cast<unsigned char>(text_[0]))) {
          value_ = text_[0] - '0';
          return T_VALUE;
        }
        for (const Keyword& k : kKeywords)
          if (std::strcmp(text_, k.text) == 0) return k.kind;
        return T_IDENTIFIER;
      }
      set_text(c);
      return T_CHAR;
    }
  }


 public:
  const char* text() const { return text_; }
  int value() const { return value_; }
  int line() const { return line_; }

 private:
  void set_text(int c) {
    text_[0] = static_cast<char>(c);
    text_[1] = 0;
  }
  std::istream& in_;
  char text_[1024] = {0};
  int value_ = 0;
  int line_;
  int last_ = 0;
};

[[noreturn]] void raise(const Scanner& s, const char* message) {
  parseError e;
  e.line = s.line();
  std::snprintf(e.message, sizeof e.message, "%s", message);
  throw e;
}

[[noreturn]] void token_error(const Scanner& s, int kind) {
  char text[256];
  if (kind == T_CHAR) std::snprintf(text, sizeof text, "unexpected token '%.200s'", s.text());
  else if (kind == T_EOF) std::snprintf(text, sizeof text, "unexpected end-of-file");
  else if (kind == T_VALUE) std::snprintf(text, sizeof text, "unexpected value '%d'", s.value());
  else if (kind == T_IDENTIFIER) std::snprintf(text, sizeof text, "unexpected identifier '%.200s'", s.text());
  else if (kind >= 256 && kind <= T_IDENTIFIER)
    std::snprintf(text, sizeof text, "unexpected keyword '%s'", kKeywordNames[kind - 256]);
  else std::snprintf(text, sizeof text, "unexpected token");
  raise(s, text);
}

class Reader {
 public:
  Reader(Scanner& s, std::vector<AvatarRecord>& out) : s_(s), out_(out) {}

  int Expect(int kind) {
    int t = s_.Next();
    if (t != kind) token_error(s_, t);
    return t;
  }
  AnimName Identifier() {
    Expect(T_IDENTIFIER);
    return AnimName(s_.text());
  }

  // Skips to and including the next endavatar, starting from the offending token.
  void Recover(int offending) {
    int t = offending;
    while (t != T_ENDAVATAR && t != T_EOF) t = s_.Next();
  }

  // The next "key = value" pair; false at the token end.
  bool Pair(int end, AnimName* key, AnimName* value) {
    int t = s_.Next();
    if (t == end) return false;
    if (t != T_IDENTIFIER) token_error(s_, t);
    *key = AnimName(s_.text());
    Expect(T_EQUALS);
    *value = Identifier();
    return true;
  }

  void List(AvatarRecord& r, bool implicit) {
    AnimName action, seq;
    while (Pair(implicit ? T_ENDIMP : T_ENDEXP, &action, &seq)) {
      if (action.empty()) raise(s_, "invalid action name!");
      (implicit ? r.imp_actions : r.exp_actions).push_back(action);
      (implicit ? r.imp_sequences : r.exp_sequences).push_back(seq);
    }
  }

  void Block3() {
    AvatarRecord r;
    for (;;) {
      int t = s_.Next();
      if (t == T_ENDAVATAR) break;
      if (t == T_IDENTIFIER) {
        AnimName key(s_.text());
        Expect(T_EQUALS);
        r.attributes[key] = Identifier();
      } else if (t == T_BEGINIMP) {
        List(r, true);
      } else if (t == T_BEGINEXP) {
        List(r, false);
      } else {
        token_error(s_, t);
      }
    }
    out_.push_back(std::move(r));
  }

  void Block2() {
    AvatarRecord r;
    r.imp_actions.resize(3);
    r.imp_sequences.resize(3);
    r.exp_actions.resize(1);
    r.exp_sequences.resize(1);
    AnimName name = Identifier();
    if (name == AnimName("cy")) raise(s_, "cy was handled specially");
    r.attributes[AnimName("name")] = name;
    AnimName key, value;
    while (Pair(T_ENDAVATAR, &key, &value)) {
      if (key == AnimName("geometry")) {
        r.attributes[key] = value;
      } else {
        int slot = key == AnimName("walk") ? 0 : key == AnimName("wait") ? 1 : key == AnimName("endwait") ? 2 : -1;
        if (slot >= 0) {
          r.imp_actions[slot] = key;
          r.imp_sequences[slot] = value;
        } else if (key == AnimName("wave")) {
          r.exp_actions[0] = key;
          r.exp_sequences[0] = value;
        }
      }
    }
    out_.push_back(std::move(r));
  }

  // Top level: avatar blocks until end of input; a bad block is skipped. True when the file
  // avatars filled their numbers with more of the file still to come, left unread.
  bool Blocks(bool v3) {
    for (;;) {
      int t = s_.Next();
      if (t == T_EOF) return false;
      if (out_.size() >= static_cast<size_t>(AnimRegistry::kFileAvatars)) return true;
      if (t != T_AVATAR) token_error(s_, t);
      try {
        if (v3) Block3();
        else Block2();
      } catch (const parseError&) {
        Recover(s_.last());
      }
    }
  }

  Scanner& s_;
  std::vector<AvatarRecord>& out_;
};

AnimRegistry* g_registry = nullptr;

}  // namespace

AnimName AvatarRecord::Attribute(const AnimName& name) const {
  auto it = attributes.find(name);
  return it == attributes.end() ? AnimName() : it->second;
}

AnimRegistry::AnimRegistry() {
  for (int i = 0; i < 5; ++i) {
    AvatarRecord& r = special_[i];
    char text[32];
    std::snprintf(text, sizeof text, "special%d", i + 1);
    r.attributes[AnimName("name")] = AnimName(text);
    std::snprintf(text, sizeof text, "special%d.vxx", i + 1);
    r.attributes[AnimName("geometry")] = AnimName(text);
    const char* imp[3] = {"walk", "wait", "endwait"};
    const char* suffix[3] = {"walk", "wait", "end"};
    for (int k = 0; k < 3; ++k) {
      r.imp_actions.emplace_back(imp[k]);
      std::snprintf(text, sizeof text, "sp%d%s", i + 1, suffix[k]);
      r.imp_sequences.emplace_back(text);
    }
    r.exp_actions.emplace_back("act1");
    std::snprintf(text, sizeof text, "sp%dact1", i + 1);
    r.exp_sequences.emplace_back(text);
  }
}

AnimRegistry* AnimRegistry::Get() {
  if (!g_registry) g_registry = new (std::nothrow) AnimRegistry();
  return g_registry;
}

void AnimRegistry::Clear() { avatars_.clear(); }

void AnimRegistry::MakeDefault() {
  AvatarRecord r;
  r.attributes[AnimName("name")] = AnimName("cy");
  r.attributes[AnimName("geometry")] = AnimName("cy.vxx");
  avatars_.push_back(std::move(r));
}

std::vector<AnimName> AnimRegistry::Names() const {
  std::vector<AnimName> out;
  for (const AvatarRecord& r : avatars_) out.push_back(r.Attribute(AnimName("name")));
  return out;
}

const AvatarRecord* AnimRegistry::Entry(int number) const {
  if (number >= 251 && number <= 255) return &special_[number - 251];
  if (number >= 0 && number < Count()) return &avatars_[static_cast<size_t>(number)];
  return nullptr;
}

bool AnimRegistry::Read(std::istream& in, const char* path) {
  path_ = path ? path : "";
  left_out_ = false;
  try {
    // The cookie is the first 32 characters of the first line; blanks after it (an editor's
    // trailing spaces, a carriage return) are no part of it, anything else spoils it.
    constexpr size_t kCookie = 32;
    std::string first;
    bool tail_blank = true;
    int c;
    while ((c = in.get()) != EOF && c != '\n') {
      if (first.size() < kCookie)
        first.push_back(static_cast<char>(c));
      else if (c != ' ' && c != '\t' && c != '\r')
        tail_blank = false;
    }
    Scanner s(in, c == '\n' ? 2 : 1);
    bool v3 = tail_blank && first == "# animation registry version 0.3";
    bool v2 = tail_blank && first == "# animation registry version 0.2";
    if (!v3 && !v2) raise(s, "unrecognized cookie");
    Reader r(s, avatars_);
    if (v3) {
      r.Expect(T_VERSION);
      r.Expect(T_VALUE);
      if (s.value() != 3) raise(s, "can't handle requested file version");
    } else {
      MakeDefault();
    }
    left_out_ = r.Blocks(v3);
    last_token_ = s.last();
    return true;
  } catch (const parseError&) {
    return false;
  } catch (...) {
    return false;
  }
}
