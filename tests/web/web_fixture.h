#pragma once
// The menu fixture (settings, messages, world, teleports, action language, menu bar) with the
// web pane and the help page started by the program's own start-up rows, a recording browser
// container and help tree standing in for the Qt ones, and a recording xdg-open on PATH.
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "client/app/program.h"
#include "client/core/lifecycle.h"
#include "client/shell/help.h"
#include "client/shell/tab.h"
#include "client/shell/url.h"
#include "client/shell/web.h"
#include "tests/menu/menu_fixture.h"

namespace webtest {

struct Browser : WebContainer {
  std::vector<std::string> log;  // "navigate <url>", "command 11", "show 1", "move x y w h"
  ~Browser() override;
  void navigate(const char* url) override { log.push_back(std::string("navigate ") + url); }
  int command(int code) override {
    log.push_back("command " + std::to_string(code));
    return 1;
  }
  void move(int x, int y, int w, int h) override {
    log.push_back("move " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(w) + " " +
                  std::to_string(h));
  }
  void show(bool shown) override { log.push_back(std::string("show ") + (shown ? "1" : "0")); }
  void redraw() override { log.push_back("redraw"); }
};
inline Browser* browser = nullptr;  // the one the maker made last (owned by the web module)
inline bool browser_fails = false;
inline Browser::~Browser() {
  if (browser == this) browser = nullptr;
}
inline WebContainer* make_browser() {
  if (browser_fails) return nullptr;
  browser = new Browser;
  return browser;
}

struct Tree : HelpTreeView {
  struct Item {
    intptr_t parent;
    std::string title;
    int image;
  };
  std::vector<Item> items;  // handle = index + 1
  bool shown = false;
  intptr_t current = 0;
  void clear() override { items.clear(); }
  intptr_t selected() override { return current; }
  intptr_t add(intptr_t parent, const char* title, int image) override {
    items.push_back({parent, title, image});
    return static_cast<intptr_t>(items.size());
  }
  void set_image(intptr_t item, int image) override { items[static_cast<size_t>(item - 1)].image = image; }
  void show(bool on) override { shown = on; }
  void move(int, int, int, int) override {}
  intptr_t find(const std::string& title) const {
    for (size_t i = 0; i < items.size(); ++i)
      if (items[i].title == title) return static_cast<intptr_t>(i + 1);
    return 0;
  }
  // "Folder/Sub/Page" paths of every item, in insertion order.
  std::vector<std::string> paths() const {
    std::vector<std::string> out;
    for (size_t i = 0; i < items.size(); ++i) {
      std::string p = items[i].title;
      for (intptr_t up = items[i].parent; up; up = items[static_cast<size_t>(up - 1)].parent)
        p = items[static_cast<size_t>(up - 1)].title + "/" + p;
      out.push_back(p);
    }
    return out;
  }
};
inline Tree* tree = nullptr;

// A program row by name, as start-up runs it.
inline int run_row(const char* name) {
  const lifecycle_tables& t = app_tables();
  for (size_t i = 0; i < t.init_count; ++i)
    if (std::strcmp(t.init[i].name, name) == 0) return t.init[i].run();
  ADD_FAILURE() << "no start-up row " << name;
  return -1;
}

class WebFixture : public menutest::MenuFixture {
 protected:
  void SetUp() override {
    MenuFixture::SetUp();
    testutil::write_file(dir + "/Messages/default.tzm",
                         testutil::read_file(dir + "/Messages/default.tzm") + "86 m86\n174 m174\n175 m175\n239 m239\n246 m246: %s\n");
    ASSERT_EQ(1, msg_load("default"));
    browser = nullptr;
    browser_fails = false;
    web_set_container_maker(make_browser);
    tree = &tree_;
    help_set_tree_maker([]() -> HelpTreeView* { return tree; });
    // xdg-open is a script that records each run as one line "<count>|<arg>|<arg>...", written
    // at once so that runs finishing together do not mix their lines.
    bin = dir + "/bin";
    mkdir(bin.c_str(), 0755);
    opened = dir + "/opened.txt";
    testutil::write_file(bin + "/xdg-open",
                         "#!/bin/sh\nline=\"$#\"\nfor a in \"$@\"; do line=\"$line|$a\"; done\n"
                         "printf '%s\\n' \"$line\" >> '" + opened + "'\n");
    chmod((bin + "/xdg-open").c_str(), 0755);
    old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (bin + ":" + old_path).c_str(), 1);
    ASSERT_EQ(0, menu_init(nullptr, nullptr));
  }
  void TearDown() override {
    setenv("PATH", old_path.c_str(), 1);
    web_reset_for_test();
    help_reset_for_test();
    help_tree_destroyed(&tree_);
    web_set_container_maker(nullptr);
    help_set_tree_maker(nullptr);
    tree = nullptr;
    MenuFixture::TearDown();
  }
  // Start-up's rows for the tab pages (help among them) and the web pane.
  void start(const std::string& ini_extra = "") {
    if (!ini_extra.empty()) {
      testutil::write_file(dir + "/tessel.ini", "[general]\n" + ini_extra);
      profile_init(dir.c_str(), "/tessel.ini");
    }
    run_row("tab_init");
    ASSERT_EQ(0, run_row("web_init"));
  }
  // What the recording xdg-open was given: the one argument of each run (a run given another
  // count shows as "(<line>)").
  std::vector<std::string> opened_runs(size_t expect) {
    std::vector<std::string> runs;
    testutil::poll_until(
        [&] {
          runs.clear();
          std::string text = testutil::read_file(opened), line;
          for (char c : text) {
            if (c != '\n') {
              line += c;
              continue;
            }
            size_t bar = line.find('|');
            runs.push_back(bar == std::string::npos ? "" : line.substr(bar + 1));
            if (std::atoi(line.c_str()) != 1) runs.back() = "(" + line + ")";
            line.clear();
          }
          return runs.size() >= expect;
        },
        expect ? 5000 : 300);
    return runs;
  }
  // The user chooses the item of that title on the help page's tree.
  void choose(const std::string& title) {
    tree_.current = tree_.find(title);
    tab_selection_changed(TAB_HELP);
  }
  void write_help(const std::string& name, const std::string& text) {
    mkdir((dir + "/help").c_str(), 0755);
    testutil::write_file(dir + "/help/" + name, text);
  }

  Tree tree_;
  std::string bin, opened, old_path;
};

}  // namespace webtest
