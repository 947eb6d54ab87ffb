#pragma once
// Shared pieces of the telegram, contacts and administration dialog tests: a list window that
// records what its module shows, installed as the program's list maker; numbered messages
// with the conversions these modules pass; the fake universe with the keyed-file engine up.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "client/cache/database.h"
#include "client/shell/contacts.h"
#include "client/shell/features.h"
#include "client/shell/list_view.h"
#include "client/shell/tab.h"
#include "client/shell/telegram.h"
#include "keyfile/ostrel.h"
#include "tests/servers/servers_test_util.h"

namespace shtest {

using namespace stest;

struct Row {
  std::string c0, c1;
  int image;
};

class RecordingList : public ShellListView {
 public:
  RecordingList(std::string name, int icon, bool multiple, const shell_list_events& events)
      : name(std::move(name)), icon(icon), multiple(multiple), events(events) {}
  ~RecordingList() override {
    if (events.destroyed) events.destroyed();
  }
  std::string name;
  int icon;
  bool multiple;
  shell_list_events events;
  std::vector<Row> rows;
  std::vector<int> selected;
  std::string titles[2];
  int widths[2] = {-1, -1};
  bool shown = true;
  int menu_answer = 0;
  std::vector<MenuItem> last_menu;
  std::vector<std::string> last_menu_texts;
  int visible = -1;

  void set_redraw(bool) override {}
  void clear() override {
    rows.clear();
    selected.clear();
  }
  void insert(int index, const char* c0, const char* c1, int image) override {
    index = std::clamp(index, 0, static_cast<int>(rows.size()));
    rows.insert(rows.begin() + index, {c0, c1, image});
  }
  void remove(int index) override {
    rows.erase(rows.begin() + index);
    selected.erase(std::remove(selected.begin(), selected.end(), index), selected.end());
    for (int& s : selected)
      if (s > index) --s;
  }
  void set_image(int index, int image) override { rows.at(static_cast<size_t>(index)).image = image; }
  void set_column_title(int column, const char* text) override { titles[column] = text; }
  void set_column_width(int column, int width) override { widths[column] = width; }
  int column_width(int column) override { return widths[column]; }
  std::vector<int> selection() override { return selected; }
  void select(int index) override { selected = {index}; }
  void ensure_visible(int index) override { visible = index; }
  void show(bool on) override { shown = on; }
  void move(int, int, int, int) override {}
  int popup_menu(const MenuItem* items, size_t count) override {
    last_menu.assign(items, items + count);
    last_menu_texts.clear();
    for (size_t i = 0; i < count; ++i) last_menu_texts.emplace_back(items[i].text);
    return menu_answer;
  }

  bool enabled(int id) const {
    for (const MenuItem& m : last_menu)
      if (m.id == id) return m.enabled;
    return false;
  }
  std::string column0() const {
    std::string s;
    for (const Row& r : rows) s += (s.empty() ? "" : " ") + r.c0;
    return s;
  }
};

// The lists the modules made, by window name.
inline std::map<std::string, std::unique_ptr<RecordingList>> lists;
inline ShellListView* make_recording(const char* name, int icon, bool multiple, const shell_list_events& events) {
  auto& slot = lists[name];
  slot = std::make_unique<RecordingList>(name, icon, multiple, events);
  return slot.get();
}
inline RecordingList* list(const char* name) {
  auto it = lists.find(name);
  return it == lists.end() ? nullptr : it->second.get();
}

inline void write_shell_messages(const std::string& dir) {
  const std::map<int, std::string> args = {
      {3, " %s"},    {10, " %s"},  {16, " %d"},  {58, " %d"},  {98, " %s %s"}, {103, " %d"},
      {145, " %d"},  {196, " %s"}, {197, " %s"}, {198, " %s"}, {209, " %s"},   {210, " %d"},
      {211, " %s"},  {229, " %d"},
  };
  std::ofstream m(dir + "/Messages/default.tzm", std::ios::trunc);
  for (int n = 1; n < 520; ++n) {
    auto it = args.find(n);
    m << n << " m" << n << (it == args.end() ? "" : it->second) << "\n";
  }
  m.close();
  msg_reset();
  msg_load("default");
}

// Console lines as "kind text".
inline std::vector<std::string> console;

class ShellFixture : public UniverseFixture {
 protected:
  void SetUp() override {
    UniverseFixture::SetUp();
    lists.clear();
    console.clear();
    shell_set_list_maker(make_recording);
    database_set_exits([] {}, [](int) {});
    telegram_reset();
    contacts_reset();
    features_reset();
    tab_reset();
    telegram_hook.console_print = [](int kind, const char* line) {
      console.push_back(std::to_string(kind) + " " + line);
    };
  }
  void TearDown() override {
    tab_reset();
    telegram_reset();
    contacts_reset();
    features_reset();
    telegram_hook = telegram_hooks{};
    join_hook = join_default_hooks();
    shell_set_list_maker(nullptr);
    lists.clear();
    if (KeyedFileEngineStarted()) StopKeyedFileEngine();
    database_set_exits(nullptr, nullptr);
    UniverseFixture::TearDown();
  }

  // The fake universe, our messages, the keyed-file engine.
  void start_shell(const std::string& config = "", const std::string& ini_extra = "") {
    ASSERT_NO_FATAL_FAILURE(start(config, ini_extra));
    write_shell_messages(dir->dir);
    ASSERT_EQ(0, database_init());
  }

  // Frames of the task table's universe, telegram and contacts rows until pred holds.
  static bool run_until(const std::function<bool()>& pred, int ms = testutil::kWaitMs) {
    return poll_until(
        [&] {
          universe_update();
          telegram_update();
          contacts_update();
          return pred();
        },
        ms);
  }
};

}  // namespace shtest
