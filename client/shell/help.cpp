#include "client/shell/help.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "client/core/files.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/page_window.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/tessel.h"
#include "client/shell/web.h"
#include "platform/progdir.h"

HelpTreeView::~HelpTreeView() = default;
help_hooks help_hook = {};

namespace {

struct State : PageWindow<HelpTreeView> {
  help_tree_maker maker = nullptr;
  bool made = false;
  std::string help_with_help, registration;
  std::map<intptr_t, std::string> links;  // pages' items
  bool refresh_added = false;
};
State s;

bool tracing() { return trace_switches[TRACE_GENERAL] != 0; }

// The words of a line: quoted words as written, bare words lower-cased.
std::vector<std::string> words_of(const char* line) {
  std::vector<std::string> out;
  const char* p = line;
  for (;;) {
    while (*p && std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (!*p) break;
    std::string w;
    if (*p == '"') {
      ++p;
      while (*p && *p != '"') w += *p++;
      if (*p == '"') ++p;
    } else {
      while (*p && !std::isspace(static_cast<unsigned char>(*p)))
        w += static_cast<char>(std::tolower(static_cast<unsigned char>(*p++)));
    }
    out.push_back(std::move(w));
  }
  return out;
}

std::string topic_file(const char* set) {
  return platform_program_dir() + "/help/" + set + ".tzh";
}

// Only a regular file: a FIFO in its place would hold the window thread until a writer came.
FILE* open_topics() {
  const char* set = msg_current();
  if (set && *set) {
    if (FILE* f = file_fopen_regular(topic_file(set).c_str())) return f;
  }
  return file_fopen_regular(topic_file("default").c_str());
}

void add_page(intptr_t parent, const std::string& title, const std::string& link) {
  if (!s.view) return;
  intptr_t item = s.view->add(parent, title.c_str(), HELP_IMAGE_PAGE);
  if (item) s.links[item] = link;
}

void menu_enable(int id, bool on) {
  if (help_hook.menu_enable) help_hook.menu_enable(id, on);
}

// A link names a file below help/ only: no parent steps, no absolute path.
bool safe_local_name(const char* link) {
  if (!*link || *link == '/' || *link == '\\') return false;
  std::string l = link;
  for (char& c : l)
    if (c == '\\') c = '/';
  return l != ".." && l.rfind("../", 0) != 0 && l.find("/../") == std::string::npos &&
         (l.size() < 3 || l.compare(l.size() - 3, 3, "/..") != 0);
}

}  // namespace

void help_set_tree_maker(help_tree_maker maker) { s.maker = maker; }

void help_tree_destroyed(HelpTreeView* view) {
  if (s.view == view) {
    s.view = nullptr;
    s.links.clear();
  }
}

int help_init() {
  if (tracing()) log_write("help_init");
  if (!s.view && s.maker) s.view = s.maker();
  if (s.view) s.view->show(false);
  s.made = true;
  if (!s.refresh_added) {
    msg_add_refresh(help_load_topics);
    s.refresh_added = true;
  }
  help_load_topics();
  return 0;
}

void help_load_topics() {
  FILE* f = open_topics();
  if (!f) return;
  s.help_with_help.clear();
  s.registration.clear();
  s.links.clear();
  if (s.view) s.view->clear();
  intptr_t stack[HELP_DEPTH];
  int depth = 0;
  int refused = 0;  // folders refused for depth: their end markers close nothing
  char line[HELP_LINE + 1];
  bool continued = false;  // the rest of a line longer than the limit
  while (std::fgets(line, sizeof line, f)) {
    bool whole = std::strchr(line, '\n') != nullptr;
    bool skip = continued;
    continued = !whole && !std::feof(f);
    if (skip) continue;
    std::vector<std::string> w = words_of(line);
    if (w.empty()) continue;
    intptr_t parent = depth > 0 ? stack[depth - 1] : 0;
    bool inside = depth > 0 && refused == 0;
    if (w[0] == "topic") {
      if (w.size() < 2) continue;
      if (depth >= HELP_DEPTH || refused > 0) {
        ++refused;
        continue;
      }
      intptr_t item = s.view ? s.view->add(parent, w[1].c_str(), HELP_IMAGE_FOLDER) : 0;
      stack[depth++] = item;
    } else if (w[0] == "endtopic") {
      if (refused > 0)
        --refused;
      else if (depth > 0)
        --depth;
    } else if (w[0] == "help_with_help" || w[0] == "help_with_registration") {
      if (w.size() < 3) continue;
      (w[0] == "help_with_help" ? s.help_with_help : s.registration) = w[2];
      if (inside) add_page(parent, w[1], w[2]);
    } else {
      if (w.size() < 2 || !inside) continue;
      add_page(parent, w[0], w[1]);
    }
  }
  std::fclose(f);
  menu_enable(148, !s.help_with_help.empty());
  menu_enable(142, !s.registration.empty());
}

void help_open(const char* link) {
  if (!link || !*link) return;
  if (tracing()) log_write("help_open (%s)", link);
  if (!web_visible()) web_toggle(1);
  std::string address;
  if (strncasecmp(link, "http:", 5) == 0 || strncasecmp(link, "news:", 5) == 0) {
    address = link;
  } else {
    std::string local = platform_program_dir() + "/help/" + link;
    if (safe_local_name(link) && file_is_regular(local.c_str())) {
      address = "file://" + local;
    } else {
      const char* host = settings_text("web", "host");
      const char* path = settings_text("web", "help_path");
      address = std::string("http://") + (host && *host ? host : "www.veldara.com") +
                (path && *path ? path : "/help/") + link;
    }
  }
  if (!web_navigate_help(address.c_str())) note("%s", msg(239));
}

void help_with_help() { help_open(s.help_with_help.c_str()); }
void help_registration() { help_open(s.registration.c_str()); }

void help_show() { s.show(); }
void help_hide() { s.hide(); }
void help_size(int x, int y, int width, int height) { s.move(x, y, width, height); }

void help_selection_changed() {
  if (!s.shown || !s.view) return;
  auto it = s.links.find(s.view->selected());
  if (it != s.links.end()) help_open(it->second.c_str());
}

void help_item_expanded(intptr_t item, bool expanded) {
  if (!s.shown || !s.view || s.links.count(item)) return;
  s.view->set_image(item, expanded ? HELP_IMAGE_OPEN : HELP_IMAGE_FOLDER);
}

const char* help_item_link(intptr_t item) {
  auto it = s.links.find(item);
  return it == s.links.end() ? "" : it->second.c_str();
}

const char* help_with_help_link() { return s.help_with_help.c_str(); }
const char* help_registration_link() { return s.registration.c_str(); }

void help_term() {
  if (tracing()) log_write("help_term");
}

void help_reset_for_test() {
  if (s.refresh_added) msg_remove_refresh(help_load_topics);
  help_tree_maker maker = s.maker;
  HelpTreeView* view = s.view;
  s = State{};
  s.maker = maker;
  s.view = view;
  if (view) view->clear();
}
