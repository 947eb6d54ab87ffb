#include "upgrade/window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <string>

#include "client/shell/font.h"
#include "client/ui/fonts.h"
#include "client/ui/qt_dialog.h"

namespace upgrade {

namespace {

// The window; the bar lives in an overlay image over frame 3 so that it stays until the
// progress area is redrawn, as a bar drawn straight onto the window would.
class Window : public QWidget {
 public:
  Window() : overlay_(300, 180, QImage::Format_ARGB32_Premultiplied) { overlay_.fill(Qt::transparent); }
  void fill_bar(int width) {
    QPainter p(&overlay_);
    // The pen and the brush have the bar's colour: blue 130.
    QColor colour(BAR_COLOUR & 0xFF, (BAR_COLOUR >> 8) & 0xFF, (BAR_COLOUR >> 16) & 0xFF);
    int left = 15, right = 15 + width;
    if (right < left) std::swap(left, right);
    p.fillRect(QRect(QPoint(left, 115), QPoint(right - 1, 134)), colour);
    update();
  }
  void clear_area() {
    QPainter p(&overlay_);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.fillRect(QRect(QPoint(10, 110), QPoint(289, 139)), Qt::transparent);
    update();
  }
  void (*on_destroyed)() = nullptr;

 protected:
  void closeEvent(QCloseEvent* e) override {
    e->accept();
    if (on_destroyed) on_destroyed();
  }

 public:
  QImage overlay_;
};

// A transparent child over the whole window that shows the bar image above the frames.
class BarLayer : public QWidget {
 public:
  explicit BarLayer(Window* w) : QWidget(w), window_(w) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(0, 0, 300, 180);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.drawImage(0, 0, window_->overlay_);
  }

 private:
  Window* window_;
};

// The texts name files of the kit and carry the library's and the server's words: shown as
// they are, never as markup, with control bytes made visible as replacement marks.
QString plain_text(const char* text) {
  QString s = qt_from_bytes(text ? text : "");
  for (QChar& c : s)
    if (c.category() == QChar::Other_Control) c = QChar::ReplacementCharacter;
  return s;
}

}  // namespace

struct QtUpgradeView::Parts {
  QPointer<Window> window;
  QLabel* lines[2] = {nullptr, nullptr};
  BarLayer* bar = nullptr;
  QTimer timer;
  std::string texts[2];
};

QtUpgradeView::QtUpgradeView() : parts_(new Parts) {
  // A window timer asked for 0 ms fires at the platform's floor of about 10 ms; a real 0 would
  // spin a core for as long as the wait for tessel lasts.
  parts_->timer.setInterval(10);
  QObject::connect(&parts_->timer, &QTimer::timeout, [] { upgrade_step(); });
}

QtUpgradeView::~QtUpgradeView() { delete parts_->window; }

bool QtUpgradeView::create() {
  auto* w = new Window;
  w->setWindowTitle("Veldara Upgrade");
  w->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
  w->setGeometry(100, 100, 300, 180);
  w->setFixedSize(300, 180);
  w->on_destroyed = upgrade_window_destroyed;
  // The frames draw no text; the labels and status lines are in the interface's font.
  struct Child { int x, y, w, h; bool frame; const char* text; } const children[] = {
      {10, 10, 275, 30, true, ""},  {10, 50, 275, 30, true, ""}, {10, 110, 275, 30, true, ""},
      {10, 90, 30, 20, false, "0%"}, {260, 90, 30, 20, false, "100%"},
      {20, 17, 260, 20, false, ""}, {20, 57, 260, 20, false, ""},
  };
  QFont normal = qt_font(font_normal());
  int index = 0;
  for (const Child& c : children) {
    auto* label = new QLabel(QString::fromLatin1(c.text), w);
    label->setGeometry(c.x, c.y, c.w, c.h);
    label->setTextFormat(Qt::PlainText);
    if (c.frame)
      label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    else
      label->setFont(normal);
    if (index == 5) parts_->lines[0] = label;
    if (index == 6) parts_->lines[1] = label;
    ++index;
  }
  parts_->bar = new BarLayer(w);
  parts_->bar->raise();
  parts_->window = w;
  return true;
}

void QtUpgradeView::show() {
  if (parts_->window) parts_->window->show();
}

void QtUpgradeView::set_status_line(int line, const char* text) {
  if (line < 1 || line > 2) return;
  parts_->texts[line - 1] = text ? text : "";
  if (parts_->lines[line - 1] && parts_->window)
    parts_->lines[line - 1]->setText(plain_text(parts_->texts[line - 1].c_str()));
}

void QtUpgradeView::draw_bar(int width) {
  if (parts_->window) parts_->window->fill_bar(width);
}

void QtUpgradeView::redraw_progress_area() {
  if (parts_->window) parts_->window->clear_area();
}

void QtUpgradeView::message_box(const char* text, const char* title, unsigned) {
  QMessageBox box(QMessageBox::Critical, plain_text(title), plain_text(text), QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void QtUpgradeView::destroy() {
  if (!parts_->window) return;
  Window* w = parts_->window;
  parts_->window = nullptr;
  parts_->lines[0] = parts_->lines[1] = nullptr;
  w->hide();
  w->deleteLater();
  upgrade_window_destroyed();
}

void QtUpgradeView::start_timer() { parts_->timer.start(); }
void QtUpgradeView::kill_timer() { parts_->timer.stop(); }
void QtUpgradeView::post_quit(int code) { QCoreApplication::exit(code); }
void QtUpgradeView::pump() { QCoreApplication::processEvents(QEventLoop::AllEvents); }
int QtUpgradeView::run() { return QApplication::exec(); }

QImage QtUpgradeView::grab() {
  if (!parts_->window) return QImage();
  return parts_->window->grab().toImage();
}

const char* QtUpgradeView::status_line(int line) const {
  return (line == 1 || line == 2) ? parts_->texts[line - 1].c_str() : "";
}

bool QtUpgradeView::exists() const { return !parts_->window.isNull(); }

}  // namespace upgrade
