// Plain-file opens, the header snapshot and the engine's configuration report.
#include <algorithm>
#include <cstring>
#include <string>

#include "keyfile/kf_internal.h"
#include "keyfile/ostrel.h"

using namespace ol;

namespace {

constexpr uint8_t kPlainStatus = 's';

void clear_slot(Fcb& f) {
  int16_t n = f.number;
  f = Fcb{};
  f.number = n;
  f.host = n;
}

// A fresh header: the format word, type 0 (fixed), no members.
void fresh_header(Header& h) {
  std::memset(&h, 0, sizeof h);
  h.format = kFormat;
}

}  // namespace

int16_t ol::close_plain_file(Fcb& f) {
  os_close(f.fd);
  clear_slot(f);
  if (cur && cur->open_files > 0) --cur->open_files;
  uerr_cod = 0;
  return 0;
}

int16_t OpenPlainFile(int16_t file, const char* name, uint16_t mode) {
  uerr_cod = 0;
  Fcb* fp = file_slot(file);
  if (!fp) return uerr_cod;
  if (fp->status != 'n') return fail(46);
  if (!name || !*name) return fail(130);
  const int low = mode & 0xFF;
  const int kind = low & ~0x40;
  std::string path = name;
  budget_handles(-1);
  int fd = os_open(path.c_str(), mode);
  bool existed = fd >= 0;
  Header h;
  fresh_header(h);
  if (!existed && kind != 0 && kind != 8) {
    fd = os_create(path.c_str());
    if (fd >= 0 && os_write(fd, 0, &h, 128, path.c_str()) != 128) {
      os_close(fd);
      os_delete(path.c_str());
      fd = -1;
    }
  } else if (!existed && (low & 0x40) && path.size() > 3) {
    path.back() = 'A';
    fd = os_open(path.c_str(), mode);
    existed = fd >= 0;
  }
  if (fd < 0) return fail(96);
  if (existed && low == 33) {
    os_close(fd);
    return fail(498);
  }
  if (existed && os_read(fd, 0, &h, 128, path.c_str()) != 128) {
    os_close(fd);
    return fail(96);
  }
  uerr_cod = 0;
  Fcb& f = *fp;
  f.h = h;
  f.fd = fd;
  f.status = kPlainStatus;
  f.open_mode = mode;
  f.name = path;
  ++cur->open_files;
  return 0;
}

int16_t GetHeaderSnapshot(int16_t file, int32_t out[3]) {
  uerr_cod = 0;
  Fcb* fp = file_slot(file);
  if (!fp) return uerr_cod;
  if (fp->status != 'y' && fp->status != 'v' && fp->status != kPlainStatus) return fail(26);
  if (!out) return fail(33);
  out[0] = fp->h.res32;
  out[1] = fp->h.res36;
  out[2] = fp->h.res88;
  return 0;
}

int16_t GetEngineConfig(void* buffer) {
  uerr_cod = 0;
  if (!cur || !cur->started) return fail(47);
  if (!buffer) return fail(33);
  int32_t words[OL_CONFIG_BYTES / 4] = {};
  const Engine& e = *cur;
  words[OL_CONFIG_FORMAT] = kFormat;
  words[OL_CONFIG_NODE_SIZE] = e.node_size;
  words[OL_CONFIG_FILES] = e.nfiles;
  words[OL_CONFIG_SECTORS] = e.sectors;
  words[OL_CONFIG_NODE_BUFFERS] = static_cast<int32_t>(e.nodes.size());
  words[OL_CONFIG_DATA_PAGES] = static_cast<int32_t>(e.pages.size());
  words[OL_CONFIG_HANDLE_LIMIT] = e.handle_limit;
  words[OL_CONFIG_LOCK_BUCKETS] = 16;
  words[OL_CONFIG_MODE_WORD] = e.mode_word;
  words[OL_CONFIG_OPEN_FILES] = e.open_files;
  words[OL_CONFIG_OPEN_NUMBERS] = e.open_numbers;
  words[OL_CONFIG_OPEN_HANDLES] = e.open_handles;
  auto cut = [](uint64_t v) { return static_cast<int32_t>(std::min<uint64_t>(v, 0x7FFFFFFF)); };
  words[OL_CONFIG_NODE_READS] = cut(e.node_reads);
  words[OL_CONFIG_NODE_HITS] = cut(e.node_hits);
  words[OL_CONFIG_PAGE_READS] = cut(e.page_reads);
  words[OL_CONFIG_PAGE_HITS] = cut(e.page_hits);
  std::memcpy(buffer, words, sizeof words);
  return 0;
}

int16_t GetEngineLimits(int32_t out[8]) {
  int32_t words[OL_CONFIG_BYTES / 4];
  if (int16_t e = GetEngineConfig(words)) return e;
  if (!out) return fail(33);
  std::memcpy(out, words, 8 * sizeof(int32_t));
  return 0;
}

int16_t NotOffered() {
  if (!cur || !cur->started) return fail(47);
  return fail(454);
}
