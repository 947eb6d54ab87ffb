#pragma once
// The HTTP proxy setting: [proxy] address and port.

// Reads the setting. Returns 0.
int proxy_init();
// "address:port", or nullptr when no proxy is set.
const char* proxy_text();
const char* proxy_address();
int proxy_port();
// The settings page's apply: a proxy at address:port (written to [proxy] address and port),
// or none (address written empty). The address is cut to 255 bytes.
void proxy_set(const char* address, int port);
void proxy_clear();
