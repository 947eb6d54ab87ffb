#include "client/cache/http.h"

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/net/proxy.h"
#include "platform/clock.h"

// The bandwidth meter. The program's meter module supplies it; a program without one
// (the upgrade program, tests) simply counts nothing.
void bps_count(int bytes) __attribute__((weak));

struct http_request {
  http_request* next;
  std::atomic<bool> running;  // the worker has not ended yet
  char* url;
  std::atomic<int32_t> state;
  std::atomic<uint8_t*> buffer;
  std::atomic<uint32_t> max_size;
  std::atomic<uint32_t> received;
  std::atomic<uint32_t> length;
  int32_t status;
  std::atomic<uint32_t> last_activity;
  uint32_t capacity;
  char* extra_header;
  std::mutex date_lock;
  char date[40];
  char date_out[40];  // copy handed to the caller
  std::atomic<int> cancel;
  std::atomic<int> release;  // the second of worker and http_done to arrive frees the record
  std::atomic<bool> retry_after;  // the reply said when to come back

  // Window thread only: the rate each stall window has brought, and the overall deadline.
  uint32_t started;
  uint32_t window_start;
  uint32_t window_received;
  uint32_t deadline;  // ms from started; 0 = kDeadlineWindows stall limits

  // Worker-only while the transfer runs; copied from the session at start.
  std::string proxy;
  long low_speed_seconds;
  bool headers_final;
  bool location_seen;
  int64_t announced;  // -1 unknown
  bool length_bad;
  char last_modified[40];
};

namespace {

struct Session {
  bool open = false;
  std::string proxy;
  uint32_t timeout = 30000;
};
Session session;
http_request* list_head = nullptr;

std::mutex workers_lock;
std::condition_variable workers_done;
int workers = 0;

std::once_flag curl_once;
CURLcode curl_global = CURLE_OK;

constexpr long kConnectTimeoutMs = 20000;
// A refused or timed-out connect is tried this many times more, a moment apart: a server
// that restarts is back by then.
constexpr int kConnectRetries = 3;
constexpr int kConnectRetryPauseMs = 500;
// A transfer must bring at least this much in each stall window (a server that trickles a
// byte a second is never idle, yet would hold its slot for ever), and, unless its caller set
// a deadline of its own, it ends after this many stall windows whatever it brings.
constexpr uint64_t kFloorBytesPerSecond = 256;
constexpr uint32_t kDeadlineWindows = 20;

void count_bytes(int n) {
  if (bps_count) bps_count(n);
}

void touch(http_request* r) { r->last_activity.store(platform_ticks()); }

// Final states come from running only: a stall already marked stays a stall.
bool finish(http_request* r, int32_t state) {
  int32_t expected = HTTP_RUNNING;
  return r->state.compare_exchange_strong(expected, state);
}

bool stopped(http_request* r) {
  return r->cancel.load() != 0 || r->state.load() != HTTP_RUNNING;
}

void free_request(http_request* r) {
  std::free(r->url);
  std::free(r->extra_header);
  std::free(r->buffer.load());
  delete r;
}

void release(http_request* r) {
  if (r->release.fetch_add(1) == 1) free_request(r);
}

bool header_is(const char* line, size_t n, const char* name) {
  size_t k = std::strlen(name);
  return n > k && strncasecmp(line, name, k) == 0 && line[k] == ':';
}

// Header value without the leading blanks and the line end, cut to size - 1.
void header_value(const char* line, size_t n, size_t name_length, char* out, size_t size) {
  size_t i = name_length + 1;
  while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
  size_t end = n;
  while (end > i && (line[end - 1] == '\r' || line[end - 1] == '\n' || line[end - 1] == ' ' ||
                     line[end - 1] == '\t'))
    --end;
  size_t len = end - i;
  if (len >= size) len = size - 1;
  std::memcpy(out, line + i, len);
  out[len] = 0;
}

// Content-Length is read here rather than trusted to the transfer library, which stops at
// the announced length and would hide both a longer and (with the close-delimited read
// below) a shorter body.
void parse_length(http_request* r, const char* line, size_t n) {
  char text[32];
  header_value(line, n, std::strlen("Content-Length"), text, sizeof text);
  if (!text[0]) {
    r->length_bad = true;
    return;
  }
  int64_t v = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9' || v > (INT64_C(1) << 40)) {
      r->length_bad = true;
      return;
    }
    v = v * 10 + (*p - '0');
  }
  if (r->announced >= 0 && r->announced != v) r->length_bad = true;
  r->announced = v;
}

