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

// Exact powers of ten: a double holds each up to 10^22 without rounding.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A real token's text as strtod reads it. Most numbers in a file have few digits and a small
// exponent: their digits fit a 53-bit integer and the power of ten is exact, so one rounded
// multiply or divide gives the correctly rounded double. Anything else (long mantissas, large
// exponents, text cut at the token buffer's end) goes to strtod.
double ReadReal(const char* s, size_t len) {
  const char* p = s;
  const char* end = s + len;
  bool neg = p < end && *p == '-';
  if (neg) ++p;
  uint64_t m = 0;
  int digits = 0, exp10 = 0;
  bool any = false;
  for (; p < end && *p >= '0' && *p <= '9'; ++p, any = true) {
    if (m == 0 && *p == '0') continue;
    if (++digits > 19) return std::strtod(s, nullptr);
    m = m * 10 + static_cast<unsigned>(*p - '0');
  }
  if (p < end && *p == '.') {
    for (++p; p < end && *p >= '0' && *p <= '9'; ++p, any = true) {
      --exp10;
      if (m == 0 && *p == '0') continue;
      if (++digits > 19) return std::strtod(s, nullptr);
      m = m * 10 + static_cast<unsigned>(*p - '0');
    }
  }
  if (!any) return std::strtod(s, nullptr);
  if (p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    bool eneg = p < end && (*p == '-' || *p == '+') && *p++ == '-';
    if (p == end) return std::strtod(s, nullptr);
    int e = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
      if (e > 1000) return std::strtod(s, nullptr);
      e = e * 10 + (*p - '0');
    }
    exp10 += eneg ? -e : e;
  }
  if (p != end) return std::strtod(s, nullptr);
  double d;
  if (m == 0) d = 0;
  else if (m > (uint64_t(1) << 53) || exp10 < -22 || exp10 > 22) return std::strtod(s, nullptr);
  else d = exp10 < 0 ? static_cast<double>(m) / kPow10[-exp10] : static_cast<double>(m) * kPow10[exp10];
  return neg ? -d : d;
}

// An integer token's text; out-of-range values saturate rather than wrap.
int32_t ReadInteger(const char* s, size_t len) {
  const char* p = s;
  const char* end = s + len;
  bool neg = p < end && *p == '-';
  if (neg) ++p;
  int64_t v = 0;
  for (; p < end; ++p) {
    if (*p < '0' || *p > '9') return 0;  // the scanner only makes digits; never reached
    if (v <= INT64_C(1) << 40) v = v * 10 + (*p - '0');
  }
  if (neg) v = -v;
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  return static_cast<int32_t>(v);
}

void SetInteger(AgToken* t, size_t len) {
  t->kind = AG_TOK_INTEGER;
  t->ival = ReadInteger(t->text, len);
  t->fval = static_cast<float>(t->ival);
}

void SetReal(AgToken* t, size_t len) {
  double d = ReadReal(t->text, len);
  t->kind = AG_TOK_REAL;
  if (d > FLT_MAX) t->fval = HUGE_VALF;
  else if (d < -FLT_MAX) t->fval = -HUGE_VALF;
  else t->fval = static_cast<float>(d);
}

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

}  // namespace

// Blanks, and numbers without an exponent, are most of a model file. They are read here in
// one pass over their bytes; the automaton below reads everything else, and a number here
// ends exactly where it would end there.
bool AgVrmlLexer::ScanPlain(AgToken* t) {
  const auto* data = reinterpret_cast<const unsigned char*>(data_);
  size_t p = pos_;
  for (; p < size_; ++p) {
    int k = kClass.c[data[p]];
    if (k == 10) ++line_;
    else if (k != 7) break;
  }
  pos_ = p;
  const size_t start = p;
  if (p < size_ && data[p] == '-') ++p;
  const size_t digits = p;
  while (p < size_ && IsDigit(data[p])) ++p;
  if (p == digits) return false;  // "-", "-.5", ".5" and words: the automaton's
  bool real = p < size_ && data[p] == '.';
  if (real)
    for (++p; p < size_ && IsDigit(data[p]);) ++p;
  // An exponent mark continues the number; text past the token buffer is cut there.
  if ((p < size_ && kClass.c[data[p]] == 3) || p - start >= sizeof(t->text)) return false;
  const size_t len = p - start;
  std::memcpy(t->text, data + start, len);
  t->text[len] = '\0';
  pos_ = p;
  if (real) SetReal(t, len);
  else SetInteger(t, len);
  return true;
}

void AgVrmlLexer::Next(AgToken* t) {
  const auto* data = reinterpret_cast<const unsigned char*>(data_);
  constexpr size_t kCap = sizeof(t->text) - 1;
  for (;;) {
    if (ScanPlain(t)) return;
    int state = 0;
    size_t len = 0;
    int result = 0;
    // A byte is taken only when the automaton moves on with it; the one that ends a token
    // stays for the next. Text beyond the buffer is read but not kept.
    for (;;) {
      int c = pos_ < size_ ? data[pos_] : -1;
      int next = kTable[state][c < 0 ? 11 : kClass.c[c]];
      if (next < 0) {
        result = next;
        break;
      }
      state = next;
      if (c < 0) continue;  // the end of the data can still turn "1e" into a word
      ++pos_;
      if (c == '\n') ++line_;
      if (len < kCap) t->text[len++] = static_cast<char>(c);
    }
    t->text[len] = '\0';
    switch (result) {
      case -100:
        SetInteger(t, len);
        return;
      case -101:
        SetReal(t, len);
        return;
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
