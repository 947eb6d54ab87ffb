// The status bar of the running program: its panes' widths by weight, the panes the Show
// menu adds and removes, and where the bar sits.
#include <unistd.h>

#include <algorithm>

#include "client/core/log.h"
#include "client/scene/visible.h"
#include "client/shell/font.h"
#include "client/shell/meters.h"
#include "tests/shell/shell_fixture.h"

namespace {

std::vector<int> bar_edges(QtStatusBar* bar) { return bar ? bar->edges() : std::vector<int>{}; }

TEST_F(ShellTest, StatusBarSplitsItsWidthByWeight) {
  ASSERT_NO_FATAL_FAILURE(start_to_running("[show]\ncache=0\n"));
  ASSERT_EQ(status_count(), 0u);
  auto* bar = child<QtStatusBar>();
  ASSERT_NE(bar, nullptr);
  int a = status_create(12), b = status_create(17);
  ASSERT_NE(a, 0);
  ASSERT_NE(a, b);
  status_size(300, 200);
  // 12/29 and 17/29 of the width less the grip's 15; the grip's room after the last.
  EXPECT_EQ(bar_edges(bar), (std::vector<int>{117, 299}));
  status_change(b, "seventeen");
  EXPECT_EQ(bar->text(1), "seventeen");
  EXPECT_EQ(bar->text(0), "");
  // Removing a pane gives the others its room and keeps their texts.
  status_destroy(a);
  EXPECT_EQ(bar_edges(bar), (std::vector<int>{300}));
  EXPECT_EQ(bar->text(0), "seventeen");
  status_destroy(b);
  EXPECT_TRUE(bar_edges(bar).empty());
  // Panes of no weight share the width instead of dividing by nothing.
  int z1 = status_create(0), z2 = status_create(0);
  EXPECT_EQ(bar_edges(bar), (std::vector<int>{142, 299}));
  status_destroy(z1);
  status_destroy(z2);
  // A narrow bar gives no negative widths.
  status_create(5);
  status_size(10, 200);
  EXPECT_EQ(bar_edges(bar), (std::vector<int>{15}));
  EXPECT_EQ(status_text(12345), nullptr);
}

TEST_F(ShellTest, StatusBarSitsAtTheBottomInTheInterfaceFont) {
  ASSERT_NO_FATAL_FAILURE(start_to_running());
  auto* bar = child<QtStatusBar>();
  ASSERT_NE(bar, nullptr);
  EXPECT_TRUE(bar->isVisible());
  EXPECT_EQ(bar->geometry().bottom(), main()->height() - 1);
  EXPECT_EQ(bar->width(), main()->width());
  EXPECT_EQ(status_height(), bar->height());
  EXPECT_EQ(bar->font().pixelSize(), 11);
  EXPECT_EQ(QFontInfo(bar->font()).family(), "Liberation Sans");
  ASSERT_NE(font_bold(), nullptr);
  EXPECT_TRUE(qt_font(font_bold()).bold());
  // The viewport ends where the bar begins.
  auto* surface = dynamic_cast<QtViewport*>(viewport_surface());
  ASSERT_NE(surface, nullptr);
  EXPECT_LE(surface->widget()->geometry().bottom(), bar->geometry().top());
}

TEST_F(ShellTest, ShowMenuPanesAppearAndGo) {
  ASSERT_NO_FATAL_FAILURE(start_to_running());
  auto* bar = child<QtStatusBar>();
  ASSERT_NE(bar, nullptr);
  size_t before = status_count();
  command(120);  // Show > Visibility
  ASSERT_EQ(status_count(), before + 1);
  EXPECT_TRUE(bar->text(before).startsWith("range ")) << bar->text(before).toStdString();
  EXPECT_NE(ini().find("visibility=1"), std::string::npos);
  command(132);  // Show > Altitude
  ASSERT_EQ(status_count(), before + 2);
  EXPECT_TRUE(bar->text(before + 1).startsWith("altitude ")) << bar->text(before + 1).toStdString();
  command(120);
  ASSERT_EQ(status_count(), before + 1);
  EXPECT_TRUE(bar->text(before).startsWith("altitude "));
  EXPECT_NE(ini().find("visibility=0"), std::string::npos);
  command(132);
  EXPECT_EQ(status_count(), before);
  // Show > Cache Updates: the world connection's pane.
  bool world_shown = before == 1;
  command(133);
  EXPECT_EQ(status_count(), world_shown ? before - 1 : before + 1);
  command(133);
  EXPECT_EQ(status_count(), before);
}

TEST_F(ShellTest, WorldPaneFollowsTheSavedChoice) {
  ASSERT_NO_FATAL_FAILURE(start_to_running("[show]\ncache=0\n"));
  EXPECT_EQ(status_count(), 0u);
  restart("[show]\ncache=1\nvisibility=1\n");
  EXPECT_EQ(status_count(), 2u);
}

// An hour of the program standing still with every meter shown keeps its trace log to a few
// megabytes: the meters' values change every frame on screen but not in the log, and a status
// text that changes is still written there once.
TEST_F(ShellTest, MetersShownEveryFrameKeepTheTraceLogSmall) {
  struct InDirectory {  // the log goes to the working directory
    char cwd[4096] = {};
    explicit InDirectory(const std::string& dir) {
      if (!getcwd(cwd, sizeof cwd) || chdir(dir.c_str()) != 0) ADD_FAILURE() << "cannot work in " << dir;
    }
    ~InDirectory() {
      log_reset();
      if (chdir(cwd) != 0) ADD_FAILURE() << "cannot go back to " << cwd;
    }
  } in_dir(dir_.path());
  testutil::FakeClock clock;
  meters_reset_for_test();  // counted on another clock by earlier runs in this process
  ASSERT_NO_FATAL_FAILURE(start_to_running(
      "[layout]\nmain_width=640\nmain_height=480\n[show]\nframerate=1\nbandwidth=1\naltitude=1\n"
      "visibility=1\nvrt=1\n[debug]\ntrace=1\n"));
  auto* bar = child<QtStatusBar>();
  ASSERT_NE(bar, nullptr);
  ASSERT_NE(fps_pane(), 0);
  ASSERT_NE(bps_pane(), 0);
  ASSERT_NE(vrt_pane(), 0);
  ASSERT_GE(status_count(), 5u);  // and the altitude and the range
  auto frames = [&](int n) {
    for (int i = 0; i < n; ++i) {
      clock.advance(16);  // 60 frames a second
      tessel_frame();
    }
    QApplication::processEvents();
  };
  auto log = [&] { return read_file(dir_.file("tessel.log")); };
  frames(200);  // start-up settles
  size_t settled = log().size();
  frames(60 * 1000 / 16);  // a minute
  std::string minute = log().substr(settled);
  EXPECT_LT(minute.size(), 5u * 1024 * 1024 / 60) << minute.substr(0, 2000);
  // Under the general switch alone no meter's value is written at all, however few lines
  // that would be: the frame rate, the transfer rate and the clock.
  for (const char* meter : {" fps", "KB/s", " VRT"})
    EXPECT_EQ(std::string::npos, minute.find(meter)) << meter << " in " << minute.substr(0, 2000);
  // The meters did show their values all along.
  EXPECT_NEAR(62.5, fps_rate(), 2.0);
  bool shown = false;
  for (size_t i = 0; i < status_count(); ++i) shown = shown || bar->text(static_cast<int>(i)).endsWith(" fps");
  EXPECT_TRUE(shown);

  // A status text set every frame is written when it changes, once.
  int pane = status_create(10);
  ASSERT_NE(pane, 0);
  size_t before = log().size();
  for (int i = 0; i < 50; ++i) {
    status_change(pane, "north gate");
    frames(1);
  }
  status_change(pane, "south gate");
  std::string after = log().substr(before);
  auto count = [&](const char* text) {
    int n = 0;
    for (size_t p = after.find(text); p != std::string::npos; p = after.find(text, p + 1)) ++n;
    return n;
  };
  EXPECT_EQ(1, count("north gate")) << after.substr(0, 2000);
  EXPECT_EQ(1, count("south gate"));
  stop();
}

}  // namespace
