#include "client/core/ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <strings.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "client/core/files.h"
#include "client/core/log.h"

namespace {

// The whole file is read at once; a settings file is small, but cap it anyway.
constexpr size_t kMaxFile = 16 * 1024 * 1024;

struct Line {
  std::string text;  // without its line end
  std::string end;   // "\r\n", "\n" or "" for a last line without a break
};

enum Read {
  READ_WHOLE,    // every byte of the file is in data
  READ_CUT,      // larger than kMaxFile: data holds the first kMaxFile bytes
  READ_MISSING,  // no such file
  READ_FAILED,   // error holds the system's reason
};

// Reads the file; st gets what it was when read (its identity, size and time stamp).
Read read_file(const char* path, std::string* data, struct stat* st, int* error) {
  *error = 0;
  int fd = file_open_regular(path);
  if (fd < 0) {
    *error = errno;
    return errno == ENOENT ? READ_MISSING : READ_FAILED;
  }
  if (::fstat(fd, st) != 0) {
    *error = errno;
    ::close(fd);
    return READ_FAILED;
  }
  Read result = READ_WHOLE;
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = errno;
      result = READ_FAILED;
      break;
    }
    if (n == 0) break;
    size_t room = kMaxFile - data->size();
    if (static_cast<size_t>(n) > room) {
      data->append(buf, room);
      result = READ_CUT;
      break;
    }
    data->append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return result;
}

// How the file's text is stored. A UTF-8 mark is kept on rewrite; UTF-16 text is read (as
// Latin-1 bytes, '?' for other characters) but never rewritten, which would lose what the
// conversion dropped.
enum Encoding { BYTES, UTF8_MARKED, UTF16_LE, UTF16_BE };

const char kUtf8Mark[] = "\xEF\xBB\xBF";

Encoding encoding_of(const std::string& raw) {
  if (raw.compare(0, 3, kUtf8Mark) == 0) return UTF8_MARKED;
  if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF &&
      static_cast<unsigned char>(raw[1]) == 0xFE)
    return UTF16_LE;
  if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFE &&
      static_cast<unsigned char>(raw[1]) == 0xFF)
    return UTF16_BE;
  return BYTES;
}

// The file's text without its mark, as the byte strings the settings are.
std::string text_of(const std::string& raw, Encoding e) {
  if (e == BYTES) return raw;
  if (e == UTF8_MARKED) return raw.substr(3);
  std::string out;
  out.reserve(raw.size() / 2);
  for (size_t i = 2; i + 1 < raw.size(); i += 2) {
    unsigned a = static_cast<unsigned char>(raw[i]), b = static_cast<unsigned char>(raw[i + 1]);
    unsigned u = e == UTF16_LE ? a | b << 8 : a << 8 | b;
    out.push_back(u < 0x100 ? static_cast<char>(u) : '?');  // a surrogate half too
  }
  return out;
}