// The last header of the final reply has arrived.
bool final_headers(http_request* r, CURL* h) {
  long code = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
  touch(r);
  r->status = static_cast<int32_t>(code);
  if (code == 304) return finish(r, HTTP_NOT_MODIFIED), false;
  if (code == 404 || code == 406) return finish(r, HTTP_NOT_FOUND), false;
  if (code != 200) return finish(r, HTTP_STATUS_BASE + static_cast<int32_t>(code)), false;
  touch(r);
  uint32_t length = HTTP_UNKNOWN_LENGTH;
  if (r->length_bad) return finish(r, HTTP_BAD_LENGTH), false;
  if (r->announced >= 0) {
    uint32_t max = r->max_size.load();
    if (max && r->announced > max) return finish(r, HTTP_TOO_LARGE), false;
    // An announced length as large as the unknown-length limit would be taken for "none".
    if (r->announced >= HTTP_UNKNOWN_LENGTH) return finish(r, HTTP_TOO_LARGE), false;
    if (r->announced == 0) return finish(r, HTTP_EMPTY), false;
    length = static_cast<uint32_t>(r->announced);
  }
  touch(r);
  {
    std::lock_guard<std::mutex> g(r->date_lock);
    std::snprintf(r->date, sizeof r->date, "%s", r->last_modified);
  }
  touch(r);
  count_bytes(110);
  size_t size = length == HTTP_UNKNOWN_LENGTH ? 1024 : length;
  uint8_t* b = static_cast<uint8_t*>(std::malloc(size));
  if (!b) return finish(r, HTTP_NO_MEMORY), false;
  r->capacity = length == HTTP_UNKNOWN_LENGTH ? 1024 : length;
  r->received.store(0);
  r->length.store(length);
  r->buffer.store(b);
  r->headers_final = true;
  return true;
}

size_t on_header(char* line, size_t size, size_t count, void* user) {
  http_request* r = static_cast<http_request*>(user);
  size_t n = size * count;
  if (stopped(r)) return 0;
  if (n >= 5 && std::strncmp(line, "HTTP/", 5) == 0) {
    // A new reply (after an interim reply or a redirect): forget the previous headers.
    r->location_seen = false;
    r->announced = -1;
    r->length_bad = false;
    r->last_modified[0] = 0;
    r->retry_after.store(false);
    touch(r);
    return n;
  }
  if (header_is(line, n, "Content-Length")) {
    parse_length(r, line, n);
  } else if (header_is(line, n, "Last-Modified")) {
    header_value(line, n, std::strlen("Last-Modified"), r->last_modified, sizeof r->last_modified);
  } else if (header_is(line, n, "Location")) {
    r->location_seen = true;
  } else if (header_is(line, n, "Retry-After")) {
    r->retry_after.store(true);
  }
  return n;
}

struct WorkerCtx {
  http_request* r;
  CURL* h;
};

size_t on_header_ctx(char* line, size_t size, size_t count, void* user) {
  WorkerCtx* c = static_cast<WorkerCtx*>(user);
  http_request* r = c->r;
  size_t n = size * count;
  size_t kept = on_header(line, size, count, r);
  if (kept != n) return 0;
  bool blank = (n == 2 && line[0] == '\r' && line[1] == '\n') || (n == 1 && line[0] == '\n');
  if (!blank) return n;
  long code = 0;
  curl_easy_getinfo(c->h, CURLINFO_RESPONSE_CODE, &code);
  if (code >= 100 && code < 200) return n;  // interim reply; the real one follows
  bool redirect = code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
  if (redirect && r->location_seen) return n;  // followed by the transfer library
  return final_headers(r, c->h) ? n : 0;
}

