// The real Qt main window and splash box under the offscreen platform.
#include <sys/stat.h>

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "client/core/keys.h"
#include "client/ui/keymap.h"
#include "client/ui/qt_host.h"
#include "client/ui/qt_windows.h"
#include "client/ui/screenshot.h"
#include "client/ui/text.h"
#include "client/ui/viewport.h"
#include "spine_fixture.h"
#include "tests/support/qt_app.h"

// The font library keeps caches for the whole process that the leak checker cannot tell apart
// from leaks; they are not ours.
namespace {

QApplication& app() { return testutil::qt_app("spine_qt_tests"); }

int polls = 0;
int auto_at = -1;
int q_update() { return ++polls, 0; }
bool q_connected() { return polls >= 3; }
int q_auto() {
  auto_at = polls;
  return 0;
}
int q_done() { return auto_at >= 0 && polls >= auto_at + 3; }
int q_result() { return 0; }
const FrameLinks qt_links = {q_update, q_connected, nullptr, q_auto, q_done,
                             q_result, nullptr,     nullptr, nullptr};

class QtSpine : public Spine {
 protected:
  QtSpine() : qt_((app(), std::make_unique<QtHost>())) {}
  void SetUp() override {
    Spine::SetUp();
    platform_set_clock(nullptr);  // the real loop runs on the real clock
    host_set(qt_.get());
    polls = 0;
    auto_at = -1;
  }
  void TearDown() override {
    if (tessel_frame_state() != FRAME_SHUT_DOWN) tessel_shutdown(nullptr);
    Spine::TearDown();
  }
  std::unique_ptr<QtHost> qt_;
};

}  // namespace

TEST_F(QtSpine, MainWindowRunsFramesShowsAndGrabs) {
  install();
  ASSERT_TRUE(start());
  frame_set_links(&qt_links);
  ASSERT_NE(qt_->about_widget(), nullptr);
  // The splash may come and go between two polls: its show event is watched instead.
  struct ShowWatch : QObject {
    QtHost* qt = nullptr;
    bool seen = false, main_hidden = true;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Show) {
        seen = true;
        if (qt->main_widget() && qt->main_widget()->isVisible()) main_hidden = false;
      }
      return false;
    }
  } show_watch;
  show_watch.qt = qt_.get();
  qt_->about_widget()->installEventFilter(&show_watch);
  if (qt_->about_widget()->isVisible()) {
    show_watch.seen = true;
    show_watch.main_hidden = !(qt_->main_widget() && qt_->main_widget()->isVisible());
  }
  int running_polls = -1;
  std::string png = dir_.file("window.png");
  bool saved = false;
  QElapsedTimer since_running;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (tessel_frame_state() == FRAME_RUNNING) {
      if (running_polls < 0) {
        running_polls = polls;
        since_running.start();
      } else if (since_running.elapsed() > 300) {
        const mode_t old = umask(0);
        saved = screenshot_save(*qt_, png.c_str());
        umask(old);
        tessel_quit();
      }
    }
  });
  watch.start(5);
  QTimer::singleShot(10000, [] { tessel_quit(); });  // never hang
  qt_->run_loop();
  watch.stop();

  EXPECT_TRUE(show_watch.seen);
  EXPECT_TRUE(show_watch.main_hidden);
  EXPECT_GE(qt_->about_shown_count(), 1);
  EXPECT_EQ(qt_->about_destroyed_count(), 1);  // closed by the 3D start
  EXPECT_FALSE(qt_->about_exists());
  ASSERT_GE(running_polls, 6);
  ASSERT_TRUE(saved);
  struct stat st {};
  ASSERT_EQ(stat(png.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // the person's alone, whatever the umask
  QImage image(QString::fromStdString(png));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.width(), 640);
  EXPECT_EQ(image.height(), 480);
  ASSERT_NE(qt_->main_widget(), nullptr);
  EXPECT_EQ(qt_->main_widget()->windowTitle(), QString("Tessel"));
  tessel_shutdown(nullptr);
  EXPECT_EQ(qt_->main_widget(), nullptr);
}

