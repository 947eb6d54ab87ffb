// The dialog controller pieces: label tables, the scripted view and the runner.
#include <gtest/gtest.h>

#include "client/core/dialog.h"
#include "tests/universe/universe_test_util.h"

namespace {

struct Probe : DialogController {
  std::vector<int> commands;
  int closes = 0;
  bool close_from_command = false;
  void init(DialogView& v) override {
    static const dialog_label labels[] = {{10, 363}, {DIALOG_OK, 136}, {DIALOG_CANCEL, 137}};
    dialog_apply_labels(v, labels);
    v.limit(20, 4);
    v.enable(30, false);
  }
  void command(DialogView& v, int id) override {
    commands.push_back(id);
    if (id == 40) {
      v.post_close();
      // The close must not run inside this handler.
      close_from_command = closes != 0;
    }
    if (id == DIALOG_CANCEL) v.end(77);
  }
  void close(DialogView& v) override {
    ++closes;
    v.end(5);
  }
};

TEST(DialogTest, LabelsComeFromTheMessageTable) {
  utest::ProgramDir dir("");
  Probe p;
  ScriptedView v(1, p);
  p.init(v);
  EXPECT_EQ("m363", v.control(10).text);
  EXPECT_EQ("m136", v.control(DIALOG_OK).text);
  EXPECT_EQ("m137", v.control(DIALOG_CANCEL).text);
}

TEST(DialogTest, ScriptedViewActsLikeItsControls) {
  Probe p;
  ScriptedView v(1, p);
  p.init(v);
  v.type(20, "abcdefg");
  EXPECT_EQ("abcd", v.control(20).text);
  EXPECT_EQ("ab", v.text(20, 2));
  EXPECT_FALSE(v.press(30));  // disabled
  EXPECT_TRUE(p.commands.empty());
  EXPECT_TRUE(v.press(40));
  EXPECT_FALSE(p.close_from_command);
  EXPECT_EQ(1, p.closes);
  EXPECT_TRUE(v.ended());
  EXPECT_EQ(5, v.code());
  EXPECT_FALSE(v.press(DIALOG_CANCEL));  // ended: nothing more
  v.list_add(50, "a");
  v.list_add(50, "b");
  v.list_select(50, 1);
  EXPECT_EQ(1, v.list_selection(50));
  v.list_select(50, 2);
  EXPECT_EQ(-1, v.list_selection(50));
}

TEST(DialogTest, RunnerFollowsScriptsAndClosesWhatIsLeftOpen) {
  EXPECT_EQ(DIALOG_NO_VIEW, [] {
    Probe p;
    return dialog_run(1, p);
  }());
  ScriptedDialogs dialogs;
  dialogs.set_idle_limit(3);
  int idles = 0;
  dialogs.set_idle([&] { ++idles; });
  dialogs.add(7, {[](ScriptedView& v) { v.press(DIALOG_CANCEL); }});
  Probe a, b;
  EXPECT_EQ(77, dialog_run(7, a));
  EXPECT_EQ(0, idles);
  // No script: idle turns, then the window is closed.
  EXPECT_EQ(5, dialog_run(7, b));
  EXPECT_EQ(3, idles);
  EXPECT_EQ(1, b.closes);
  EXPECT_EQ(2u, dialogs.opened().size());
  EXPECT_TRUE(dialogs.open().empty());
}

}  // namespace
