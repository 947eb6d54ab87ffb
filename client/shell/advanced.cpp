#include "client/shell/advanced.h"

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/tessel.h"
#include "client/shell/psheet.h"

namespace {

constexpr size_t kPathMax = 255;

const char* shown_path() {
  const char* p = advanced_local_path();
  return p ? p : "";
}

const dialog_label kLabels[] = {{656, 262}, {658, 263}, {657, 264}, {659, 265},
                                {652, 266}, {653, 65},  {654, 15}};

class Page : public PsheetPage {
 public:
  Page() : PsheetPage(ADVANCED_PAGE, 267, kLabels) {}
  void init(DialogView& view) override {
    view.limit(ADVANCED_PATH, kPathMax);
    view.set_text(ADVANCED_PATH, shown_path());
    view.check(ADVANCED_CD, advanced_use_local_path() != 0);
    sets_ = advanced_message_sets();
    view.list_clear(ADVANCED_MESSAGES);
    int current = -1;
    for (size_t i = 0; i < sets_.size(); ++i) {
      view.list_add(ADVANCED_MESSAGES, sets_[i].c_str());
      if (strcasecmp(sets_[i].c_str(), msg_current()) == 0) current = static_cast<int>(i);
    }
    view.list_select(ADVANCED_MESSAGES, current);
  }
  void command(DialogView&, int id) override {
    if (id == ADVANCED_PATH || id == ADVANCED_CD || id == ADVANCED_MESSAGES) psheet_changed(this);
  }
  void apply(DialogView& view) override {
    std::string path = view.text(ADVANCED_PATH, kPathMax);
    int new_cd = view.checked(ADVANCED_CD) ? 1 : 0;
    if (!advanced_store(path, new_cd)) {
      // A path that is no folder is refused: the one there was stays, and so does the file.
      note(msg(240), path.c_str());
      view.set_text(ADVANCED_PATH, shown_path());
      view.check(ADVANCED_CD, advanced_use_local_path() != 0);
    }
    int pick = view.list_selection(ADVANCED_MESSAGES);
    if (pick >= 0 && static_cast<size_t>(pick) < sets_.size()) msg_switch(sets_[pick].c_str());
  }

 private:
  std::vector<std::string> sets_;
};

}  // namespace

int advanced_init() {
  if (trace_switches[TRACE_GENERAL]) log_write("advanced_init");
  advanced_load();
  return 0;
}

std::vector<std::string> advanced_message_sets() {
  std::vector<std::string> out;
  std::string dir = std::string(tessel_directory()) + "/Messages";
  DIR* d = opendir(dir.c_str());
  if (!d) return out;
  while (dirent* e = readdir(d)) {
    size_t n = std::strlen(e->d_name);
    if (n <= 4 || strcasecmp(e->d_name + n - 4, ".tzm") != 0) continue;
    std::string name(e->d_name, std::strcspn(e->d_name, "."));
    if (!name.empty() && std::find(out.begin(), out.end(), name) == out.end()) out.push_back(name);
  }
  closedir(d);
  std::sort(out.begin(), out.end());
  return out;
}

PsheetPage& advanced_page() {
  static Page page;
  return page;
}