TEST_F(QtSpine, SplashCancelEndsTheLoopAndTheProgram) {
  install();
  ASSERT_TRUE(start());
  bool clicked = false;
  QTimer::singleShot(200, [this, &clicked] {
    auto* box = qobject_cast<QtAboutBox*>(qt_->about_widget());
    auto* cancel = box ? qobject_cast<QPushButton*>(box->control(ABOUT_CANCEL)) : nullptr;
    if (cancel && cancel->isVisible()) {
      cancel->click();
      clicked = true;
    }
  });
  QTimer::singleShot(10000, [] { tessel_quit(); });
  QElapsedTimer t;
  t.start();
  qt_->run_loop();
  EXPECT_TRUE(clicked);
  EXPECT_LT(t.elapsed(), 5000);
  EXPECT_EQ(tessel_frame_state(), FRAME_SHUT_DOWN);
  EXPECT_EQ(qt_->main_widget(), nullptr);
}

// The splash picture is read as the program's own bitmap reader reads it: an 8-bit file with
// a short palette has its pixels right after the palette, whatever its offset field says.
TEST_F(QtSpine, SplashPictureShowsTheBitmapAsTheBitmapReaderReadsIt) {
  std::string b;
  auto u16 = [&](unsigned v) { b += static_cast<char>(v & 255), b += static_cast<char>(v >> 8 & 255); };
  auto u32 = [&](unsigned v) { u16(v & 0xffff), u16(v >> 16); };
  b += "BM";
  u32(54 + 16 * 4 + 8), u32(0), u32(9999);  // an offset that points nowhere
  u32(40), u32(4), u32(2), u16(1), u16(8), u32(0), u32(8), u32(0), u32(0), u32(16), u32(0);
  for (int i = 0; i < 16; ++i)  // blue, green, red, reserved
    b += std::string{static_cast<char>(7), static_cast<char>(255 - 16 * i), static_cast<char>(16 * i), 0};
  for (int row = 0; row < 2; ++row)  // bottom row first
    for (int x = 0; x < 4; ++x) b += static_cast<char>(x + 4 * row);
  write_file(dir_.file("splash.bmp"), b);

  ASSERT_TRUE(qt_->about_create(nullptr));
  qt_->about_set_picture(dir_.file("splash.bmp").c_str());
  auto* box = qobject_cast<QtAboutBox*>(qt_->about_widget());
  ASSERT_NE(box, nullptr);
  auto* frame = qobject_cast<QLabel*>(box->control(706));
  ASSERT_NE(frame, nullptr);
  QImage shown = frame->pixmap().toImage();
  ASSERT_EQ(shown.size(), QSize(4, 2));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) {
      int i = x + 4 * (1 - y);
      EXPECT_EQ(shown.pixel(x, y) & 0xFFFFFF, static_cast<QRgb>((16 * i) << 16 | (255 - 16 * i) << 8 | 7)) << x << "," << y;
    }
  // Anything the reader does not take shows no picture.
  write_file(dir_.file("splash.bmp"), "BM not a bitmap");
  qt_->about_set_picture(dir_.file("splash.bmp").c_str());
  EXPECT_TRUE(frame->pixmap().isNull());
  qt_->about_destroy();
}

TEST_F(QtSpine, KeysReachTheKeyTablesAsVirtualKeys) {
  install();
  ASSERT_TRUE(start());
  QWidget* w = qt_->main_widget();
  ASSERT_NE(w, nullptr);
  key_reset();
  QKeyEvent press(QEvent::KeyPress, Qt::Key_W, Qt::NoModifier, "w");
  QApplication::sendEvent(w, &press);
  EXPECT_TRUE(qt_->key_down(0x57));
  EXPECT_TRUE(key_pressed(0x57));
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_W, Qt::NoModifier, "w");
  QApplication::sendEvent(w, &release);
  EXPECT_FALSE(qt_->key_down(0x57));
  EXPECT_FALSE(key_pressed(0x57));
}