size_t on_body(char* data, size_t size, size_t count, void* user) {
  WorkerCtx* c = static_cast<WorkerCtx*>(user);
  http_request* r = c->r;
  size_t n = size * count;
  if (stopped(r)) return 0;
  if (!r->headers_final) return 0;
  uint32_t received = r->received.load();
  uint32_t length = r->length.load();
  uint64_t total = static_cast<uint64_t>(received) + n;
  // The limit may have been set after the headers were read.
  uint32_t max = r->max_size.load();
  if (max && total > max) return finish(r, HTTP_TOO_LARGE), 0;
  if (length != HTTP_UNKNOWN_LENGTH) {
    if (total > length) return finish(r, HTTP_TOO_LONG), 0;
  } else {
    if (total > HTTP_UNKNOWN_LENGTH) return finish(r, HTTP_TOO_LONG), 0;
    if (total > r->capacity) {
      uint64_t cap = r->capacity;
      while (cap < total) cap += 1024;
      uint8_t* grown = static_cast<uint8_t*>(std::realloc(r->buffer.load(), cap));
      if (!grown) return finish(r, HTTP_NO_MEMORY), 0;
      r->buffer.store(grown);
      r->capacity = static_cast<uint32_t>(cap);
    }
  }
  std::memcpy(r->buffer.load() + received, data, n);
  r->received.store(static_cast<uint32_t>(total));
  touch(r);
  count_bytes(static_cast<int>(n));
  return n;
}

int on_progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  WorkerCtx* c = static_cast<WorkerCtx*>(user);
  return stopped(c->r) ? 1 : 0;
}

// The transfer ended before any connection was made: nothing was sent or received.
bool connect_failed(CURL* h, CURLcode rc) {
  if (rc == CURLE_COULDNT_CONNECT) return true;
  if (rc != CURLE_OPERATION_TIMEDOUT) return false;
  curl_off_t connected = 0;
  return curl_easy_getinfo(h, CURLINFO_CONNECT_TIME_T, &connected) == CURLE_OK && connected == 0;
}

// Waits between connect attempts; false when the request was given up meanwhile.
bool pause_unless_stopped(http_request* r) {
  for (int waited = 0; waited < kConnectRetryPauseMs; waited += 20) {
    if (stopped(r)) return false;
    touch(r);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return !stopped(r);
}

void worker_end() {
  std::lock_guard<std::mutex> g(workers_lock);
  --workers;
  workers_done.notify_all();
}

void http_thread(http_request* r) {
  char address[1024];
  int written = std::snprintf(address, sizeof address, "http://%s", r->url);
  CURL* h = nullptr;
  curl_slist* headers = nullptr;
  if (written < 0 || static_cast<size_t>(written) >= sizeof address) {
    finish(r, HTTP_TRANSFER_BASE + CURLE_URL_MALFORMAT);
  } else if (!(h = curl_easy_init())) {
    finish(r, HTTP_TRANSFER_BASE + CURLE_FAILED_INIT);
  } else {
    WorkerCtx ctx{r, h};
    headers = curl_slist_append(headers, "Accept: */*");
    // The body is read to the connection's end so that a body longer or shorter than its
    // announced length shows; the server must therefore close after the reply.
    headers = curl_slist_append(headers, "Connection: close");
    if (r->extra_header) headers = curl_slist_append(headers, r->extra_header);
    curl_easy_setopt(h, CURLOPT_URL, address);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Veldara Browser");
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    // Backstop for a stall while no frames poll; http_update normally marks it first.
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, r->low_speed_seconds);
    curl_easy_setopt(h, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    curl_easy_setopt(h, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(h, CURLOPT_HTTP_TRANSFER_DECODING, 1L);
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    if (!r->proxy.empty()) curl_easy_setopt(h, CURLOPT_PROXY, r->proxy.c_str());
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, on_header_ctx);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &ctx);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, on_body);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &ctx);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, on_progress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &ctx);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    CURLcode rc = r->cancel.load() ? CURLE_ABORTED_BY_CALLBACK : curl_easy_perform(h);
    for (int retry = 0; retry < kConnectRetries && connect_failed(h, rc) && pause_unless_stopped(r); ++retry)
      rc = curl_easy_perform(h);
    if (r->state.load() == HTTP_RUNNING) {
      if (rc != CURLE_OK) {
        finish(r, HTTP_TRANSFER_BASE + static_cast<int32_t>(rc));
      } else if (!r->headers_final) {
        finish(r, HTTP_TRANSFER_BASE + CURLE_GOT_NOTHING);
      } else {
        uint32_t received = r->received.load();
        uint32_t length = r->length.load();
        if (length == HTTP_UNKNOWN_LENGTH) {
          r->length.store(received);
          finish(r, HTTP_COMPLETE);
        } else if (received < length) {
          finish(r, HTTP_SHORT_BODY);
        } else {
          finish(r, HTTP_COMPLETE);
        }
      }
    }
  }
  if (h) curl_easy_cleanup(h);
  curl_slist_free_all(headers);
  r->running.store(false);
  release(r);
  worker_end();
}

