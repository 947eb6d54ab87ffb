#pragma once
// The "Proxy" page of the settings sheet; the setting itself is client/net/proxy.
class PsheetPage;

enum ProxyPageIds : int {
  PROXY_PAGE = 611,
  PROXY_USE = 401,
  PROXY_ADDRESS = 402,
  PROXY_PORT = 403,
  PROXY_NOTE = 404,
};

PsheetPage& proxy_page();
