// The upgrade window offscreen: its status lines and the bar painted over frame 3.
#include <QApplication>
#include <QEventLoop>
#include <QImage>
#include <QFontInfo>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

#include <ctime>

#include <gtest/gtest.h>

#include "client/shell/font.h"
#include "client/ui/fonts.h"
#include "upgrade/window.h"
#include "tests/support/qt_app.h"

namespace {

QApplication& app() { return testutil::qt_app("upgrade_tests"); }

bool is_bar(QRgb c) { return qRed(c) == 0 && qGreen(c) == 0 && qBlue(c) == 130; }

TEST(UpgradeWindow, BarFillsFrameThreeUntilTheAreaIsRedrawn) {
  app();
  upgrade::QtUpgradeView view;
  ASSERT_TRUE(view.create());
  view.show();
  view.set_status_line(1, "Receiving upgrade (97K)");
  EXPECT_STREQ(view.status_line(1), "Receiving upgrade (97K)");

  view.draw_bar(132);  // half
  QApplication::processEvents();
  QImage shot = view.grab();
  ASSERT_EQ(shot.width(), 300);
  EXPECT_TRUE(is_bar(shot.pixel(15, 115)));
  EXPECT_TRUE(is_bar(shot.pixel(146, 134)));
  EXPECT_FALSE(is_bar(shot.pixel(148, 125)));
  EXPECT_FALSE(is_bar(shot.pixel(15, 136)));

  view.draw_bar(265);
  QApplication::processEvents();
  shot = view.grab();
  EXPECT_TRUE(is_bar(shot.pixel(279, 120)));
  EXPECT_FALSE(is_bar(shot.pixel(281, 120)));

  view.redraw_progress_area();
  QApplication::processEvents();
  shot = view.grab();
  EXPECT_FALSE(is_bar(shot.pixel(15, 115)));
  EXPECT_FALSE(is_bar(shot.pixel(200, 125)));

  view.destroy();
  EXPECT_FALSE(view.exists());
}

// The labels and status lines are drawn in Arial 11 pixels high, the frames carry no text.
TEST(UpgradeWindow, LabelsAndStatusLinesUseTheInterfaceFont) {
  app();
  fonts_qt_install();
  ASSERT_EQ(1, font_init());
  upgrade::QtUpgradeView view;
  ASSERT_TRUE(view.create());
  view.show();
  view.set_status_line(2, "starting");
  QWidget* window = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->windowTitle() == "Veldara Upgrade" && w->isVisible()) window = w;
  ASSERT_NE(nullptr, window);
  int texts = 0;
  for (QLabel* label : window->findChildren<QLabel*>()) {
    if (label->frameShape() != QFrame::NoFrame) continue;
    ++texts;
    EXPECT_EQ(11, label->font().pixelSize()) << label->text().toStdString();
    EXPECT_EQ("Liberation Sans", QFontInfo(label->font()).family().toStdString());
    EXPECT_FALSE(label->font().bold());
  }
  EXPECT_EQ(4, texts);  // "0%", "100%" and the two status lines
  view.destroy();
  font_reset();
}

// Texts from the kit, the library and the server are shown as they are: markup stays
// visible characters, control bytes become replacement marks.
TEST(UpgradeWindow, OutsideTextsAreShownAsPlainText) {
  app();
  upgrade::QtUpgradeView view;
  ASSERT_TRUE(view.create());
  view.show();
  view.set_status_line(2, "Updating <b>x</b>\x1b[2J\x07");
  const QString expected = QString("Updating <b>x</b>") + QChar::ReplacementCharacter + "[2J" + QChar::ReplacementCharacter;
  QLabel* line = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->windowTitle() == "Veldara Upgrade" && w->isVisible())
      for (QLabel* label : w->findChildren<QLabel*>())
        if (label->text().startsWith("Updating")) line = label;
  ASSERT_NE(nullptr, line);
  EXPECT_EQ(Qt::PlainText, line->textFormat());
  EXPECT_EQ(expected, line->text());

  // The box is looked at while it is up, then closed.
  Qt::TextFormat format = Qt::RichText;
  QString shown;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
        format = box->textFormat();
        shown = box->text();
        box->done(QMessageBox::Ok);
      }
  });
  look.start(10);
  view.message_box("The upgrade kit is refused: <img src=\"file:///etc/passwd\">\x01", "Upgrade", 0x10);
  look.stop();
  EXPECT_EQ(Qt::PlainText, format);
  EXPECT_EQ(QString("The upgrade kit is refused: <img src=\"file:///etc/passwd\">") + QChar::ReplacementCharacter, shown);
  view.destroy();
}

double process_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

// While it waits (here: with nothing to do at each step) the window's timer must not spin.
TEST(UpgradeWindow, WaitingWithTheTimerOnLeavesTheProcessorAlone) {
  app();
  upgrade::QtUpgradeView view;
  ASSERT_TRUE(view.create());
  view.start_timer();
  QEventLoop loop;
  QTimer::singleShot(5000, &loop, &QEventLoop::quit);
  const double before = process_seconds();
  loop.exec();
  const double used = process_seconds() - before;
  view.kill_timer();
  view.destroy();
  EXPECT_LT(used, 0.2 * 5.0) << used << " s of processor time in 5 s";
}

}  // namespace
