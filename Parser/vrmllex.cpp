// The table-driven scanner: a 14-state automaton over 12 byte classes.
#include "Parser/vrml.h"

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

// Byte classes. Bytes above 127 read as word characters, so that names and strings in a
// single-byte code page pass through unchanged.
struct ClassTable {
  int8_t c[256];
  constexpr ClassTable() : c{} {
    for (int i = 0; i < 256; ++i) c[i] = 0;
    for (int i = '0'; i <= '9'; ++i) c[i] = 1;
    c[static_cast<unsigned char>('.')] = 2;
    c[static_cast<unsigned char>('E')] = 3;
    c[static_cast<unsigned char>('e')] = 3;
    c[static_cast<unsigned char>('+')] = 4;
    c[static_cast<unsigned char>('-')] = 5;
    c[static_cast<unsigned char>('"')] = 6;
    for (int i = 1; i <= 31; ++i) c[i] = 7;
    c[static_cast<unsigned char>(' ')] = 7;
    c[static_cast<unsigned char>(',')] = 7;
    c[127] = 7;
    c[static_cast<unsigned char>('[')] = 8;
    c[static_cast<unsigned char>(']')] = 8;
    c[static_cast<unsigned char>('{')] = 8;
    c[static_cast<unsigned char>('}')] = 8;
    c[static_cast<unsigned char>('#')] = 9;
    c[static_cast<unsigned char>('\n')] = 10;
    c[0] = 11;
  }
};
constexpr ClassTable kClass;

constexpr int8_t kTable[14][12] = {
    /* 0 start    */ {1, 2, 7, 1, 1, 13, 8, 10, 11, 12, 10, -105},
    /* 1 word     */ {1, 1, 1, 1, 1, 1, -103, -103, -103, -103, -103, -103},
    /* 2 integer  */ {-100, 2, 3, 4, -100, -100, -100, -100, -100, -100, -100, -100},
    /* 3 fraction */ {-101, 3, -101, 4, -101, -101, -101, -101, -101, -101, -101, -101},
    /* 4 exp mark */ {1, 6, 1, 1, 5, 5, 1, 1, 1, 1, 1, 1},
    /* 5 exp sign */ {1, 6, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    /* 6 exp digs */ {-101, 6, -101, -101, -101, -101, -101, -101, -101, -101, -101, -101},
    /* 7 point    */ {1, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    /* 8 string   */ {8, 8, 8, 8, 8, 8, 9, 8, 8, 8, 8, -104},
    /* 9 closed   */ {-104, -104, -104, -104, -104, -104, -104, -104, -104, -104, -104, -104},
    /* 10 blank   */ {-102, -102, -102, -102, -102, -102, -102, 10, -102, 12, 10, -105},
    /* 11 bracket */ {-106, -106, -106, -106, -106, -106, -106, -106, -106, -106, -106, -106},
    /* 12 comment */ {12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 10, -105},
    /* 13 minus   */ {1, 2, 3, 1, 1, 1, -103, -103, -103, -103, -103, -103},
};

constexpr int kEof = -1;

}  // namespace

int AgVrmlLexer::Read() {
  if (pos_ >= size_) return kEof;
  unsigned char c = static_cast<unsigned char>(data_[pos_++]);
  if (c == '\n') ++line_;
  return c;
}

void AgVrmlLexer::Unread(int c) {
  if (c == kEof || pos_ == 0) return;
  --pos_;
  if (c == '\n') --line_;
}

void AgVrmlLexer::Next(AgToken* t) {
  for (;;) {
    int state = 0;
    size_t len = 0;
    int result = 0;
    for (;;) {
      int c = Read();
      int cls = (c == kEof) ? 11 : kClass.c[c];
      bool stored = false;
      if (c != kEof && len < sizeof(t->text) - 1) {
        t->text[len++] = static_cast<char>(c);
        stored = true;
      }
      int next = kTable[state][cls];
      if (next < 0) {
        Unread(c);
        if (stored) --len;
        result = next;
        break;
      }
      state = next;
    }
    t->text[len] = '\0';
    switch (result) {
      case -100: {
        errno = 0;
        long long v = std::strtoll(t->text, nullptr, 10);
        // Out-of-range integers saturate rather than wrap.
        if (v > INT32_MAX) v = INT32_MAX;
        if (v < INT32_MIN) v = INT32_MIN;
        t->kind = AG_TOK_INTEGER;
        t->ival = static_cast<int32_t>(v);
        t->fval = static_cast<float>(t->ival);
        return;
      }
      case -101: {
        double d = std::strtod(t->text, nullptr);
        t->kind = AG_TOK_REAL;
        if (d > FLT_MAX) t->fval = HUGE_VALF;
        else if (d < -FLT_MAX) t->fval = -HUGE_VALF;
        else t->fval = static_cast<float>(d);
        return;
      }
      case -102:
        continue;
      case -103:
        if (strcasecmp(t->text, "def") == 0) t->kind = AG_TOK_DEF;
        else if (strcasecmp(t->text, "use") == 0) t->kind = AG_TOK_USE;
        else if (strcasecmp(t->text, "null") == 0) t->kind = AG_TOK_NULL;
        else if (strcasecmp(t->text, "true") == 0) t->kind = AG_TOK_TRUE;
        else if (strcasecmp(t->text, "false") == 0) t->kind = AG_TOK_FALSE;
        else t->kind = AG_TOK_IDENT;
        return;
      case -104: {
        // Drop the opening quote, and the closing one when the string was closed.
        if (state == 9 && len >= 2 && t->text[len - 1] == '"') t->text[--len] = '\0';
        std::memmove(t->text, t->text + 1, len);  // moves the terminator too
        t->kind = AG_TOK_STRING;
        return;
      }
      case -105:
        t->kind = AG_TOK_END;
        t->text[0] = '\0';
        return;
      default:  // -106
        t->kind = static_cast<unsigned char>(t->text[0]);
        return;
    }
  }
}

const char* AgTokenKindName(int32_t kind) {
  switch (kind) {
    case '[': return "[";
    case ']': return "]";
    case '{': return "{";
    case '}': return "}";
    case AG_TOK_INTEGER: return "integer";
    case AG_TOK_REAL: return "real";
    case AG_TOK_STRING: return "string";
    case AG_TOK_IDENT: return "identifier";
    case AG_TOK_END: return "end";
    case AG_TOK_DEF: return "def";
    case AG_TOK_USE: return "use";
    case AG_TOK_NULL: return "null";
    case AG_TOK_TRUE: return "true";
    case AG_TOK_FALSE: return "false";
    default: return "?";
  }
}
