// The busy logo in the running program: its window against the right edge under the menu
// bar, and its frames turning every 100 ms while no world is connected.
#include <QImage>

#include "client/shell/logo.h"
#include "platform/clock.h"
#include "tests/shell/shell_fixture.h"

namespace {

uint32_t logo_now = 0;
uint32_t logo_clock() { return logo_now; }

class LogoTest : public ShellTest {
 protected:
  void TearDown() override {
    platform_set_clock(nullptr);
    ShellTest::TearDown();
  }
  QtLogo* logo() { return child<QtLogo>("Veldara Logo"); }
  // One frame of the program after ms milliseconds.
  void after(uint32_t ms) {
    logo_now += ms;
    tessel_frame();
  }
};

TEST_F(LogoTest, SitsInTheTopRightCornerAndFollowsTheWidth) {
  ASSERT_NO_FATAL_FAILURE(start_to_running());
  QtLogo* l = logo();
  ASSERT_NE(l, nullptr);
  EXPECT_TRUE(l->isVisible());
  int client_top = static_cast<QtMainWindow*>(main())->client_top();
  EXPECT_EQ(l->width(), 46);
  EXPECT_EQ(l->height(), 46);
  EXPECT_EQ(l->x(), main()->width() - 46);
  EXPECT_EQ(l->y() - client_top, 3);
  tessel_layout(500, 400);
  EXPECT_EQ(l->x(), 500 - 46);
  EXPECT_EQ(l->y() - client_top, 3);
  // It stays over the toolbar's right end rather than under it.
  QWidget* bar = child<QWidget>("toolbar");
  ASSERT_NE(bar, nullptr);
  const QObjectList& kids = main()->children();
  EXPECT_GT(kids.indexOf(l), kids.indexOf(bar));
  // Every frame ships, and they differ from one another.
  for (int i = 0; i < LOGO_FRAMES; ++i) {
    SCOPED_TRACE(i);
    ASSERT_FALSE(l->pixmap(i).isNull());
    EXPECT_EQ(l->pixmap(i).width(), 46);
    EXPECT_NE(l->pixmap(i).toImage(), l->pixmap((i + 1) % LOGO_FRAMES).toImage());
  }
}

TEST_F(LogoTest, TurnsEveryHundredMillisecondsWithoutAWorld) {
  ASSERT_NO_FATAL_FAILURE(start_to_running());
  QtLogo* l = logo();
  ASSERT_NE(l, nullptr);
  ASSERT_TRUE(logo_busy());  // no world connection
  // A clock well past the program's own, so the first frame of it is a step.
  logo_now = platform_ticks() + 1000;
  platform_set_clock(logo_clock);
  after(0);
  int first = l->frame();
  EXPECT_EQ(first, logo_frame());
  EXPECT_FALSE(logo_idle_drawn());
  int shown = l->shown_count();
  // Within the 100 ms nothing moves; at 100 ms the next frame shows at once.
  after(60);
  after(39);
  EXPECT_EQ(l->frame(), first);
  EXPECT_EQ(l->shown_count(), shown);
  after(1);
  EXPECT_EQ(l->frame(), (first + 1) % LOGO_FRAMES);
  EXPECT_EQ(l->shown_count(), shown + 1);
  // A slow frame moves one step, not the ones it missed; 24 steps come round again.
  after(450);
  EXPECT_EQ(l->frame(), (first + 2) % LOGO_FRAMES);
  for (int i = 0; i < LOGO_FRAMES - 2; ++i) after(100);
  EXPECT_EQ(l->frame(), first);
  EXPECT_EQ(l->shown_count(), shown + LOGO_FRAMES);
}

}  // namespace
