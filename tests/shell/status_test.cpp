// The status bar of the running program: its panes' widths by weight, the panes the Show
// menu adds and removes, and where the bar sits.
#include "client/scene/visible.h"
#include "client/shell/font.h"
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

}  // namespace
