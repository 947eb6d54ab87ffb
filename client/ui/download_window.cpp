#include "client/ui/download_window.h"

#include <QCloseEvent>
#include <QFrame>
#include <QFontMetrics>
#include <QMoveEvent>
#include <QPainter>
#include <QPointer>

#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/ui/qt_dialog.h"
#include "client/ui/qt_host.h"

namespace {

QtHost* main_host = nullptr;
QPointer<QtDownloadWindow> window;
bool placing = false;  // moves made by the program are not the user's

QFont bold_font() {
  QFont f("Arial");
  f.setPixelSize(11);
  f.setWeight(QFont::Bold);
  return f;
}

int text_width(const char* text) { return QFontMetrics(bold_font()).horizontalAdvance(qt_from_bytes(text)); }

void create() {
  if (window) return;
  QWidget* main = main_host ? main_host->main_widget() : nullptr;
  window = new QtDownloadWindow(main);
  int x = layout_setting("download_x");
  int y = layout_setting("download_y");
  if (x == -1) {
    QPoint corner = main ? main->frameGeometry().topLeft() : QPoint(0, 0);
    x = corner.x() + 50;
    y = corner.y() + 50;
  }
  placing = true;
  window->move(x, y);
  placing = false;
}

class View : public DownloadView {
 public:
  void show(bool shown) override {
    if (shown) {
      create();
      window->show();
      // The keyboard stays with the main window.
      if (main_host && main_host->main_widget()) main_host->main_widget()->activateWindow();
    } else if (window) {
      window->hide();
    }
  }
  void repaint() override {
    create();
    if (!window->isVisible()) window->show();
    window->update(18, 20, 242, 65);
  }
};
View view;

}  // namespace

QtDownloadWindow::QtDownloadWindow(QWidget* parent) : QWidget(parent, Qt::Tool) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  setWindowTitle(QStringLiteral("Downloads"));
  setFixedSize(280, 105);
  auto* frame = new QFrame(this);
  frame->setFrameStyle(QFrame::Box | QFrame::Plain);
  frame->setGeometry(10, 10, 255, 60);
}

void QtDownloadWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setFont(bold_font());
  p.setPen(palette().color(QPalette::WindowText));
  QFontMetrics m(p.font());
  for (int slot = 0; slot < DOWNLOAD_SLOTS; ++slot) {
    char label[64];
    const char* state = nullptr;
    if (!download_line(slot, text_width, label, sizeof label, &state)) continue;
    int base = 18 + 15 * slot + m.ascent();
    p.drawText(20, base, qt_from_bytes(label));
    p.drawText(150, base, qt_from_bytes(state ? state : ""));
  }
}

void QtDownloadWindow::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (placing || !isVisible()) return;
  profile_set_int("layout", "download_x", frameGeometry().x());
  profile_set_int("layout", "download_y", frameGeometry().y());
}

void QtDownloadWindow::closeEvent(QCloseEvent* event) {
  // The close box is the menu's toggle: the window hides and the setting follows.
  event->ignore();
  download_toggle();
}

void download_window_qt_install(QtHost& h) {
  main_host = &h;
  download_set_view(&view);
}

QtDownloadWindow* download_window() { return window; }