TEST_F(QtSpine, KioskWindowRefusesToClose) {
  install("[special]\nkiosk=1\n");
  ASSERT_TRUE(start());
  QWidget* w = qt_->main_widget();
  ASSERT_NE(w, nullptr);
  QCloseEvent close;
  QApplication::sendEvent(w, &close);
  EXPECT_NE(qt_->main_widget(), nullptr);
  ASSERT_TRUE(restart("[general]\n"));
  QCloseEvent close2;
  QApplication::sendEvent(qt_->main_widget(), &close2);
  EXPECT_EQ(qt_->main_widget(), nullptr);  // closing destroys the window and ends the loop
  EXPECT_EQ(qt_->run_loop(), 0);
}

TEST(Keymap, QtKeysBecomeVirtualKeyCodes) {
  EXPECT_EQ(keymap_virtual_key(Qt::Key_PageUp, false), 0x21);
  EXPECT_EQ(keymap_virtual_key(Qt::Key_PageDown, false), 0x22);
  EXPECT_EQ(keymap_virtual_key(Qt::Key_Left, false), 0x25);
  EXPECT_EQ(keymap_virtual_key(Qt::Key_Left, true), 0x25);  // pad arrows are the arrows
  EXPECT_EQ(keymap_virtual_key(Qt::Key_Delete, false), 0x2E);
  EXPECT_EQ(keymap_virtual_key(Qt::Key_Plus, true), 0x6B);
  EXPECT_EQ(keymap_virtual_key(Qt::Key_Minus, true), 0x6D);
  EXPECT_EQ(keymap_virtual_key(Qt::Key_Plus, false), 0xBB);
  EXPECT_EQ(keymap_virtual_key(Qt::Key_Minus, false), 0xBD);
  EXPECT_EQ(keymap_virtual_key(Qt::Key_A, false), 0x41);
  EXPECT_EQ(keymap_virtual_key(Qt::Key_Z, false), 0x5A);
  EXPECT_EQ(keymap_virtual_key(Qt::Key_5, true), 0x65);
  EXPECT_EQ(keymap_virtual_key(Qt::Key_5, false), 0x35);
  EXPECT_EQ(keymap_virtual_key(Qt::Key_Exclam, false), 0x31);
  EXPECT_EQ(keymap_virtual_key(Qt::Key_F1, false), 0x70);
  EXPECT_EQ(keymap_virtual_key(Qt::Key_F12, false), 0x7B);
  EXPECT_EQ(keymap_virtual_key(Qt::Key_Shift, false), 0x10);
  EXPECT_EQ(keymap_virtual_key(Qt::Key_Escape, false), 0x1B);
  EXPECT_EQ(keymap_virtual_key(Qt::Key_VolumeUp, false), 0);
}

TEST(QtText, WindowsCodePageBecomesUnicode) {
  EXPECT_EQ(text_to_qt("plain"), QString("plain"));
  EXPECT_EQ(text_to_qt("\x80 \xe9 \x99"), QString::fromUtf8("\u20ac \u00e9 \u2122"));
  EXPECT_EQ(text_to_qt(nullptr), QString());
}

namespace {

int idle_frames = 0;
void count_idle() { ++idle_frames; }

// Runs the host's loop for about ms milliseconds; the idle frames counted meanwhile.
int idle_frames_over(QtHost& qt, int ms) {
  idle_frames = 0;
  QTimer::singleShot(ms, [&qt] { qt.post_quit(0); });
  qt.run_loop();
  return idle_frames;
}

}  // namespace

