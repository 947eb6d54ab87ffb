#include "client/ui/logo_view.h"

#include <QPainter>

#include "client/ui/qt_host.h"
#include "client/ui/qt_main_child.h"

namespace {

QtHost* logo_host = nullptr;

LogoView* make_logo() {
  return qt_main_child_shown<QtLogo>(logo_host);
}

}  // namespace

QtLogo::QtLogo(QWidget* parent) : QFrame(parent) {
  setObjectName("Veldara Logo");
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(2);
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Button);
  setCursor(Qt::ArrowCursor);
  frames_.reserve(LOGO_FRAMES);
  for (int i = 0; i < LOGO_FRAMES; ++i)
    frames_.emplace_back(QString(":/images/logo%1.png").arg(i, 2, 10, QChar('0')));
  resize(LOGO_SIZE, LOGO_SIZE);
}

QtLogo::~QtLogo() { logo_view_destroyed(this); }

void QtLogo::move(int x, int y, int width, int height) {
  setGeometry(x, y, width, height);
  raise();  // over the toolbar's right end
}

void QtLogo::show_frame(int index) {
  if (index < 0 || index >= LOGO_FRAMES) return;
  frame_ = index;
  ++shown_;
  repaint();
}

void QtLogo::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  const QPixmap& p = frames_[static_cast<size_t>(frame_)];
  if (p.isNull()) return;
  // The inside of the border shows the middle of the frame.
  QRect inside = contentsRect();
  QRect from((p.width() - inside.width()) / 2, (p.height() - inside.height()) / 2, inside.width(),
             inside.height());
  QPainter(this).drawPixmap(inside, p, from);
}

void logo_view_qt_install(QtHost& host) {
  logo_host = &host;
  logo_set_view_maker(make_logo);
}
