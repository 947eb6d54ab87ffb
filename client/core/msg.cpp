#include "client/core/msg.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "client/core/files.h"
#include "client/core/log.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/strutil.h"
#include "client/core/tessel.h"
#include "platform/host.h"
#include "platform/progdir.h"

namespace {
char* table[MSG_COUNT];
std::string current_set;
bool set_loaded = false;
char arg_buffers[5][MSG_ARG_SIZE];
int next_arg_buffer = 0;
char note_buffer[512];
bool note_up = false;
std::vector<msg_refresh_fn> refreshers;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool same_ignoring_case(const char* a, const char* b) {
  for (;; ++a, ++b) {
    char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
    char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
    if (x != y) return false;
    if (!x) return true;
  }
}

void store(int n, const char* text) {
  size_t len = std::strlen(text);
  char* copy = static_cast<char*>(std::malloc(len + 1));
  if (!copy) return;  // keep the old text rather than lose the number
  std::memcpy(copy, text, len + 1);
  std::free(table[n]);
  table[n] = copy;
}

// One line (without its continuation pieces) of a message file. True when it was an entry.
bool apply_line(char* line, bool had_break) {
  char* p = line;
  while (is_space(*p)) ++p;
  if (!is_digit(*p)) return false;
  long n = 0;
  while (is_digit(*p)) {
    n = n * 10 + (*p - '0');
    if (n >= MSG_COUNT) return false;
    ++p;
  }
  // The number's characters run up to the next white space.
  while (*p && !is_space(*p) && *p != '\n') ++p;
  while (is_space(*p)) ++p;
  if (!had_break) {
    store(static_cast<int>(n), "");
    return true;
  }
  char* end = std::strchr(p, '\n');
  if (end) *end = 0;
  // A CRLF file's carriage return is not part of the text.
  size_t len = std::strlen(p);
  if (len > 0 && p[len - 1] == '\r') p[len - 1] = 0;
  if (*p == '_') *p = ' ';
  store(static_cast<int>(n), p);
  return true;
}

const char* conversion_flags = "-+ #0'";

}  // namespace

bool msg_format(char* out, size_t size, const char* fmt, const MsgArg* args, int count) {
  if (!out || size == 0) return false;
  out[0] = 0;
  if (!fmt) return false;
  size_t pos = 0;
  int used = 0;
  auto put = [&](const char* s, size_t n) {
    size_t room = size - 1 - pos;
    if (n > room) n = room;
    std::memcpy(out + pos, s, n);
    pos += n;
    out[pos] = 0;
  };
  bool ok = true;
  const char* p = fmt;
  while (*p && ok) {
    if (*p != '%') {
      const char* q = std::strchr(p, '%');
      size_t n = q ? static_cast<size_t>(q - p) : std::strlen(p);
      put(p, n);
      p += n;
      continue;
    }
    if (p[1] == '%') {
      put("%", 1);
      p += 2;
      continue;
    }
    // %[flags][width][.precision][length]conversion; no '*', no %n.
    std::string spec = "%";
    const char* q = p + 1;
    while (*q && std::strchr(conversion_flags, *q)) spec += *q++;
    int digits = 0;
    while (is_digit(*q)) {
      spec += *q++;
      if (++digits > 3) ok = false;  // widths beyond 999 make no sense in a message
    }
    if (*q == '.') {
      spec += *q++;
      digits = 0;
      while (is_digit(*q)) {
        spec += *q++;
        if (++digits > 3) ok = false;
      }
    }
    while (*q && std::strchr("hlqLjzt", *q)) ++q;  // lengths follow from the argument
    char conv = *q;
    if (!ok || !conv || used >= count) {
      ok = false;
      break;
    }
    const MsgArg& a = args[used];
    char piece[1100];
    int n = -1;
    switch (conv) {
      case 'd':
      case 'i':
        if (a.kind != MsgArg::INT && a.kind != MsgArg::UINT) break;
        n = std::snprintf(piece, sizeof piece, (spec + "lld").c_str(),
                          a.kind == MsgArg::INT ? a.i : static_cast<long long>(a.u));
        break;
      case 'u':
      case 'o':
      case 'x':
      case 'X':
        if (a.kind != MsgArg::INT && a.kind != MsgArg::UINT) break;
        n = std::snprintf(piece, sizeof piece, (spec + "ll" + conv).c_str(), a.u);
        break;
      case 'c':
        if (a.kind != MsgArg::INT && a.kind != MsgArg::UINT) break;
        n = std::snprintf(piece, sizeof piece, (spec + "c").c_str(), static_cast<int>(a.u & 0xFF));
        break;
      case 's':
        if (a.kind != MsgArg::STR) break;
        n = std::snprintf(piece, sizeof piece, (spec + "s").c_str(), a.s ? a.s : "(null)");
        break;
      case 'e':
      case 'E':
      case 'f':
      case 'F':
      case 'g':
      case 'G':
        if (a.kind != MsgArg::REAL) break;
        n = std::snprintf(piece, sizeof piece, (spec + conv).c_str(), a.d);
        break;
      case 'p':
        if (a.kind != MsgArg::PTR && a.kind != MsgArg::STR) break;
        n = std::snprintf(piece, sizeof piece, (spec + "p").c_str(),
                          a.kind == MsgArg::PTR ? a.p : static_cast<const void*>(a.s));
        break;
      default:
        break;
    }
    if (n < 0) {
      ok = false;
      break;
    }
    put(piece, std::min(static_cast<size_t>(n), sizeof piece - 1));
    ++used;
    p = q + 1;
  }
  if (!ok) std::snprintf(out, size, "%s", fmt);
  return ok;
}

