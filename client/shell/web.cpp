#include "client/shell/web.h"

#include <strings.h>

#include <QFile>
#include <QString>
#include <QUrl>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "client/cache/download.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/tessel.h"
#include "client/scene/behavior.h"
#include "client/servers/prompt.h"
#include "client/servers/world.h"
#include "client/shell/console.h"
#include "client/shell/slider.h"
#include "client/shell/status.h"
#include "client/shell/url.h"
#include "client/shell/view_click.h"
#include "platform/host.h"
#include "platform/progdir.h"

WebContainer::~WebContainer() = default;
web_hooks web_hook = {};

namespace {

const char kDefaultHost[] = "www.veldara.com";
const char kDefaultOtherHost[] = "www.veldara.net";

struct State {
  bool made = false;
  WebContainer* container = nullptr;
  web_container_maker maker = nullptr;
  int status = 0;  // the pane's status-bar entry while shown
  bool visible = false;
  bool busy = false;
  bool skip_teleport = false;
  std::string url;  // current, or pending while the pane is closed
  std::string refused;  // the last address refused, told once however often it comes
  std::string failed;   // the current page, when it failed to load
};
State s;

bool tracing() { return trace_switches[TRACE_GENERAL] != 0; }

void menu_check(int id, bool on) {
  if (web_hook.menu_check) web_hook.menu_check(id, on);
}
void menu_enable(int id, bool on) {
  if (web_hook.menu_enable) web_hook.menu_enable(id, on);
}
void toolbar_enable(int id, bool on) {
  if (on && web_hook.toolbar_enable) web_hook.toolbar_enable(id);
  if (!on && web_hook.toolbar_disable) web_hook.toolbar_disable(id);
}

void set_busy(bool busy) {
  s.busy = busy;
  menu_enable(136, busy);
  toolbar_enable(136, busy);
}

void enable_commands() {
  menu_check(130, true);
  for (int id = 134; id <= 137; ++id)
    if (web_hook.toolbar_show_button) web_hook.toolbar_show_button(id);
  for (int id = 134; id <= 135; ++id) {
    menu_enable(id, true);
    toolbar_enable(id, true);
  }
  set_busy(s.busy);
  menu_enable(137, true);
  menu_enable(138, true);
}

void disable_commands() {
  menu_check(130, false);
  for (int id = 134; id <= 137; ++id)
    if (web_hook.toolbar_hide_button) web_hook.toolbar_hide_button(id);
  for (int id = 134; id <= 138; ++id) menu_enable(id, false);
}

bool create_container() {
  if (s.container) return true;
  if (!s.maker) return false;
  s.container = s.maker();
  return s.container != nullptr;
}

void destroy_container() {
  WebContainer* c = s.container;
  s.container = nullptr;
  delete c;
}

// "name" or "name:port" of a configured host; an unset key gives the default.
std::string configured_host(const char* key, const char* fallback) {
  const char* v = settings_text("web", key);
  return v && *v ? v : fallback;
}

bool host_matches(const char* host, size_t length, const std::string& configured) {
  return !configured.empty() && configured.size() == length &&
         strncasecmp(host, configured.c_str(), length) == 0;
}

// A file below the program's help folder, with no host and no way out of it.
bool is_help_file(const QUrl& u) {
  if (!u.host().isEmpty()) return false;
  std::string local = QFile::encodeName(u.toLocalFile()).toStdString();
  if (local.empty()) return false;
  std::error_code ec;
  std::filesystem::path help = std::filesystem::weakly_canonical(platform_program_dir() + "/help", ec);
  if (ec) return false;
  std::filesystem::path file = std::filesystem::weakly_canonical(local, ec);
  if (ec) return false;
  std::filesystem::path inside = file.lexically_relative(help);
  return !inside.empty() && *inside.begin() != ".." && inside != ".";
}

// Tells the person once that an address was not followed.
void refuse(const char* url) {
  if (tracing()) log_write("web: not followed (%s)", url);
  if (s.refused == url) return;
  s.refused = url;
  char shown[256];
  std::snprintf(shown, sizeof shown, "%s", url);
  console_line(CONSOLE_BUILD, msg_arg(246, static_cast<const char*>(shown)));
}

// The one way in for an address: checked, then to the pane, the pending address or the
// desktop. `help`: the help page's own links, which may name a help file.
int navigate(const char* url, int skip_teleport, bool help) {
  if (!url || !*url) return 0;
  std::string address;
  WebAddress kind = web_address(url, &address);
  // The desktop's handler starts only at the person's word, never for an object on its own.
  if (kind == WEB_ADDRESS_DESKTOP && !skip_teleport) return url_open(address.c_str());
  if (kind != WEB_ADDRESS_PAGE && !(help && kind == WEB_ADDRESS_HELP)) {
    refuse(url);
    return 0;
  }
  if (s.container) {
    if (skip_teleport) s.skip_teleport = true;
    s.container->navigate(address.c_str());
    return 1;
  }
  if (skip_teleport) {
    s.url = address;
    return 1;
  }
  return url_open(address.c_str());
}

// A server the download queue could not reach answers again: the current page, when it failed
// to load from that server, is loaded again.
void server_back(const char* host) {
  if (s.failed.empty() || s.failed != s.url || !s.container) return;
  const QUrl page(QString::fromLatin1(s.failed.c_str()));
  const QUrl server(QStringLiteral("http://") + QString::fromLatin1(host));
  if (page.host() != server.host() || page.port(80) != server.port(80)) return;
  if (tracing()) log_write("web: its server is back (%s)", s.failed.c_str());
  const std::string url = s.failed;
  s.failed.clear();
  s.container->navigate(url.c_str());
}

}  // namespace

