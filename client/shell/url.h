#pragma once
// Hands web addresses to the desktop's own browser when the web pane cannot show them:
// "xdg-open" started with an argument vector (never through a shell), with no descriptor of
// ours but the standard three, and reaped on a thread of its own. Only http, https and news
// addresses leave the program: anything else (file:, javascript:, a bare path, an option
// word, a blank or a control byte) is refused. Window thread only.

// Start-up: the [browser] name setting (kept for the trace; the desktop chooses the browser).
// Returns 1.
int url_init(const char* browser);
// 1 when the web module takes the address for a web page or the desktop's handler
// (web_address): a well-formed http or https address with a host, or a news address.
int url_is_external(const char* url);
// 1 when xdg-open was started with the address, 0 when refused or it could not start.
int url_open(const char* url);
void url_term();
