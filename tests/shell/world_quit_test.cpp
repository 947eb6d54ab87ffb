// A termination signal while a menu is open, in a program of its own (the program starts
// once per process).
#include <signal.h>
#include <unistd.h>

#include "client/ui/quit_signals.h"
#include "platform/signals.h"
#include "world_avatar.h"

using namespace world_env;

namespace {

// A termination signal (the desktop session ending) while the menu over an avatar is open:
// the menu closes, nothing on it is chosen, and the program ends as when its window is
// closed, its stores closed clean (the world's cell pair not left marked as being updated,
// which the next start would take for damage and empty).
TEST_F(WorldAvatar, ATerminationSignalWhileAMenuIsOpenClosesItAndEndsInOrder) {
  ASSERT_NO_FATAL_FAILURE(give_avatars_a_model());
  quit_signals_qt_install(*qt_);
  bool clicked = false, shown = false, left_open = false;
  QTimer user, watch, closer;
  user.setInterval(5);
  QObject::connect(&user, &QTimer::timeout, [&] {
    avatar_record* bob = bob_drawn();
    int hx = 0, hy = 0, mx = 0, my = 0;
    if (clicked || !bob || !points_of(bob, &hx, &hy, &mx, &my)) return;
    clicked = true;
    user.stop();
    // The menu's own loop runs inside the click.
    right_click(hx, hy);
  });
  // Meanwhile the signal comes.
  watch.setInterval(5);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (!qobject_cast<QMenu*>(QApplication::activePopupWidget())) return;
    shown = true;
    watch.stop();
    kill(getpid(), SIGTERM);
    closer.start();
  });
  // Nothing else closes it: were it left open, the program would never end.
  closer.setSingleShot(true);
  closer.setInterval(testutil::kWaitMs);
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (QWidget* still = QApplication::activePopupWidget()) {
      left_open = true;
      still->close();
    }
  });
  user.start();
  watch.start();
  EXPECT_EQ(0, tessel_main("", HOST_SHOW_NORMAL));
  closer.stop();
  signals_unwatch();
  ASSERT_TRUE(shown) << "the menu over bob never opened";
  EXPECT_FALSE(left_open);
  EXPECT_EQ(FRAME_SHUT_DOWN, tessel_frame_state());
  EXPECT_FALSE(avatar_muted(2));
  for (const char* file : {"cell.dat", "cell.idx"}) {
    std::vector<uint8_t> bytes = testutil::slurp(dir_.file("cache/property/demo/") + file);
    ASSERT_GT(bytes.size(), 56u) << file;
    EXPECT_EQ(0, bytes[56]) << file << " is marked as being updated";
  }
}

}  // namespace
