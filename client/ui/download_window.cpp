#include "client/ui/download_window.h"

#include <QCloseEvent>
#include <QFrame>
#include <QFontMetrics>
#include <QLabel>
#include <QMoveEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

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

// Closing is the menu's command, so that the menu's check follows too.
void close_window() {
  bool shown = download_shown();
  if (main_host) main_host->send(HostEvent{HOST_WM_COMMAND, 123, 0, 0});  // the Downloads item
  if (download_shown() == shown) download_toggle();  // no window procedure took it
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
    window->update_lines();
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
  // Without a window manager's frame the window still names itself and can be closed.
  caption_ = new QLabel(QStringLiteral("Downloads"), this);
  caption_->setObjectName("caption");
  caption_->setFont(bold_font());
  caption_->setGeometry(12, 76, 150, 22);
  idle_ = new QLabel(QStringLiteral("Nothing is downloading."), this);
  idle_->setObjectName("idle");
  idle_->setGeometry(20, 18, 240, 15);
  close_ = new QPushButton(QStringLiteral("Close"), this);
  close_->setObjectName("close");
  close_->setFocusPolicy(Qt::NoFocus);
  close_->setGeometry(190, 75, 75, 24);
  connect(close_, &QPushButton::clicked, this, [] { close_window(); });
  // A running transfer's state changes without a request finishing: the lines follow it.
  auto* refresh = new QTimer(this);
  connect(refresh, &QTimer::timeout, this, [this] {
    if (isVisible()) update_lines();
  });
  refresh->start(500);
  update_lines();
}

bool QtDownloadWindow::idle() const { return !busy_; }

void QtDownloadWindow::update_lines() {
  bool busy = false;
  for (int slot = 0; slot < DOWNLOAD_SLOTS; ++slot) busy |= download_line(slot, nullptr, nullptr, 0, nullptr);
  busy_ = busy;
  idle_->setVisible(!busy);
  update(18, 18, 244, 52);
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
  close_window();
}

void download_window_qt_install(QtHost& h) {
  main_host = &h;
  download_set_view(&view);
}

QtDownloadWindow* download_window() { return window; }