namespace {

const char* look_up(int n, bool traced) {
  if (n < 0 || n >= MSG_COUNT) return "";
  if (!table[n]) {
    if (!set_loaded) return "";
    // A text the program uses is missing from its message file: the number stands in, so a
    // menu, a tab or a box's line is not left blank, and the log says which.
    log_note("msg (%d): no text in the message files; shown as its number", n);
    char number[16];
    std::snprintf(number, sizeof number, "%d", n);
    store(n, number);
    if (!table[n]) return "";
  }
  if (traced) log_write("msg (%d): %s", n, table[n]);
  return table[n];
}

const char* format_arg(int n, const MsgArg* args, int count, bool traced) {
  const char* text = look_up(n, traced);
  if (traced) log_write("msg_arg (%d)", n);
  // The texts put into a message are names and texts from servers and files: they add no
  // line to it and carry no terminal codes; the message's own lines stay.
  std::vector<std::string> shown;
  std::vector<MsgArg> list(args, args + (count > 0 ? count : 0));
  shown.reserve(list.size());
  for (MsgArg& a : list)
    if (a.kind == MsgArg::STR && a.s) a.s = shown.emplace_back(text_printable(a.s)).c_str();
  next_arg_buffer = (next_arg_buffer + 1) % 5;
  char* out = arg_buffers[next_arg_buffer];
  msg_format(out, MSG_ARG_SIZE, text, list.data(), count);
  return out;
}

}  // namespace

const char* msg(int n) { return look_up(n, trace_switches[TRACE_GENERAL] != 0); }

const char* msg_arg_v(int n, const MsgArg* args, int count) {
  return format_arg(n, args, count, trace_switches[TRACE_GENERAL] != 0);
}

const char* msg_arg_frame_v(int n, const MsgArg* args, int count) {
  return format_arg(n, args, count, trace_frames());
}

void msg_set(int n, const char* text) {
  if (n >= 0 && n < MSG_COUNT) store(n, text ? text : "");
}

namespace {
std::string load_problem;
}

const std::string& msg_load_problem() { return load_problem; }