void split_lines(const std::string& data, std::vector<Line>* lines) {
  size_t pos = 0;
  while (pos < data.size()) {
    size_t nl = data.find('\n', pos);
    Line l;
    if (nl == std::string::npos) {
      l.text = data.substr(pos);
      pos = data.size();
    } else {
      size_t stop = nl;
      if (stop > pos && data[stop - 1] == '\r') {
        --stop;
        l.end = "\r\n";
      } else {
        l.end = "\n";
      }
      l.text = data.substr(pos, stop - pos);
      pos = nl + 1;
    }
    lines->push_back(std::move(l));
  }
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && is_blank(s[a])) ++a;
  while (b > a && is_blank(s[b - 1])) --b;
  return s.substr(a, b - a);
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Names compare without regard to ASCII case, whatever the locale.
bool same_name(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

// "[name]" gives true and the trimmed name.
bool section_of(const std::string& line, std::string* name) {
  std::string t = trim(line);
  if (t.empty() || t[0] != '[') return false;
  size_t close = t.find(']');
  if (close == std::string::npos) return false;
  *name = trim(t.substr(1, close - 1));
  return true;
}

// "key=value" gives true with the trimmed key and value. Comments are not keys.
bool key_of(const std::string& line, std::string* key, std::string* value) {
  std::string t = trim(line);
  if (t.empty() || t[0] == ';' || t[0] == '[') return false;
  size_t eq = t.find('=');
  if (eq == std::string::npos) return false;
  *key = trim(t.substr(0, eq));
  *value = trim(t.substr(eq + 1));
  if (value->size() >= 2 && ((value->front() == '"' && value->back() == '"') ||
                             (value->front() == '\'' && value->back() == '\''))) {
    *value = value->substr(1, value->size() - 2);
  }
  return !key->empty();
}

std::string lookup_name(const std::string& section, const std::string& key) {
  std::string name;
  name.reserve(section.size() + 1 + key.size());
  for (char c : section) name.push_back(lower(c));
  name.push_back('\0');  // no name read from a file or given as a C string holds one
  for (char c : key) name.push_back(lower(c));
  return name;
}

// Settings are read many times a frame: a file's values are kept while it is the same file
// of the same size and time stamp, so that a read costs a stat, not a read and a parse. A time
// stamp is only trusted once it is older than the file system's granularity allows for at the
// moment it was read (a change within the same tick would keep it); until then the bytes are
// read again and compared, so every change is seen however soon after the last read.
constexpr long long kStampGrainNs = 2000000000LL;

struct ParsedFile {
  std::string data;
  std::unordered_map<std::string, std::string> values;  // by lookup_name; the first wins
  bool known = false;  // st and read_at describe data
  struct stat st {};
  long long read_at = 0;  // realtime ns, taken before the read
};
std::mutex parsed_lock;
std::unordered_map<std::string, ParsedFile> parsed_files;
constexpr size_t kMaxParsedFiles = 16;

// Values set while the file could not be read whole (and so was left as it was): kept for the
// run, by path and lookup_name; nullopt for a removed key.
std::unordered_map<std::string, std::unordered_map<std::string, std::optional<std::string>>> kept;
// The keys whose refused write was logged, by path and lookup_name.
std::unordered_set<std::string> refusals_logged;

long long ns_of(const struct timespec& t) {
  return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

long long realtime_ns() {
  struct timespec t {};
  clock_gettime(CLOCK_REALTIME, &t);
  return ns_of(t);
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         ns_of(a.st_mtim) == ns_of(b.st_mtim);
}

void parse(ParsedFile* f) {
  std::vector<Line> lines;
  split_lines(f->data, &lines);
  f->values.clear();
  bool in_section = false;
  std::string section;
  for (const auto& l : lines) {
    std::string name, k, v;
    if (section_of(l.text, &name)) {
      in_section = true;
      section = name;
    } else if (in_section && key_of(l.text, &k, &v)) {
      f->values.try_emplace(lookup_name(section, k), std::move(v));
    }
  }
}

// Brings the file's parsed values up to date; false when there is no file to read.
bool refresh(const char* path, ParsedFile* f) {
  struct stat now {};
  if (::stat(path, &now) != 0) {
    f->known = false;
    f->data.clear();
    f->values.clear();
    return false;
  }
  if (f->known && same_file(f->st, now) && ns_of(now.st_mtim) + kStampGrainNs < f->read_at)
    return true;
  long long read_at = realtime_ns();
  std::string data;
  struct stat st {};
  int error = 0;
  Read r = read_file(path, &data, &st, &error);
  if (r == READ_MISSING || r == READ_FAILED) {
    f->known = false;
    f->data.clear();
    f->values.clear();
    return false;
  }
  data = text_of(data, encoding_of(data));
  // A file cut at the cap ends with its last whole line: never a value cut short.
  if (r == READ_CUT) {
    size_t nl = data.rfind('\n');
    data.resize(nl == std::string::npos ? 0 : nl + 1);
  }
  f->known = true;
  f->st = st;
  f->read_at = read_at;
  if (f->data != data) {
    f->data = std::move(data);
    parse(f);
  }
  return true;
}

bool find_value(const char* path, const char* section, const char* key, std::string* value) {
  std::lock_guard<std::mutex> hold(parsed_lock);
  std::string name = lookup_name(section, key);
  auto k = kept.find(path);
  if (k != kept.end()) {
    auto v = k->second.find(name);
    if (v != k->second.end()) {
      if (!v->second) return false;
      *value = *v->second;
      return true;
    }
  }
  auto at = parsed_files.find(path);
  if (at == parsed_files.end()) {
    if (parsed_files.size() >= kMaxParsedFiles) parsed_files.clear();
    at = parsed_files.try_emplace(path).first;
  }
  if (!refresh(path, &at->second)) return false;
  auto found = at->second.values.find(name);
  if (found == at->second.values.end()) return false;
  *value = found->second;
  return true;
}

void copy_out(const std::string& s, char* out, size_t size) {
  if (!out || size == 0) return;
  size_t n = s.size() < size - 1 ? s.size() : size - 1;
  std::memcpy(out, s.data(), n);
  out[n] = 0;
}

std::string folder_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

// Writes data in place of the file, whole or not at all; false with *error the system's reason.
// The temporary is the file's name, our mark and six random letters or digits: a name no
// person gives a copy of their own, so that the start-up sweep removes only ours.
const char kTempMark[] = ".~saving-";
constexpr size_t kTempRandom = 6;

// Creates a temporary beside path (mode 0600); -1 with errno when the folder refuses it.
int make_temporary(const char* path, std::vector<char>* name) {
  std::string tmpl = std::string(path) + kTempMark + std::string(kTempRandom, 'X');
  name->assign(tmpl.begin(), tmpl.end());
  name->push_back(0);
  return mkstemp(name->data());
}

bool write_atomically(const char* path, const std::string& data, int* error) {
  std::vector<char> name;
  int fd = make_temporary(path, &name);
  if (fd < 0) {
    *error = errno;
    return false;
  }
  // A new file is the person's own (mkstemp's 0600); an existing one keeps its owner's bits
  // (one made read-only stays so) but is never again open to others, nor does a link lend it
  // its target's mode.
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISREG(st.st_mode)) fchmod(fd, st.st_mode & 0700);
  size_t done = 0;
  *error = 0;
  while (done < data.size()) {
    ssize_t w = ::write(fd, data.data() + done, data.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      *error = w < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<size_t>(w);
  }
  if (!*error && fsync(fd) != 0) *error = errno;
  if (::close(fd) != 0 && !*error) *error = errno;
  if (!*error && std::rename(name.data(), path) != 0) *error = errno;
  if (*error) ::unlink(name.data());
  return *error == 0;
}

// A value that could not be written holds for this run only; the first refusal of each key
// is logged with the file and the reason.
void keep_for_run(const char* path, const char* section, const char* key, const char* value,
                  const std::string& val, const char* why) {
  std::string name = lookup_name(section, key);
  bool first;
  {
    std::lock_guard<std::mutex> hold(parsed_lock);
    if (value)
      kept[path][name] = val;
    else
      kept[path][name] = std::nullopt;
    first = refusals_logged.insert(std::string(path) + '\0' + name).second;
  }
  if (first)
    log_note("settings: %s not rewritten (%s): [%s] %s=%s kept for this run only", path, why,
             section, key, !value ? "(removed)" : ini_secret_key(key) ? "(not shown)" : val.c_str());
}

}  // namespace

bool ini_get(const char* path, const char* section, const char* key, const char* def,
             char* out, size_t size) {
  std::string value;
  if (path && *path && section && key && find_value(path, section, key, &value)) {
    copy_out(value, out, size);
    return true;
  }
  copy_out(def ? def : "", out, size);
  return false;
}

int ini_get_int(const char* path, const char* section, const char* key, int def) {
  std::string value;
  if (!path || !*path || !section || !key || !find_value(path, section, key, &value)) return def;
  // Optional sign and decimal digits; anything else ends the number; no digits gives 0.
  size_t i = 0;
  bool negative = false;
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) negative = value[i++] == '-';
  long long n = 0;
  while (i < value.size() && value[i] >= '0' && value[i] <= '9') {
    n = n * 10 + (value[i++] - '0');
    if (n > static_cast<long long>(INT_MAX) + 1) n = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) n = -n;
  if (n > INT_MAX) n = INT_MAX;
  if (n < INT_MIN) n = INT_MIN;
  return static_cast<int>(n);
}

