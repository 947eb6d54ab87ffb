// Help topic files from an install or a translation: any bytes read as "help/default.tzh"
// build a tree whose every item hangs under an item made before it, no deeper than the
// table, and every page's link can be asked for.
#include <cstdlib>
#include <map>
#include <sys/stat.h>

#include "client/shell/help.h"
#include "fuzz/core/fuzz_files.h"
#include "platform/progdir.h"

namespace {

class CheckedTree : public HelpTreeView {
 public:
  void clear() override {
    depth_.clear();
    depth_[0] = 0;
  }
  intptr_t add(intptr_t parent, const char* title, int image) override {
    auto it = depth_.find(parent);
    if (it == depth_.end() || !title || image < HELP_IMAGE_FOLDER || image > HELP_IMAGE_OPEN) std::abort();
    if (it->second >= HELP_DEPTH + 1) std::abort();
    depth_[++next_] = it->second + 1;
    return next_;
  }
  void set_image(intptr_t item, int) override {
    if (!depth_.count(item)) std::abort();
  }
  intptr_t selected() override { return 0; }
  void show(bool) override {}
  void move(int, int, int, int) override {}
  std::map<intptr_t, int> depth_{{0, 0}};
  intptr_t next_ = 0;
};

CheckedTree tree;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = [] {
    platform_set_program_dir(fuzz_folder());
    mkdir((fuzz_folder() + "/help").c_str(), 0700);
    help_set_tree_maker([]() -> HelpTreeView* { return &tree; });
    help_init();
    return fuzz_folder();
  }();
  if (!fuzz_write(dir + "/help/default.tzh", data, size)) return 0;
  help_load_topics();
  for (const auto& [item, depth] : tree.depth_)
    if (item) (void)help_item_link(item);
  (void)help_with_help_link();
  (void)help_registration_link();
  return 0;
}
