#pragma once
// The HTTP proxy setting: [proxy] address and port.

// Reads the setting. Returns 0.
int proxy_init();
// "address:port", or nullptr when no proxy is set.
const char* proxy_text();
const char* proxy_address();
int proxy_port();