bool ini_set(const char* path, const char* section, const char* key, const char* value) {
  if (!path || !*path || !section || !key || !*section || !*key) return false;
  // A line break in the value would make new lines of the file: cut it there.
  std::string val = value ? value : "";
  size_t brk = val.find_first_of("\r\n");
  if (brk != std::string::npos) val.resize(brk);

  std::string old;
  struct stat st {};
  int error = 0;
  Read r = read_file(path, &old, &st, &error);  // a missing file starts empty
  Encoding encoding = encoding_of(old);
  if (r == READ_CUT || r == READ_FAILED || encoding == UTF16_LE || encoding == UTF16_BE) {
    // Written back, what could not be read (or converted) would be lost: the file stays as it
    // is and the value holds for this run only.
    keep_for_run(path, section, key, value, val,
                 r == READ_CUT      ? "it is larger than 16 MB"
                 : r == READ_FAILED ? std::strerror(error)
                                    : "it is UTF-16 text, which is read but not rewritten");
    return false;
  }
  std::vector<Line> lines;
  split_lines(text_of(old, encoding), &lines);

  // New lines take the file's own line end.
  std::string eol = "\n";
  for (const auto& l : lines)
    if (!l.end.empty()) {
      eol = l.end;
      break;
    }

  bool in_section = false;
  bool in_first = false;     // inside the first occurrence of the section
  long first_section = -1;   // its header line
  long section_last = -1;    // its last non-blank line
  long key_line = -1;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string name, k, v;
    if (section_of(lines[i].text, &name)) {
      in_section = same_name(name, section);
      in_first = in_section && first_section < 0;
      if (in_first) first_section = section_last = static_cast<long>(i);
      continue;
    }
    if (!in_section) continue;
    if (key_of(lines[i].text, &k, &v) && same_name(k, key)) {
      key_line = static_cast<long>(i);  // the first of duplicate keys is replaced
      break;
    }
    if (in_first && !trim(lines[i].text).empty()) section_last = static_cast<long>(i);
  }

  if (key_line >= 0) {
    if (value) {
      lines[key_line].text = std::string(key) + "=" + val;
    } else {
      lines.erase(lines.begin() + key_line);
    }
  } else if (value) {
    Line nl{std::string(key) + "=" + val, eol};
    if (first_section >= 0) {
      size_t at = static_cast<size_t>(section_last);
      if (lines[at].end.empty()) lines[at].end = eol;
      lines.insert(lines.begin() + at + 1, nl);
    } else {
      if (!lines.empty() && lines.back().end.empty()) lines.back().end = eol;
      lines.push_back(Line{"[" + std::string(section) + "]", eol});
      lines.push_back(nl);
    }
  } else {
    return true;  // nothing to remove
  }

  std::string data = encoding == UTF8_MARKED ? kUtf8Mark : "";
  for (const auto& l : lines) data += l.text + l.end;
  if (!write_atomically(path, data, &error)) {
    keep_for_run(path, section, key, value, val, std::strerror(error));
    return false;
  }
  std::lock_guard<std::mutex> hold(parsed_lock);
  auto k = kept.find(path);
  if (k != kept.end()) k->second.erase(lookup_name(section, key));
  return true;
}