void web_set_container_maker(web_container_maker maker) { s.maker = maker; }

void web_container_destroyed(WebContainer* container) {
  if (s.container == container) s.container = nullptr;
}

int web_init() {
  if (s.made) return 1;
  if (tracing()) log_write("web_init");
  s.made = true;
  behavior_hook.web_navigate = web_navigate;
  world_hook.web_navigate = [](const char* url, int flag) { web_navigate(url, flag); };
  view_click_hook.web_navigate = [](const char* url, int flag) { web_navigate(url, flag); };
  slider_hook.web_shown = [] { return web_visible() != 0; };
  download_hook.server_back = server_back;
  int shown = show_setting("web");
  if (shown != 0 && !tessel_no_web_pane() && create_container())
    web_toggle(1);
  else
    disable_commands();
  return 1;
}

void web_start() {
  if (tracing()) log_write("web_start");
}

void web_update() {}

void web_toggle(int quiet) {
  if (tracing()) log_write("web_toggle (%d)", quiet);
  if (s.visible) {
    if (s.container) s.container->show(false);
    if (s.status) status_destroy(s.status);
    s.status = 0;
    disable_commands();
    s.visible = false;
  } else {
    if (!create_container()) {
      if (!quiet) note("%s", msg(86));
      return;
    }
    s.status = status_create(WEB_STATUS_WEIGHT);
    s.container->show(true);
    s.busy = false;
    s.visible = true;
    enable_commands();
    if (!s.url.empty()) s.container->navigate(s.url.c_str());
  }
  profile_set_int("show", "web", s.visible ? 1 : 0);
  if (web_hook.relayout) web_hook.relayout();
}

WebAddress web_address(const char* url, std::string* canonical) {
  if (!url || !*url) return WEB_ADDRESS_REFUSED;
  QUrl u(QString::fromLatin1(url), QUrl::StrictMode);
  if (!u.isValid()) return WEB_ADDRESS_REFUSED;
  const QString scheme = u.scheme();  // lower case once parsed
  WebAddress kind = WEB_ADDRESS_REFUSED;
  if ((scheme == "http" || scheme == "https") && !u.host().isEmpty())
    kind = WEB_ADDRESS_PAGE;
  else if (scheme == "news" && !u.path().isEmpty())
    kind = WEB_ADDRESS_DESKTOP;
  else if (scheme == "file" && is_help_file(u))
    kind = WEB_ADDRESS_HELP;
  if (kind != WEB_ADDRESS_REFUSED && canonical) *canonical = u.toEncoded().toStdString();
  return kind;
}

int web_navigate(const char* url, int skip_teleport) {
  if (!url || !*url) return 0;
  if (tracing()) log_write("web_navigate (%s, %d)", url, skip_teleport);
  return navigate(url, skip_teleport, false);
}

int web_navigate_help(const char* url) {
  if (!url || !*url) return 0;
  if (tracing()) log_write("web_navigate_help (%s)", url);
  return navigate(url, 0, true);
}

void web_get_url() {
  const char* text = prompt_text(msg(174), msg(175), s.url.c_str());
  if (!text) return;
  // What the person types may lack the scheme ("pages.example/a"): the usual reading of it,
  // which the check then takes or refuses like any other address.
  QUrl typed = QUrl::fromUserInput(QString::fromLatin1(text));
  std::string address = typed.isValid() ? typed.toEncoded().toStdString() : text;
  web_navigate(address.empty() ? text : address.c_str(), 0);
}