void start(http_request* r) {
  if (r->url[0] == ':') {
    r->state.store(HTTP_NEVER_STARTED);
    return;
  }
  r->cancel.store(0);
  touch(r);
  r->started = r->window_start = r->last_activity.load();
  r->window_received = 0;
  r->state.store(HTTP_RUNNING);
  r->proxy = session.proxy;
  r->low_speed_seconds = static_cast<long>((session.timeout + 999) / 1000) + 2;
  if (!session.open) {
    r->state.store(HTTP_TRANSFER_BASE + CURLE_FAILED_INIT);
    return;
  }
  r->running.store(true);
  r->release.store(0);
  {
    std::lock_guard<std::mutex> g(workers_lock);
    ++workers;
  }
  try {
    std::thread(http_thread, r).detach();
  } catch (...) {
    r->running.store(false);
    r->release.store(1);
    r->state.store(HTTP_NO_MEMORY);
    worker_end();
  }
}

http_request* create(const char* url, const char* extra_header, const char* date) {
  http_request* r = new (std::nothrow) http_request();
  if (!r) return nullptr;
  r->url = strdup(url ? url : "");
  r->extra_header = extra_header ? strdup(extra_header) : nullptr;
  if (!r->url || (extra_header && !r->extra_header)) {
    free_request(r);
    return nullptr;
  }
  if (date) std::snprintf(r->date, sizeof r->date, "%s", date);
  r->announced = -1;
  // A request without a worker belongs to http_done alone.
  r->release.store(1);
  r->next = list_head;
  list_head = r;
  start(r);
  return r;
}

// A header value must not carry line breaks into the request.
bool plain_text(const char* s) {
  for (; *s; ++s)
    if (static_cast<unsigned char>(*s) < 0x20 && *s != '\t') return false;
  return true;
}

}  // namespace

namespace {
const char* (*proxy_source)() = nullptr;
}  // namespace

void http_set_proxy_source(const char* (*source)()) { proxy_source = source; }

bool http_unreachable(int state) {
  if (state >= HTTP_STATUS_BASE + 502 && state <= HTTP_STATUS_BASE + 504) return true;
  switch (state - HTTP_TRANSFER_BASE) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      return true;
    default:
      return false;
  }
}

int http_init(int timeout_ms) {
  if (trace_switches[TRACE_GENERAL]) log_write("http_init (%d)", timeout_ms);
  std::call_once(curl_once, [] { curl_global = curl_global_init(CURL_GLOBAL_DEFAULT); });
  session.timeout = timeout_ms > 0 ? static_cast<uint32_t>(timeout_ms) : 30000u;
  const char* p = nullptr;
  if (proxy_source) {
    p = proxy_source();
  } else {
    proxy_init();
    p = proxy_text();
  }
  session.proxy = p ? p : "";
  session.open = curl_global == CURLE_OK;
  return session.open ? 0 : HTTP_TRANSFER_BASE + static_cast<int>(curl_global);
}

void http_term() {
  if (trace_switches[TRACE_GENERAL]) log_write("http_term");
  session.open = false;
  // Workers stop at their next progress check; wait for them so that nothing runs on
  // after the module is gone.
  for (http_request* r = list_head; r; r = r->next) finish(r, HTTP_TIMED_OUT);
  std::unique_lock<std::mutex> g(workers_lock);
  workers_done.wait_for(g, std::chrono::seconds(30), [] { return workers == 0; });
}

http_request* http_get(const char* url) {
  if (trace_switches[TRACE_GENERAL]) log_write("http_get (%s)", url ? url : "");
  return create(url, nullptr, nullptr);
}

http_request* http_conditional_get(const char* url, const char* date) {
  if (trace_switches[TRACE_GENERAL])
    log_write("http_conditional_get (%s, %s)", url ? url : "", date ? date : "");
  if (!date || !date[0] || !plain_text(date)) return create(url, nullptr, nullptr);
  std::string header = std::string("If-Modified-Since: ") + date;
  return create(url, header.c_str(), date);
}

http_request* http_set_max(http_request* r, uint32_t bytes) {
  if (trace_switches[TRACE_GENERAL]) log_write("http_set_max");
  if (r) r->max_size.store(bytes);
  return r;
}