int msg_load(const char* name) {
  load_problem.clear();
  if (!name || !*name) return 0;
  // A set name names a file, never a path.
  if (std::strchr(name, '/') || std::strchr(name, '\\')) return 0;
  const std::string& dir = platform_program_dir();
  // A file that holds no numbered text (empty, junk, another encoding, a folder) is no set:
  // it counts as missing, and the next place is looked at.
  for (const std::string& path : {dir + "/Messages/" + name + ".tzm", dir + "/../" + name + ".tzm"}) {
    std::string why;
    int fd = file_open_regular(path.c_str(), &why);
    FILE* f = fd >= 0 ? fdopen(fd, "r") : nullptr;
    if (fd >= 0 && !f) {
      why = std::strerror(errno);
      ::close(fd);
    }
    // The set's own file is the one worth naming; the place beside the folder is a fallback.
    if (!f) {
      if (load_problem.empty()) load_problem = path + ": " + why;
      continue;
    }
    int entries = 0;
    char line[512];
    bool continuation = false;  // the rest of an over-long line is not a line of its own
    while (std::fgets(line, sizeof line, f)) {
      bool had_break = std::strchr(line, '\n') != nullptr;
      if (!continuation && apply_line(line, had_break)) ++entries;
      continuation = !had_break;
    }
    bool read_error = std::ferror(f);
    if (read_error) why = std::strerror(errno);
    std::fclose(f);
    if (entries == 0) {
      log_note("messages: %s holds no numbered text", path.c_str());
      if (load_problem.empty()) load_problem = path + ": " + (read_error ? why : "it holds no numbered text");
      continue;
    }
    current_set = name;
    set_loaded = true;
    load_problem.clear();
    return 1;
  }
  return 0;
}

int msg_init() {
  if (!msg_load("default")) return 432;
  msg_load(general_messages());
  return 0;
}

void msg_switch(const char* name) {
  if (!name) return;
  if (set_loaded && same_ignoring_case(current_set.c_str(), name)) return;
  msg_load("default");
  if (!same_ignoring_case(name, "default")) msg_load(name);
  profile_set_string("general", "messages", name);
  // Copy: a refresher may register or remove others.
  std::vector<msg_refresh_fn> list = refreshers;
  for (auto fn : list) fn();
}

const char* msg_current() { return current_set.c_str(); }

void msg_add_refresh(msg_refresh_fn fn) {
  if (fn && std::find(refreshers.begin(), refreshers.end(), fn) == refreshers.end())
    refreshers.push_back(fn);
}

void msg_remove_refresh(msg_refresh_fn fn) {
  refreshers.erase(std::remove(refreshers.begin(), refreshers.end(), fn), refreshers.end());
}

int note_v(const char* fmt, const MsgArg* args, int count) {
  msg_format(note_buffer, sizeof note_buffer, fmt ? fmt : "", args, count);
  // The program is ending on request: nobody is there to close a box.
  if (tessel_quit_requested()) {
    log_note("note (%s)", note_buffer);
    return host_default_answer(HOST_MB_TASKMODAL | HOST_MB_ICONERROR);
  }
  note_up = true;
  if (trace_switches[TRACE_GENERAL]) log_write("note (%s)", note_buffer);
  int answer = host()->message_box(note_buffer, msg(68), HOST_MB_TASKMODAL | HOST_MB_ICONERROR);
  note_up = false;
  return answer;
}

bool note_showing() { return note_up; }

void msg_reset() {
  for (auto& t : table) {
    std::free(t);
    t = nullptr;
  }
  current_set.clear();
  set_loaded = false;
  refreshers.clear();
  note_up = false;
}

void msg_print_titled(msg_print_fn print, int kind, int title, const char* text, size_t size) {
  if (!print || size == 0) return;
  std::string line = std::string(msg(title)) + ": " + (text ? text : "");
  if (line.size() >= size) line.resize(size - 1);
  print(kind, line.c_str());
}