int web_back() { return s.container ? s.container->command(WEB_GO_BACK) : 0; }
void web_forward() {
  if (s.container) s.container->command(WEB_GO_FORWARD);
}
void web_stop() {
  if (s.container) s.container->command(WEB_STOP);
}
void web_refresh() {
  if (s.container) s.container->command(WEB_REFRESH);
}

void web_size(int x, int y, int width, int height) {
  if (s.container) s.container->move(x, y, width, height);
}

int web_visible() { return s.visible ? 1 : 0; }
int web_is_busy() { return s.busy ? 1 : 0; }
const char* web_current_url() { return s.url.c_str(); }

int web_teleport_command(const char* url, char* out, int size) {
  if (!url || !out || size <= 0) return 0;
  out[0] = 0;
  const char* p = url;
  if (strncasecmp(p, "http://", 7) == 0)
    p += 7;
  else if (strncasecmp(p, "https://", 8) == 0)
    p += 8;
  else
    return 0;
  size_t host_length = strcspn(p, "/?#");
  if (!host_matches(p, host_length, configured_host("host", kDefaultHost)) &&
      !host_matches(p, host_length, configured_host("other_host", kDefaultOtherHost)))
    return 0;
  const char* path = p + host_length;
  if (strncmp(path, "/cgi-bin/", 9) != 0) return 0;
  // The page is the path's last segment, the query follows it at once.
  size_t path_length = strcspn(path, "?#");
  if (path[path_length] != '?') return 0;
  const char* page = path + path_length;
  while (page > path && page[-1] != '/') --page;
  static const char kPage[] = "teleport";
  if (static_cast<size_t>(path + path_length - page) != sizeof kPage - 1 ||
      strncmp(page, kPage, sizeof kPage - 1) != 0)
    return 0;
  std::string command = "teleport ";
  for (const char* q = path + path_length + 1; *q && *q != '#'; ++q) command += *q == '_' ? ' ' : *q;
  std::snprintf(out, static_cast<size_t>(size), "%s", command.c_str());
  return 1;
}

int web_event(int code, const char* url) {
  if (!url) url = "";
  switch (code) {
    case WEB_BEFORE_NAVIGATE:
    case WEB_BEFORE_CLICKED_NAVIGATE:
    case WEB_BEFORE_PAGE_NAVIGATE:
    case WEB_BEFORE_FRAME_NAVIGATE: {
      char command[BEHAVIOR_TEXT_SIZE];
      if (web_teleport_command(url, command, sizeof command)) {
        // Only the person moves the person: a link they clicked, or an address they (or an
        // object they clicked) opened. A page's own script, frame or redirect moves no one.
        bool person = code == WEB_BEFORE_CLICKED_NAVIGATE || (code == WEB_BEFORE_NAVIGATE && !s.skip_teleport);
        if (person)
          behavior_post(command);
        else if (tracing())
          log_write("web: teleport link not followed (%s)", url);
        s.skip_teleport = false;
        return 0;
      }
      // A page reaches web pages only; help pages reach each other too.
      WebAddress kind = web_address(url);
      bool help = kind == WEB_ADDRESS_HELP &&
                  (code == WEB_BEFORE_NAVIGATE || web_address(s.url.c_str()) == WEB_ADDRESS_HELP);
      if (kind != WEB_ADDRESS_PAGE && !help) {
        if (code == WEB_BEFORE_FRAME_NAVIGATE) {
          if (tracing()) log_write("web: frame not followed (%s)", url);
        } else {
          refuse(url);
        }
        return 0;
      }
      // Only the page's own load ends busy: a frame's would never clear it.
      if (code == WEB_BEFORE_FRAME_NAVIGATE) return 1;
      s.url = url;
      set_busy(true);
      return 1;
    }
    case WEB_NAVIGATE_COMPLETE:
    case WEB_NAVIGATE_FAILED:
      s.failed = code == WEB_NAVIGATE_FAILED ? s.url : std::string();
      if (Host* h = host()) h->window_focus();
      s.skip_teleport = false;
      set_busy(false);
      if (s.container) s.container->redraw();
      return 1;
    default:
      return 1;
  }
}

int web_open_action(const char* action) {
  if (!action || !*action || std::strchr(action, ' ') || strncasecmp(action, "sound:", 6) == 0) return 0;
  return web_navigate(action, 0);
}

void web_term() {
  if (tracing()) log_write("web_term");
  destroy_container();
}

void web_reset_for_test() {
  destroy_container();
  web_container_maker maker = s.maker;
  s = State{};
  s.maker = maker;
  if (behavior_hook.web_navigate == web_navigate) behavior_hook.web_navigate = nullptr;
  world_hook.web_navigate = nullptr;
  if (download_hook.server_back == server_back) download_hook.server_back = nullptr;
}
