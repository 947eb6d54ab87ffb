#include "client/scene/behavior.h"

#include "client/cache/picture.h"
#include "client/core/log.h"
#include "client/scene/animate.h"
#include "client/scene/collide.h"
#include "client/scene/element.h"
#include "client/scene/self.h"
#include "client/scene/sound.h"
#include "client/servers/attributes.h"
#include "client/servers/history.h"
#include "client/servers/teleport.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <vector>

behavior_hooks behavior_hook = {};

namespace {

enum Trigger { T_NONE, T_CREATE, T_BUMP, T_ACTIVATE, T_ADONE };

enum TokenKind { TK_END, TK_WORD, TK_NUMBER, TK_PLUS, TK_MINUS, TK_COMMA, TK_SEMI };

struct token {
  TokenKind kind;
  double value;  // TK_NUMBER
  char text[BEHAVIOR_TEXT_SIZE];
};

// One run: its own work area, so that a command that leads to another run cannot disturb it.
struct run {
  element* e;
  const char* pos;
  bool check;    // fetch only
  bool posted;   // the user's own command: no element, one command
  Trigger trigger;
  char work[BEHAVIOR_TEXT_SIZE];
};

enum Command {
  C_SOUND, C_NOISE, C_URL, C_TELEPORT, C_WARP, C_VISIBLE, C_SOLID, C_NAME,
  C_ANIMATE, C_FRAME, C_ASTART, C_ASTOP, C_SIGN, C_CURSOR, C_PICTURE, C_COUNT
};
const char* const command_words[C_COUNT] = {
    "sound", "noise", "url",   "teleport", "warp",  "visible", "solid",  "name",
    "animate", "frame", "astart", "astop",  "sign", "cursor",  "picture",
};

char* posted_text = nullptr;

bool trace() { return trace_switches[TRACE_GENERAL] != 0; }

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool ends_word(char c) { return c == '\0' || c == ',' || c == ';' || is_blank(c); }

void load(run& r, const char* text, int length) {
  // Longer texts than the work area holds are cut: the tail is never seen.
  if (length < 0) length = 0;
  if (length > BEHAVIOR_TEXT_SIZE - 1) length = BEHAVIOR_TEXT_SIZE - 1;
  int n = 0;
  while (n < length && text && text[n]) ++n;
  if (n) std::memcpy(r.work, text, static_cast<size_t>(n));
  r.work[n] = '\0';
  r.pos = r.work;
}

void copy_text(token& t, const char* from, size_t n) {
  if (n > sizeof t.text - 1) n = sizeof t.text - 1;
  std::memcpy(t.text, from, n);
  t.text[n] = '\0';
}

// Length of a number at s, or 0 when the text there is no number: digits with at most one
// '.' that a digit follows; a second '.' or a '.' without a digit after it makes it a word.
size_t number_length(const char* s) {
  size_t i = 0;
  while (is_digit(s[i])) ++i;
  if (s[i] == '.') {
    if (!is_digit(s[i + 1])) return 0;
    ++i;
    while (is_digit(s[i])) ++i;
    if (s[i] == '.') return 0;
  }
  return i;
}

token next(run& r, bool number) {
  token t;
  t.kind = TK_END;
  t.value = 0;
  t.text[0] = '\0';
  const char* s = r.pos;
  while (is_blank(*s)) ++s;
  if (*s == '\0') {
    r.pos = s;
    return t;
  }
  if (*s == '"') {
    const char* end = std::strchr(s + 1, '"');
    size_t n = end ? static_cast<size_t>(end - (s + 1)) : std::strlen(s + 1);
    copy_text(t, s + 1, n);
    t.kind = TK_WORD;
    r.pos = end ? end + 1 : s + 1 + n;
    return t;
  }
  switch (*s) {
    case '+': t.kind = TK_PLUS; break;
    case '-': t.kind = TK_MINUS; break;
    case ',': t.kind = TK_COMMA; break;
    case ';': t.kind = TK_SEMI; break;
    default: break;
  }
  if (t.kind != TK_END) {
    t.text[0] = *s;
    t.text[1] = '\0';
    r.pos = s + 1;
    return t;
  }
  if (number && (is_digit(*s) || *s == '.')) {
    if (size_t n = number_length(s)) {
      copy_text(t, s, n);
      t.kind = TK_NUMBER;
      t.value = std::strtod(t.text, nullptr);
      r.pos = s + n;
      return t;
    }
  }
  size_t n = 0;
  while (!ends_word(s[n])) ++n;
  copy_text(t, s, n);
  t.kind = TK_WORD;
  r.pos = s + n;
  return t;
}

token peek(run& r, bool number) {
  const char* saved = r.pos;
  token t = next(r, number);
  r.pos = saved;
  return t;
}

bool same(const char* a, const char* b) { return strcasecmp(a, b) == 0; }
bool starts(const char* text, const char* prefix) {
  return strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

int boolean_value(const char* word) {
  if (same(word, "on") || same(word, "true") || same(word, "yes")) return 1;
  if (same(word, "off") || same(word, "false") || same(word, "no")) return 0;
  return -1;
}

Trigger trigger_of(const char* word) {
  if (same(word, BEHAVIOR_CREATE)) return T_CREATE;
  if (same(word, BEHAVIOR_BUMP)) return T_BUMP;
  if (same(word, BEHAVIOR_ACTIVATE)) return T_ACTIVATE;
  if (same(word, BEHAVIOR_ADONE)) return T_ADONE;
  return T_NONE;
}

// A whole number within [low, high].
bool whole(const token& t, double low, double high, int* out) {
  if (t.kind != TK_NUMBER || !(t.value >= low && t.value <= high) || t.value != std::floor(t.value))
    return false;
  *out = static_cast<int>(t.value);
  return true;
}

// The integer after "key=", clamped to the int range.
int key_integer(const char* value) {
  long long v = std::strtoll(value, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

// The objects a command acts on: those of name with the owner of the run's element, or the
// element itself. A posted text has no element and so no targets. Collected first, so that
// acting on them cannot disturb the search.
std::vector<element*> targets(const run& r, const char* name) {
  std::vector<element*> out;
  if (!r.e) return out;
  if (!name) {
    out.push_back(r.e);
    return out;
  }
  element_start_search(name, element_owner(r.e));
  while (element* m = element_next_match()) out.push_back(m);
  return out;
}

// sound, noise
bool do_sound(run& r, bool effect) {
  token w = next(r, false);
  if (w.kind != TK_WORD) return false;
  if (r.check) {
    sound_download(w.text);
  } else if (effect) {
    sound_effect(w.text);
  } else if (r.e) {
    element_set_sound(r.e, sound_create(w.text, static_cast<float>(element_x(r.e)),
                                        static_cast<float>(element_y(r.e)),
                                        static_cast<float>(element_z(r.e))));
  }
  return true;
}

bool do_url(run& r) {
  token w = next(r, false);
  if (w.kind != TK_WORD) return false;
  if (r.check || !behavior_hook.web_navigate) return true;
  if (r.trigger == T_CREATE || r.trigger == T_ADONE) {
    if (!attribute_yes(ATTR_URL_COMMAND)) behavior_hook.web_navigate(w.text, 1);
  } else {
    behavior_hook.web_navigate(w.text, 0);
  }
  return true;
}

// An optional number with an optional sign at the reading position. 0: none there;
// 1: read; -1: a sign without a number.
int signed_number(run& r, double* value, bool* has_sign) {
  token t = peek(r, true);
  if (t.kind == TK_NUMBER) {
    next(r, true);
    *value = t.value;
    *has_sign = false;
    return 1;
  }
  if (t.kind != TK_PLUS && t.kind != TK_MINUS) return 0;
  next(r, true);
  token n = next(r, true);
  if (n.kind != TK_NUMBER) return -1;
  *value = t.kind == TK_MINUS ? -n.value : n.value;
  *has_sign = true;
  return 1;
}

// teleport, warp
bool do_teleport(run& r, bool warp) {
  char world[BEHAVIOR_TEXT_SIZE] = "";
  bool have_world = false;
  token t = peek(r, true);
  if (!warp && t.kind == TK_WORD) {
    std::snprintf(world, sizeof world, "%s", t.text);
    have_world = true;
    next(r, true);
    t = peek(r, true);
  }
  double x = 0, y = 0.1, z = 0, yaw = 0;
  bool relative = false;
  // A world name alone goes to that world's origin.
  bool position = !have_world || t.kind == TK_NUMBER || t.kind == TK_PLUS || t.kind == TK_MINUS;
  if (position) {
    t = next(r, true);
    if (t.kind == TK_NUMBER) {
      token d = next(r, false);
      if (d.kind != TK_WORD) return false;
      char c = static_cast<char>(std::tolower(static_cast<unsigned char>(d.text[0])));
      if (c == 'n') z = t.value;
      else if (c == 's') z = -t.value;
      else return false;
      token n = next(r, true);
      if (n.kind != TK_NUMBER) return false;
      d = next(r, false);
      if (d.kind != TK_WORD) return false;
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(d.text[0])));
      if (c == 'w') x = n.value;
      else if (c == 'e') x = -n.value;
      else return false;
    } else if (t.kind == TK_PLUS || t.kind == TK_MINUS) {
      relative = true;
      token n = next(r, true);
      if (n.kind != TK_NUMBER) return false;
      double dz = t.kind == TK_MINUS ? -n.value : n.value;
      token s = next(r, true);
      if (s.kind != TK_PLUS && s.kind != TK_MINUS) return false;
      n = next(r, true);
      if (n.kind != TK_NUMBER) return false;
      double dx = s.kind == TK_MINUS ? -n.value : n.value;
      z = self_get_z() + dz;
      x = self_get_x() + dx;
      y = self_get_y();
      yaw = self_get_yaw();
    } else {
      return false;
    }
    double v;
    bool sign;
    int got = signed_number(r, &v, &sign);
    if (got < 0) return false;
    if (got > 0) {
      token a = peek(r, false);
      if (a.kind == TK_WORD && (a.text[0] == 'a' || a.text[0] == 'A')) {
        next(r, false);
        y = relative ? y + v : v;
        got = signed_number(r, &v, &sign);
        if (got < 0) return false;
      }
      if (got > 0) {
        if (sign != relative) return false;
        yaw = relative ? yaw + v : v;
      }
    }
  }
  // Positions travel on as floats: a number too large for one is no position.
  for (double v : {x, y, z, yaw})
    if (!std::isfinite(static_cast<float>(v))) return false;
  if (r.check || r.trigger == T_CREATE || r.trigger == T_ADONE) return true;
  // A teleport moves from a posted text, a bump or a click only.
  if (!warp && !r.posted && r.trigger != T_BUMP && r.trigger != T_ACTIVATE) return true;

  if (r.trigger == T_BUMP) bump_cancel();
  if (warp) sound_effect("warp1.wav");
  if (behavior_hook.pick_off) behavior_hook.pick_off();
  const char* name = have_world ? world : nullptr;
  if (warp) {
    double dx = x - self_get_x(), dz = z - self_get_z();
    if (std::sqrt(dx * dx + dz * dz) > 10) history_add();
    self_glide_to(x, y, z, yaw);
  } else if (r.posted) {
    teleport(name, static_cast<float>(x), static_cast<float>(y), static_cast<float>(z),
             static_cast<float>(yaw), 1);
  } else {
    teleport_keep_coordinates(name, static_cast<float>(x), static_cast<float>(y), static_cast<float>(z),
                              static_cast<float>(yaw));
  }
  return true;
}

// visible, solid: [name] boolean
bool do_mark(run& r, bool solid) {
  token w = next(r, false);
  if (w.kind != TK_WORD) return false;
  char name[BEHAVIOR_TEXT_SIZE];
  bool named = false;
  int flag = boolean_value(w.text);
  if (flag < 0) {
    std::snprintf(name, sizeof name, "%s", w.text);
    named = true;
    w = next(r, false);
    if (w.kind != TK_WORD || (flag = boolean_value(w.text)) < 0) return false;
  }
  if (r.check) return true;
  for (element* e : targets(r, named ? name : nullptr)) {
    if (solid) element_set_solid(e, flag);
    else element_set_visible(e, flag);
  }
  return true;
}

bool do_name(run& r) {
  token w = next(r, false);
  if (w.kind != TK_WORD) return false;
  if (!r.check && r.e) element_set_name(r.e, w.text);
  return true;
}

bool do_animate(run& r) {
  token w = next(r, false);
  if (w.kind != TK_WORD) return false;
  int tag = 0;
  int masked = 1;
  if (starts(w.text, "tag=")) {
    tag = key_integer(w.text + 4);
    w = next(r, false);
    if (w.kind != TK_WORD) return false;
  }
  if (same(w.text, "nomask")) {
    masked = 0;
    w = next(r, false);
    if (w.kind != TK_WORD) return false;
  }
  char target[BEHAVIOR_TEXT_SIZE];
  std::snprintf(target, sizeof target, "%s", w.text);
  token base = next(r, false);
  if (base.kind != TK_WORD) return false;
  int images, frames, delay;
  if (!whole(next(r, true), 1, INT_MAX, &images)) return false;
  if (!whole(next(r, true), 1, INT_MAX, &frames)) return false;
  if (!whole(next(r, true), 0, INT_MAX, &delay)) return false;
  std::vector<int> list;
  for (int i = 0; i < frames; ++i) {
    token n = peek(r, true);
    if (n.kind != TK_NUMBER) {
      if (i == 0 && images == frames) break;
      return false;
    }
    next(r, true);
    int image;
    // Image numbers outside 1 .. images are refused by the animation itself.
    if (!whole(n, 0, INT_MAX, &image)) return false;
    list.push_back(image - 1);
  }
  const int* frame_list = list.empty() ? nullptr : list.data();
  if (r.check) {
    animation_preload(base.text, images, frames, frame_list, masked);
    return true;
  }
  bool me = same(target, "me");
  for (element* e : targets(r, me ? nullptr : target)) {
    if (!animation_create(base.text, images, frames, delay, tag, masked, frame_list, e)) break;
  }
  return true;
}

// [name] then the number or the signed step; returns false when malformed.
bool do_frame(run& r) {
  char name[BEHAVIOR_TEXT_SIZE];
  bool named = false;
  token t = next(r, true);
  if (t.kind == TK_WORD) {
    std::snprintf(name, sizeof name, "%s", t.text);
    named = true;
    t = next(r, true);
  }
  int n;
  int step = 0;
  if (t.kind == TK_PLUS || t.kind == TK_MINUS) {
    step = t.kind == TK_PLUS ? 1 : -1;
    t = next(r, true);
  }
  if (!whole(t, 0, INT_MAX, &n)) return false;
  if (r.check) return true;
  for (element* e : targets(r, named ? name : nullptr)) {
    animation* a = element_animation(e);
    if (step) animation_step(a, step * n);
    else animation_set_frame(a, n);
  }
  return true;
}

// astart [boolean] [name] [boolean]; astop [name]
bool do_astart(run& r, bool start) {
  char name[BEHAVIOR_TEXT_SIZE];
  bool named = false;
  int loop = 0;
  token t = peek(r, false);
  if (start && t.kind == TK_WORD && boolean_value(t.text) >= 0) {
    loop = boolean_value(t.text);
    next(r, false);
    t = peek(r, false);
  }
  if (t.kind == TK_WORD && (!start || boolean_value(t.text) < 0)) {
    std::snprintf(name, sizeof name, "%s", t.text);
    named = true;
    next(r, false);
    t = peek(r, false);
  }
  if (start && t.kind == TK_WORD && boolean_value(t.text) >= 0) {
    loop = boolean_value(t.text);
    next(r, false);
  }
  if (r.check) return true;
  for (element* e : targets(r, named ? name : nullptr)) {
    animation* a = element_animation(e);
    if (start) {
      animation_set_loop(a, loop);
      animation_start(a);
    } else {
      animation_stop(a);
    }
  }
  return true;
}

// Words in any order: key=value pairs from keys, and one plain text. false on a repeat.
struct keyed_words {
  static constexpr int max_keys = 3;
  const char* keys[max_keys];
  int key_count;
  char values[max_keys][BEHAVIOR_TEXT_SIZE];
  bool have[max_keys];
  char text[BEHAVIOR_TEXT_SIZE];
  bool have_text;
};

bool read_keyed(run& r, keyed_words& k) {
  for (int i = 0; i < k.key_count; ++i) k.have[i] = false;
  k.have_text = false;
  k.text[0] = '\0';
  for (;;) {
    token t = peek(r, false);
    if (t.kind != TK_WORD) return true;
    next(r, false);
    int key = -1;
    for (int i = 0; i < k.key_count && key < 0; ++i)
      if (starts(t.text, k.keys[i])) key = i;
    if (key >= 0) {
      if (k.have[key]) return false;
      k.have[key] = true;
      std::snprintf(k.values[key], sizeof k.values[key], "%s", t.text + std::strlen(k.keys[key]));
    } else {
      if (k.have_text) return false;
      k.have_text = true;
      std::snprintf(k.text, sizeof k.text, "%s", t.text);
    }
  }
}

bool do_sign(run& r) {
  keyed_words k;
  k.keys[0] = "color=";
  k.keys[1] = "bcolor=";
  k.keys[2] = "name=";
  k.key_count = 3;
  if (!read_keyed(r, k)) return false;
  if (r.check || !r.e || !behavior_hook.sign_create) return true;
  for (element* e : targets(r, k.have[2] ? k.values[2] : nullptr)) {
    const char* text = k.have_text ? k.text : element_description(e);
    behavior_hook.sign_create(element_model_instance(e), text ? text : "",
                              k.have[0] ? k.values[0] : nullptr, k.have[1] ? k.values[1] : nullptr);
  }
  return true;
}

bool do_cursor(run& r) {
  token w = next(r, false);
  int flag;
  if (w.kind != TK_WORD || (flag = boolean_value(w.text)) < 0) return false;
  if (r.check || r.trigger == T_CREATE) return true;
  if (flag) {
    if (behavior_hook.mouse_is_mover && behavior_hook.mouse_is_mover() && behavior_hook.mouse_as_picker)
      behavior_hook.mouse_as_picker();
  } else {
    if (behavior_hook.mouse_is_picker && behavior_hook.mouse_is_picker() && behavior_hook.pick_off)
      behavior_hook.pick_off();
  }
  return true;
}

bool do_picture(run& r) {
  keyed_words k;
  k.keys[0] = "name=";
  k.keys[1] = "update=";
  k.key_count = 2;
  if (!read_keyed(r, k)) return false;
  int update = k.have[1] ? key_integer(k.values[1]) : 0;
  if (update < 0) update = 0;
  // Seconds become milliseconds in an int further on.
  if (update > INT_MAX / 1000) update = INT_MAX / 1000;
  if (!k.have_text) return true;
  if (!r.check && r.e) {
    for (element* e : targets(r, k.have[0] ? k.values[0] : nullptr))
      picture_create(element_model_instance(e), k.text, update);
  } else if (r.trigger != T_CREATE) {
    picture_create(nullptr, k.text, update);
  }
  return true;
}

bool run_command(run& r, Command c) {
  switch (c) {
    case C_SOUND: return do_sound(r, false);
    case C_NOISE: return do_sound(r, true);
    case C_URL: return do_url(r);
    case C_TELEPORT: return do_teleport(r, false);
    case C_WARP: return do_teleport(r, true);
    case C_VISIBLE: return do_mark(r, false);
    case C_SOLID: return do_mark(r, true);
    case C_NAME: return do_name(r);
    case C_ANIMATE: return do_animate(r);
    case C_FRAME: return do_frame(r);
    case C_ASTART: return do_astart(r, true);
    case C_ASTOP: return do_astart(r, false);
    case C_SIGN: return do_sign(r);
    case C_CURSOR: return do_cursor(r);
    case C_PICTURE: return do_picture(r);
    default: return false;
  }
}

// The commands of one clause. true when they ran without error; *last is the token that
// ended the clause (end of text, ";" or any other).
bool run_commands(run& r, TokenKind* last) {
  *last = TK_END;
  for (;;) {
    token t = next(r, false);
    *last = t.kind;
    if (t.kind == TK_END) return true;
    if (t.kind != TK_WORD) return false;
    int c = 0;
    while (c < C_COUNT && !same(t.text, command_words[c])) ++c;
    if (c == C_COUNT) return false;
    if (!run_command(r, static_cast<Command>(c))) return false;
    if (r.posted) return true;
    t = next(r, false);
    *last = t.kind;
    if (t.kind != TK_COMMA) return true;
  }
}

// Skips to just past the next ";". false when the text ends first.
bool skip_clause(run& r) {
  for (;;) {
    token t = next(r, false);
    if (t.kind == TK_SEMI) return true;
    if (t.kind == TK_END) return false;
  }
}

// The old form "sound:<name>": the name after the first ':' of the first word, or null.
const char* old_sound(const token& first) {
  if (first.kind != TK_WORD || !starts(first.text, "sound:")) return nullptr;
  const char* name = std::strchr(first.text, ':') + 1;
  return *name ? name : nullptr;
}

bool start(run& r, element* e, bool check, Trigger trigger) {
  r.e = e;
  r.check = check;
  r.posted = false;
  r.trigger = trigger;
  r.work[0] = '\0';
  r.pos = r.work;
  if (!e || !element_action(e)) return false;
  load(r, element_action(e), element_action_length(e));
  return true;
}

}  // namespace

int behavior_trigger(element* e, const char* trigger) {
  if (trace()) log_write("behavior_trigger (%s)", trigger ? trigger : "");
  if (!trigger) return 0;
  run r;
  if (!start(r, e, false, trigger_of(trigger))) return 0;
  token first = peek(r, false);
  if (first.kind != TK_WORD) return 0;
  if (r.trigger == T_CREATE) {
    if (const char* name = old_sound(first)) {
      element_set_sound(e, sound_create(name, static_cast<float>(element_x(e)),
                                        static_cast<float>(element_y(e)),
                                        static_cast<float>(element_z(e))));
    }
  }
  for (;;) {
    token t = next(r, false);
    if (t.kind == TK_END) return 1;
    if (t.kind == TK_SEMI) continue;
    if (t.kind == TK_WORD && same(t.text, trigger)) {
      TokenKind last;
      return run_commands(r, &last) ? 1 : 0;
    }
    if (!skip_clause(r)) return 0;
  }
}

int behavior_check(element* e) {
  if (trace()) log_write("behavior_check");
  run r;
  if (!start(r, e, true, T_NONE)) return 0;
  token first = peek(r, false);
  if (const char* name = old_sound(first)) {
    sound_download(name);
    return 1;
  }
  for (;;) {
    token t = next(r, false);
    if (t.kind == TK_END) return 1;
    if (t.kind == TK_SEMI) continue;
    if (t.kind != TK_WORD) return 0;
    r.trigger = trigger_of(t.text);
    if (r.trigger == T_NONE) return 0;
    TokenKind last;
    if (!run_commands(r, &last)) return 0;
    if (last == TK_END) return 1;
    if (last != TK_SEMI && !skip_clause(r)) return 1;
  }
}

void behavior_post(const char* text) {
  if (trace()) log_write("behavior_post (%s)", text ? text : "");
  std::free(posted_text);
  posted_text = nullptr;
  if (!text) return;
  size_t n = strnlen(text, BEHAVIOR_TEXT_SIZE - 1);
  posted_text = static_cast<char*>(std::malloc(n + 1));
  if (!posted_text) return;
  std::memcpy(posted_text, text, n);
  posted_text[n] = '\0';
}

void behavior_update() {
  if (trace_frames()) log_write("behavior_update");
  if (!posted_text) return;
  char* text = posted_text;
  posted_text = nullptr;
  run r;
  r.e = nullptr;
  r.check = false;
  r.posted = true;
  r.trigger = T_NONE;
  load(r, text, static_cast<int>(std::strlen(text)));
  std::free(text);
  TokenKind last;
  run_commands(r, &last);
}

void behavior_reset() {
  std::free(posted_text);
  posted_text = nullptr;
}
