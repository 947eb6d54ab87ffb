#include "client/shell/proxy_page.h"

#include <cstdlib>

#include "client/cache/http.h"
#include "client/core/msg.h"
#include "client/net/proxy.h"
#include "client/shell/psheet.h"

namespace {

const dialog_label kLabels[] = {{405, 402}, {401, 403}, {406, 404}, {407, 405}};

// 1 .. 65535, or -1.
int port_of(const std::string& text) {
  if (text.empty() || text.size() > 5) return -1;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  return *end || v < 1 || v > 65535 ? -1 : static_cast<int>(v);
}

class Page : public PsheetPage {
 public:
  Page() : PsheetPage(PROXY_PAGE, 400, kLabels) {}
  void labels(DialogView& view) override {
    PsheetPage::labels(view);
    view.set_text(PROXY_NOTE, msg_arg(401, msg(68), msg(68)));
  }
  void init(DialogView& view) override {
    bool on = proxy_address() != nullptr;
    view.check(PROXY_USE, on);
    view.limit(PROXY_ADDRESS, 255);
    view.limit(PROXY_PORT, 5);
    if (on) {
      view.set_text(PROXY_ADDRESS, proxy_address());
      view.set_position(PROXY_PORT, proxy_port());
    }
    psheet_enable(view, {PROXY_ADDRESS, PROXY_PORT}, on);
  }
  void command(DialogView& view, int id) override {
    if (id == PROXY_USE) psheet_enable(view, {PROXY_ADDRESS, PROXY_PORT}, view.checked(PROXY_USE));
    if (id == PROXY_USE || id == PROXY_ADDRESS || id == PROXY_PORT) psheet_changed(this);
  }
  void apply(DialogView& view) override {
    if (view.checked(PROXY_USE)) {
      int port = port_of(view.text(PROXY_PORT, 16));
      std::string address = view.text(PROXY_ADDRESS, 255);
      // A port that is no port, or no address at all, applies nothing.
      if (port < 0 || address.empty()) return;
      proxy_set(address.c_str(), port);
    } else {
      proxy_clear();
    }
    // Running transfers start again through the new route.
    http_proxy_changed();
  }
};

}  // namespace

PsheetPage& proxy_page() {
  static Page page;
  return page;
}
