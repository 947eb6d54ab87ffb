#pragma once
// HTTP GET requests, each on a worker thread of its own; the window thread polls them.
// A request lives from http_get until http_done. The worker owns the transfer; the window
// thread reads the state, counts and buffer and may mark a stall (state 2).
#include <cstdint>

struct http_request;

// Request states.
enum : int32_t {
  HTTP_COMPLETE = 0,
  HTTP_RUNNING = 1,
  HTTP_TIMED_OUT = 2,       // stalled, too slow or too long (http_update), or abandoned by a
                            // proxy change
  HTTP_TOO_LARGE = 3,       // above the max size (announced or received)
  HTTP_NO_MEMORY = 5,
  HTTP_BAD_LENGTH = 10,     // a Content-Length that cannot be read
  HTTP_EMPTY = 16,          // Content-Length 0
  HTTP_NOT_MODIFIED = 17,   // 304
  HTTP_NOT_FOUND = 19,      // 404 or 406
  HTTP_NEVER_STARTED = 20,  // url begins with ':'
  HTTP_TOO_LONG = 21,       // more data than announced, or past the unknown-length limit
};
// + any other HTTP status.
constexpr int32_t HTTP_STATUS_BASE = 1000;
// + the transfer library's own error number (kept apart from the numbers above).
constexpr int32_t HTTP_TRANSFER_BASE = 12000;
// The body ended before its announced length.
constexpr int32_t HTTP_SHORT_BODY = HTTP_TRANSFER_BASE + 18;
// Length marker of a reply that announced none, and the most such a reply may carry.
constexpr uint32_t HTTP_UNKNOWN_LENGTH = 0x10000000u;

// True for a state that says the server could not be reached (no name, no connection, no
// answer, a connection broken before the reply, or a proxy's word that the server is down).
bool http_unreachable(int state);

// Where http_init reads the proxy ("address:port" or null); null = the proxy module.
void http_set_proxy_source(const char* (*source)());
// Stall limit in ms (0 = 30000). Reads the proxy setting. 0, or an error code.
int http_init(int timeout_ms);
void http_term();
// url is host and path without "http://". Null when out of memory.
http_request* http_get(const char* url);
// If-Modified-Since with date (sent unchanged); an empty or missing date is a plain GET.
http_request* http_conditional_get(const char* url, const char* date);
// Largest accepted body in bytes (0 = none). Returns the request.
http_request* http_set_max(http_request* request, uint32_t bytes);
// How long the transfer may run in all, in ms from its start (0 = 20 stall limits). Returns
// the request.
http_request* http_set_deadline(http_request* request, uint32_t ms);
// Received bytes and the total (the announced length, or received when none was announced).
void http_progress(http_request* request, int* received, int* total);
// Unlinks and frees the request; one whose worker still runs is freed by its worker.
void http_done(http_request* request);
uint8_t* http_buffer(http_request* request);
int http_rc(http_request* request);
int http_size(http_request* request);
// True when the reply said when to come back (Retry-After).
bool http_retry_later(http_request* request);
// Last-Modified of the reply, or for a conditional GET first the date that was sent.
const char* http_date(http_request* request);
// One-line text for the Downloads window.
const char* http_state(http_request* request);
// 1 while any request's worker runs.
int http_busy();
// Rebuilds the session with the current proxy setting and times out every running request.
void http_proxy_changed();
// Frame task "http": running requests get state 2 when idle longer than the stall limit,
// when a stall limit's time brought less than 256 bytes a second, or past their deadline.
void http_update();