http_request* http_set_deadline(http_request* r, uint32_t ms) {
  if (trace_switches[TRACE_GENERAL]) log_write("http_set_deadline");
  if (r) r->deadline = ms;
  return r;
}

void http_progress(http_request* r, int* received, int* total) {
  if (trace_switches[TRACE_GENERAL]) log_write("http_progress");
  uint32_t got = r ? r->received.load() : 0;
  uint32_t length = r ? r->length.load() : 0;
  if (received) *received = static_cast<int>(got);
  if (total) *total = static_cast<int>(length == HTTP_UNKNOWN_LENGTH ? got : length);
}

void http_done(http_request* r) {
  if (trace_switches[TRACE_GENERAL]) log_write("http_done");
  if (!r) return;
  http_request** link = &list_head;
  while (*link && *link != r) link = &(*link)->next;
  if (!*link) return;  // not ours, or freed already
  *link = r->next;
  r->cancel.store(1);
  release(r);
}

uint8_t* http_buffer(http_request* r) {
  if (trace_switches[TRACE_GENERAL]) log_write("http_buffer");
  return r ? r->buffer.load() : nullptr;
}

int http_rc(http_request* r) {
  if (trace_switches[TRACE_GENERAL]) log_write("http_rc");
  return r ? r->state.load() : HTTP_NEVER_STARTED;
}

bool http_retry_later(http_request* r) {
  if (trace_switches[TRACE_GENERAL]) log_write("http_retry_later");
  return r && r->retry_after.load();
}

int http_size(http_request* r) {
  if (trace_switches[TRACE_GENERAL]) log_write("http_size");
  return r ? static_cast<int>(r->length.load()) : 0;
}

const char* http_date(http_request* r) {
  if (trace_switches[TRACE_GENERAL]) log_write("http_date");
  if (!r) return "";
  std::lock_guard<std::mutex> g(r->date_lock);
  std::memcpy(r->date_out, r->date, sizeof r->date_out);
  return r->date_out;
}

const char* http_state(http_request* r) {
  if (trace_switches[TRACE_GENERAL]) log_write("http_state");
  if (!r || !r->running.load()) return "";
  if (!r->buffer.load()) return msg(62);
  uint32_t got = r->received.load();
  if (got == 0) return msg(27);
  uint32_t length = r->length.load();
  return msg_arg(141, static_cast<int>(got), static_cast<int>(length == HTTP_UNKNOWN_LENGTH ? got : length));
}

int http_busy() {
  if (trace_frames()) log_write("http_busy");
  for (http_request* r = list_head; r; r = r->next)
    if (r->running.load()) return 1;
  return 0;
}

void http_proxy_changed() {
  if (trace_switches[TRACE_GENERAL]) log_write("http_proxy_changed");
  http_init(static_cast<int>(session.timeout));
  // Only running requests: one that already ended keeps its result.
  for (http_request* r = list_head; r; r = r->next) finish(r, HTTP_TIMED_OUT);
}

void http_update() {
  if (trace_frames()) log_write("http_update");
  uint32_t now = platform_ticks();
  const uint32_t window = session.timeout;
  for (http_request* r = list_head; r; r = r->next) {
    if (!r->running.load() || r->state.load() != HTTP_RUNNING) continue;
    if (now - r->last_activity.load() > window) {
      finish(r, HTTP_TIMED_OUT);
      continue;
    }
    uint32_t got = r->received.load();
    if (tick_diff(r->window_start, now) > static_cast<int32_t>(window)) {
      const uint64_t floor = kFloorBytesPerSecond * window / 1000;
      if (got - r->window_received < floor) {
        log_note("http: %s timed out: %u bytes in %u ms, below the floor of %u bytes a second", r->url,
                 got - r->window_received, static_cast<unsigned>(tick_diff(r->window_start, now)),
                 static_cast<unsigned>(kFloorBytesPerSecond));
        finish(r, HTTP_TIMED_OUT);
        continue;
      }
      r->window_start = now;
      r->window_received = got;
    }
    const uint64_t deadline = r->deadline ? r->deadline : static_cast<uint64_t>(window) * kDeadlineWindows;
    if (static_cast<uint64_t>(tick_diff(r->started, now) > 0 ? tick_diff(r->started, now) : 0) > deadline) {
      log_note("http: %s timed out: still running after %u ms", r->url,
               static_cast<unsigned>(tick_diff(r->started, now)));
      finish(r, HTTP_TIMED_OUT);
    }
  }
}
