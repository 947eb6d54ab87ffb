#include "Zembrel/Pose/Anim/seqcache.h"

#include <cstdio>
#include <sstream>
#include <map>
#include <memory>
#include <new>
#include <string>

#include "Zembrel/Pose/Anim/anim.h"
#include "Zembrel/Pose/Anim/anim_internal.h"
#include "Zembrel/Pose/Anim/registry.h"

namespace {

struct SequenceFetch {
  char name[1024];
  char file[1100];
  char local[2048];
};

// Fetch records handed to downloads stay here, not with the request: a request dropped when
// the queue is reset never calls back, and its record must not be lost. Completion frees it.
std::map<SequenceFetch*, std::unique_ptr<SequenceFetch>>& pending() {
  static auto* p = new std::map<SequenceFetch*, std::unique_ptr<SequenceFetch>>;
  return *p;
}

SequenceFetch* make_fetch(const AnimName& name) {
  SequenceFetch* f = new (std::nothrow) SequenceFetch;
  if (!f) return nullptr;
  pending()[f].reset(f);
  const AnimSettings& s = anim_settings();
  std::snprintf(f->name, sizeof f->name, "%s", name.c_str());
  std::snprintf(f->file, sizeof f->file, "%s%s", f->name, s.archive_ext);
  std::snprintf(f->local, sizeof f->local, "%s%s%s%s", s.sequence_path, s.separator, f->name, s.sequence_ext);
  return f;
}

// Far above any sequence an avatar plays.
constexpr int64_t kSequenceBytes = int64_t(16) << 20;

SequenceHandle read_sequence(const char* path) {
  std::string text;
  if (!anim_read_file(path, kSequenceBytes, &text)) return SequenceHandle();
  std::istringstream in(text);
  SequenceHandle seq(new Sequence(&in));
  if (int32_t left = seq->File().root_left_out)
    anim_log("%s: %d root tracks more than the %d a sequence uses, left unread", path, left, SeqFile::kRootTracksUsed);
  if (int32_t left = seq->File().named_left_out)
    anim_log("%s: %d named tracks more than the %d a sequence keeps, left out", path, left, SeqFile::kNamedTracksKept);
  return seq;
}

void touch(const char* path) {
  if (anim_callbacks().file_touch) anim_callbacks().file_touch(path);
}

// Starts the download of the record's file; the record stays pending until its completion.
void start_download(SequenceFetch* f, bool force) {
  const AnimCallbacks& cb = anim_callbacks();
  void* request = nullptr;
  if (cb.download_file)
    request = cb.download_file(anim_settings().sequence_folder, f->file, ANIM_DOWNLOAD_CLASS, &SequenceCache::Completion, f);
  if (!request) {
    // Not queued (no object path, already queued): nobody will call back with this record.
    pending().erase(f);
    return;
  }
  if (force && cb.download_force) cb.download_force(request);
}

SequenceCache* g_cache = nullptr;
AvatarTypeUsage* g_usage = nullptr;

}  // namespace

SequenceCache* SequenceCache::Get() {
  if (!g_cache) g_cache = new SequenceCache();
  return g_cache;
}

void SequenceCache::LocalPath(const AnimName& name, char* out, size_t size) {
  const AnimSettings& s = anim_settings();
  std::snprintf(out, size, "%s%s%s%s", s.sequence_path, s.separator, name.c_str(), s.sequence_ext);
}

size_t SequenceCache::LowerBound(const AnimName& name) const {
  size_t lo = 0, hi = entries_.size();
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    if (entries_[mid].name < name) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

SequenceHandle SequenceCache::Find(const AnimName& name) const {
  size_t i = LowerBound(name);
  if (i < entries_.size() && entries_[i].name == name) return entries_[i].sequence;
  return SequenceHandle();
}

int SequenceCache::Users(const AnimName& name) const {
  size_t i = LowerBound(name);
  if (i < entries_.size() && entries_[i].name == name) return entries_[i].users;
  return 0;
}

void SequenceCache::Acquire(const AnimName& name) {
  if (name.empty()) return;
  SequenceFetch* f = make_fetch(name);
  if (!f) return;
  size_t i = LowerBound(name);
  if (i < entries_.size() && entries_[i].name == name) {
    ++entries_[i].users;
    start_download(f, false);
    return;
  }
  entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(i), Entry{name, 1, SequenceHandle()});
  touch(f->local);
  SequenceHandle seq = read_sequence(f->local);
  bool opened = static_cast<bool>(seq);
  entries_[i].sequence = seq;
  start_download(f, !opened);
}

void SequenceCache::Release(const AnimName& name) {
  if (name.empty()) return;
  size_t i = LowerBound(name);
  if (i >= entries_.size() || !(entries_[i].name == name)) return;
  if (entries_[i].users-- <= 1) entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
}

void SequenceCache::Completion(void* user, int status, uint8_t* data, int size) {
  SequenceFetch* f = static_cast<SequenceFetch*>(user);
  if (!f) return;
  if (status == ANIM_DOWNLOAD_ARRIVED && data && size > 0) {
    const AnimCallbacks& cb = anim_callbacks();
    if (cb.unzip_memory) cb.unzip_memory(data, static_cast<size_t>(size), f->local);
    touch(f->local);
    SequenceHandle seq = read_sequence(f->local);
    SequenceCache* c = Get();
    AnimName name(f->name);
    size_t i = c->LowerBound(name);
    if (seq && i < c->entries_.size() && c->entries_[i].name == name) c->entries_[i].sequence = seq;
  }
  pending().erase(f);
}

AvatarTypeUsage* AvatarTypeUsage::Get() {
  if (!g_usage) g_usage = new AvatarTypeUsage();
  return g_usage;
}

int AvatarTypeUsage::Count(int32_t type) const {
  auto it = counts_.find(type);
  return it == counts_.end() ? 0 : it->second;
}

namespace {
void for_each_sequence(int32_t type, void (SequenceCache::*fn)(const AnimName&)) {
  AnimRegistry* reg = AnimRegistry::Get();
  const AvatarRecord* r = reg ? reg->Entry(type) : nullptr;
  if (!r) return;
  SequenceCache* c = SequenceCache::Get();
  for (const AnimName& n : r->ImplicitSequences()) (c->*fn)(n);
  for (const AnimName& n : r->ExplicitSequences()) (c->*fn)(n);
}
}  // namespace

void AvatarTypeUsage::Acquire(int32_t type) {
  int32_t& n = counts_[type];
  ++n;
  if (n > 0) for_each_sequence(type, &SequenceCache::Acquire);
}

void AvatarTypeUsage::Release(int32_t type) {
  auto it = counts_.find(type);
  // Each avatar of the type acquired the sequences once and gives them back once; a type
  // already at 0 has nothing left to give back (the sequences may be another type's too).
  if (it == counts_.end() || it->second <= 0) return;
  --it->second;
  for_each_sequence(type, &SequenceCache::Release);
}