bool ini_secret_key(const char* key) {
  return key && (strcasecmp(key, "pass") == 0 || strcasecmp(key, "password") == 0);
}

void ini_remove_temporaries(const char* path) {
  if (!path || !*path) return;
  std::string p = path;
  std::string folder = folder_of(p);
  std::string base = p.substr(p.rfind('/') + 1);  // npos + 1 is 0
  if (base.empty()) return;
  DIR* d = ::opendir(folder.c_str());
  if (!d) return;
  int dfd = ::dirfd(d);
  while (struct dirent* e = ::readdir(d)) {
    // The write's own name: the file's name, our mark and six letters or digits.
    const char* name = e->d_name;
    size_t n = std::strlen(name), mark = std::strlen(kTempMark);
    if (n != base.size() + mark + kTempRandom ||
        std::strncmp(name, base.c_str(), base.size()) != 0 ||
        std::strncmp(name + base.size(), kTempMark, mark) != 0)
      continue;
    bool pattern = true;
    for (size_t i = base.size() + mark; i < n; ++i) {
      char c = name[i];
      if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) pattern = false;
    }
    if (!pattern) continue;
    // Only a plain file of ours: a link, a folder or another user's file stays.
    struct stat st {};
    if (::fstatat(dfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
    if (::unlinkat(dfd, name, 0) == 0)
      log_note("settings: removed %s/%s, left by a write that did not finish", folder.c_str(), name);
    else
      log_note("settings: cannot remove %s/%s: %s", folder.c_str(), name, std::strerror(errno));
  }
  ::closedir(d);
}

bool ini_can_save(const char* path, std::string* why) {
  std::string raw;
  struct stat st {};
  int error = 0;
  Read r = read_file(path, &raw, &st, &error);
  char text[4200];
  if (r == READ_CUT) {
    *why = "it is larger than 16 MB";
    return false;
  }
  if (r == READ_FAILED) {
    std::snprintf(text, sizeof text, "it cannot be read: %s", std::strerror(error));
    *why = text;
    return false;
  }
  Encoding e = encoding_of(raw);
  if (e == UTF16_LE || e == UTF16_BE) {
    *why = "it is UTF-16 text, which is read but not rewritten: save it as plain text";
    return false;
  }
  // Every write goes through a temporary beside the file: the folder must take one.
  std::vector<char> name;
  int fd = make_temporary(path, &name);
  if (fd < 0) {
    int err = errno;
    std::snprintf(text, sizeof text, "the folder %s cannot be written: %s", folder_of(path).c_str(),
                  std::strerror(err));
    *why = text;
    return false;
  }
  ::close(fd);
  ::unlink(name.data());
  return true;
}