// Idle frames come at most once per refresh of the screen (an upper bound: a loaded machine
// only draws fewer), none while the window is minimised, and a 0 ms timer is no busy wait.
TEST(QtLoop, IdleFramesAreFewerThanTheScreensRefreshesAndStopWhileMinimised) {
  app();
  QtHost qt;
  ASSERT_TRUE(qt.window_create("t", HostRect{0, 0, 300, 200}, 100, 100,
                               [](const HostEvent&) -> long { return HOST_DEFAULT; }));
  qt.window_show(HOST_SHOW_NORMAL);
  qt.set_idle(count_idle);
  double rate = qt.refresh_rate();
  EXPECT_GE(rate, 1.0);
  int shown = idle_frames_over(qt, 500);
  EXPECT_GE(shown, 1);
  EXPECT_LE(shown, rate / 2 + 2) << "at " << rate << " Hz";

  qt.main_widget()->showMinimized();
  QApplication::processEvents();
  EXPECT_EQ(0, idle_frames_over(qt, 300));
  qt.main_widget()->showNormal();
  QApplication::processEvents();
  EXPECT_GE(idle_frames_over(qt, 300), 1);

  qt.set_foreground(false);
  EXPECT_EQ(0, idle_frames_over(qt, 200));
  qt.set_foreground(true);
  qt.set_idle(nullptr);

  // A 0 ms timer fires about every 10 ms.
  int timer_events = 0;
  static int* counter = nullptr;
  counter = &timer_events;
  QtHost timed;
  ASSERT_TRUE(timed.window_create("t", HostRect{0, 0, 300, 200}, 100, 100, [](const HostEvent& e) -> long {
    if (e.message == HOST_WM_TIMER) ++*counter;
    return HOST_DEFAULT;
  }));
  timed.set_timer(7, 0);
  QTimer::singleShot(300, [&timed] { timed.post_quit(0); });
  timed.run_loop();
  timed.kill_timer(7);
  EXPECT_GE(timer_events, 1);
  EXPECT_LE(timer_events, 31);
}

namespace {

// Idle frames as they come, in nanoseconds of one clock; the program sent to the background
// after the tenth and quit after ten more once back.
struct Pacing {
  QtHost* qt = nullptr;
  QElapsedTimer clock;
  std::vector<qint64> before, after;
  bool back = false;
  int in_background = 0;
};
Pacing* pacing = nullptr;
void paced_frame() {
  Pacing& p = *pacing;
  if (!p.qt) return;
  (p.back ? p.after : p.before).push_back(p.clock.nsecsElapsed());
  if (!p.back && p.before.size() == 10) {
    p.qt->set_foreground(false);
    // Back after a few refreshes, from the running loop.
    QTimer::singleShot(100, [] {
      pacing->back = true;
      pacing->qt->set_foreground(true);
    });
  }
  if (!p.back && p.before.size() > 10) ++p.in_background;
  if (p.after.size() == 10) p.qt->post_quit(0);
}

}  // namespace

// Back in the foreground while its loop runs, the program draws idle frames again without
// entering the loop anew; and no idle frame comes sooner than one refresh after the last.
TEST(QtLoop, IdleFramesComeBackWithTheForegroundAndNeverComeEarly) {
  app();
  QtHost qt;
  ASSERT_TRUE(qt.window_create("t", HostRect{0, 0, 300, 200}, 100, 100,
                               [](const HostEvent&) -> long { return HOST_DEFAULT; }));
  qt.window_show(HOST_SHOW_NORMAL);
  Pacing p;
  p.qt = &qt;
  pacing = &p;
  p.clock.start();
  qt.set_idle(paced_frame);
  // A cap only: the frames end the loop long before it.
  QTimer::singleShot(20000, [&qt] { qt.post_quit(0); });
  qt.run_loop();
  qt.set_idle(nullptr);
  p.qt = nullptr;
  EXPECT_EQ(10u, p.before.size());
  EXPECT_EQ(0, p.in_background);
  ASSERT_EQ(10u, p.after.size()) << "idle frames did not come back with the foreground";
  const qint64 period = static_cast<qint64>(1e9 / qt.refresh_rate());
  for (const auto* run : {&p.before, &p.after})
    for (size_t i = 1; i < run->size(); ++i)
      EXPECT_GE((*run)[i] - (*run)[i - 1], period) << "frame " << i << " at " << qt.refresh_rate() << " Hz";
}

namespace {

// Counts the paints a widget receives.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

}  // namespace

// A frame that shows what the view shows already is not handed on to be drawn (nor the window
// composed) again, whether it comes in palette indexes or, row by row as the display driver
// puts it, in colours; a frame in which something moved is drawn every time.
TEST(QtViewportFrames, AStillFrameIsNotDrawnAgainAndAMovingOneIsDrawnEachTime) {
  app();
  constexpr int kW = 64, kH = 40;
  QWidget window;
  window.resize(kW + 2 * VIEWPORT_EDGE, kH + 2 * VIEWPORT_EDGE);
  QtViewport view(&window);
  view.place(0, 0, kW + 2 * VIEWPORT_EDGE, kH + 2 * VIEWPORT_EDGE);
  uint8_t palette[256 * 3];
  for (int i = 0; i < 256; ++i) {
    palette[3 * i] = static_cast<uint8_t>(i);
    palette[3 * i + 1] = static_cast<uint8_t>(255 - i);
    palette[3 * i + 2] = static_cast<uint8_t>(i * 7);
  }
  view.set_palette(palette);
  window.show();
  PaintCounter counter;
  view.widget()->installEventFilter(&counter);
  auto settle = [] {
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
  };
  settle();

  std::vector<uint8_t> frame(kW * kH, 9);
  auto put_indexed = [&] {
    view.put_indexed(0, 0, kW, kH, frame.data(), kW, nullptr);
    settle();
  };
  auto put_rgb = [&] {
    std::vector<uint8_t> row(kW * 3);
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) std::memcpy(&row[3 * x], palette + 3 * frame[y * kW + x], 3);
      view.put_rgb(0, y, kW, 1, row.data(), kW * 3);
    }
    settle();
  };
  // A block of colour 200 at column x.
  auto block_at = [&](int at) {
    std::fill(frame.begin(), frame.end(), 9);
    for (int y = 10; y < 20; ++y)
      for (int x = at; x < at + 6; ++x) frame[y * kW + x] = 200;
  };

  block_at(0);
  put_indexed();
  int drawn = counter.paints;
  EXPECT_GE(drawn, 1);
  for (int i = 0; i < 10; ++i) put_indexed();
  for (int i = 0; i < 10; ++i) put_rgb();
  EXPECT_EQ(drawn, counter.paints) << "a still view is drawn again";
  EXPECT_EQ(200, view.image().pixelIndex(2, 15));

  for (int i = 1; i <= 10; ++i) {
    block_at(i * 4);
    int before = counter.paints;
    if (i % 2) put_indexed(); else put_rgb();
    EXPECT_GT(counter.paints, before) << "frame " << i << " of a moving block";
    EXPECT_EQ(200, view.image().pixelIndex(i * 4 + 1, 15));
    EXPECT_EQ(9, view.image().pixelIndex(i * 4 - 1, 15));
  }

  // The same indexes in other colours are drawn again.
  int before = counter.paints;
  palette[3 * 200] ^= 0xFF;
  view.put_indexed(0, 0, kW, kH, frame.data(), kW, palette);
  settle();
  EXPECT_GT(counter.paints, before);
}

// A window stored partly left of or above the screen comes back whole into the screen's free
// area at the size it asked for, so its title bar is never out of reach.
TEST(QtPlace, AWindowPartlyOffTheScreenIsPulledBackIntoTheFreeArea) {
  app();
  QScreen* screen = QGuiApplication::primaryScreen();
  ASSERT_NE(screen, nullptr);
  const QRect free = screen->availableGeometry();
  for (HostRect asked : {HostRect{free.x() - 200, free.y() + 40, 400, 300}, HostRect{free.x() + 40, free.y() - 150, 400, 300},
                         HostRect{free.x() - 50, free.y() - 60, 400, 300}}) {
    QtHost qt;
    ASSERT_TRUE(qt.window_create("t", asked, 100, 100, [](const HostEvent&) -> long { return HOST_DEFAULT; }));
    qt.window_show(HOST_SHOW_NORMAL);
    QApplication::processEvents();
    HostRect r = qt.window_rect();
    EXPECT_TRUE(free.contains(QRect(r.x, r.y, r.width, r.height)))
        << asked.x << "," << asked.y << " gave " << r.x << "," << r.y << " " << r.width << "x" << r.height;
    EXPECT_EQ(r.width, 400);
    EXPECT_EQ(r.height, 300);
  }
}
