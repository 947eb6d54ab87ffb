#include "client/ui/qt_windows.h"

#include <QAction>
#include <QChildEvent>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QVBoxLayout>

#include "client/ui/keymap.h"
#include "client/ui/menu.h"
#include "client/ui/qt_host.h"
#include "client/ui/text.h"
#include "platform/host.h"

QtMainWindow::QtMainWindow(QtHost* host) : QWidget(nullptr), host_(host) {
  setObjectName("Halcyra");
  setFocusPolicy(Qt::StrongFocus);
  setAutoFillBackground(true);
  // Menu items and accelerators reach the window procedure as commands.
  menu_ = new QtMenuBar(
      this,
      [](int id, void* user) {
        static_cast<QtHost*>(user)->send(HostEvent{HOST_WM_COMMAND, id, 0, 0});
      },
      host_);
  connect(menu_, &QtMenuBar::rebuilt, this, [this] {
    if (client_top() != last_top_) lay_out_client();
  });
}

void QtMainWindow::moveEvent(QMoveEvent*) {
  host_->send(HostEvent{HOST_WM_MOVE, 0, geometry().x(), geometry().y()});
}

// A bar with nothing to show (no menus made yet, or no title texts) takes no room.
int QtMainWindow::client_top() const {
  if (!menu_) return 0;
  for (QAction* a : menu_->actions())
    if (a->isVisible()) return menu_->sizeHint().height();
  return 0;
}

void QtMainWindow::resizeEvent(QResizeEvent*) { lay_out_client(); }

void QtMainWindow::lay_out_client() {
  int top = client_top();
  last_top_ = top;
  menu_->setGeometry(0, 0, width(), top);
  menu_->raise();
  // The bar's height may have changed: the panes keep their client positions.
  for (QObject* o : children()) {
    auto* w = qobject_cast<QWidget*>(o);
    if (!w || w == menu_ || w->isWindow() || !w->property("client_y").isValid()) continue;
    place(w, w->property("client_y").toInt());
  }
  int kind = isMaximized() ? HOST_SIZE_MAXIMIZED : HOST_SIZE_RESTORED;
  host_->send(HostEvent{HOST_WM_SIZE, kind, width(), height() - top});
}

void QtMainWindow::childEvent(QChildEvent* event) {
  QWidget::childEvent(event);
  if (event->type() == QEvent::ChildAdded && event->child()->isWidgetType())
    event->child()->installEventFilter(this);
}

// A pane at client y, below the bar. A hidden pane gets its move event when shown: that one
// is ours too.
void QtMainWindow::place(QWidget* w, int client_y) {
  int y = client_y + client_top();
  w->setProperty("client_y", client_y);
  w->setProperty("placed_y", y);
  w->setProperty("move_pending", !w->isVisible());
  shifting_ = true;
  w->move(w->x(), y);
  shifting_ = false;
}

// The layout places the panes in client coordinates; each placement is moved down by the
// bar's height here.
bool QtMainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Move && !shifting_ && watched != menu_ &&
      watched->parent() == this) {
    auto* w = static_cast<QWidget*>(watched);
    if (!w->isWindow() && !qobject_cast<QMenuBar*>(w)) {
      QVariant placed = w->property("placed_y");
      bool ours = placed.isValid() && placed.toInt() == w->y() &&
                  w->property("move_pending").toBool();
      w->setProperty("move_pending", false);
      if (!ours) place(w, w->y());
    }
  }
  return QWidget::eventFilter(watched, event);
}

void QtMainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !isMinimized()) return;
  // The window system minimised us: the kiosk filter may refuse it.
  long r = host_->send(HostEvent{HOST_WM_SYSCOMMAND, HOST_SC_MINIMIZE, 0, 0});
  if (r == 0 && !destroying) {
    QTimer::singleShot(0, this, [this] { showNormal(); });
    return;
  }
  host_->send(HostEvent{HOST_WM_SIZE, HOST_SIZE_MINIMIZED, width(), height()});
}

void QtMainWindow::closeEvent(QCloseEvent* event) {
  if (destroying) {
    event->accept();
    return;
  }
  // Closing goes through the procedure; the default handling destroys the window.
  event->ignore();
  host_->send(HostEvent{HOST_WM_SYSCOMMAND, HOST_SC_CLOSE, 0, 0});
}

void QtMainWindow::keyPressEvent(QKeyEvent* event) {
  bool keypad = event->modifiers() & Qt::KeypadModifier;
  int vk = keymap_virtual_key(event->key(), keypad);
  bool alt = event->modifiers() & Qt::AltModifier;
  if (vk) {
    host_->key_event(vk, true);
    host_->send(HostEvent{alt ? HOST_WM_SYSKEYDOWN : HOST_WM_KEYDOWN, vk, 0, 0});
  }
  if (alt) return;
  for (QChar c : event->text()) {
    int code = c.unicode();
    if (code > 0 && code < 256) host_->send(HostEvent{HOST_WM_CHAR, code, 0, 0});
  }
}

void QtMainWindow::keyReleaseEvent(QKeyEvent* event) {
  if (event->isAutoRepeat()) return;
  bool keypad = event->modifiers() & Qt::KeypadModifier;
  int vk = keymap_virtual_key(event->key(), keypad);
  if (!vk) return;
  host_->key_event(vk, false);
  bool alt = event->modifiers() & Qt::AltModifier;
  host_->send(HostEvent{alt ? HOST_WM_SYSKEYUP : HOST_WM_KEYUP, vk, 0, 0});
}

void QtMainWindow::focusOutEvent(QFocusEvent*) {
  host_->send(HostEvent{HOST_WM_KILLFOCUS, 0, 0, 0});
}

// The buttons count as held keys too (virtual-key codes 1 and 2): movement reads them.
static int button_code(Qt::MouseButton button) { return button == Qt::RightButton ? 0x02 : button == Qt::LeftButton ? 0x01 : 0; }

void QtMainWindow::mousePressEvent(QMouseEvent* event) {
  if (int code = button_code(event->button())) host_->key_event(code, true);
  int m = event->button() == Qt::RightButton ? HOST_WM_RBUTTONDOWN : HOST_WM_LBUTTONDOWN;
  host_->send(HostEvent{m, 0, event->position().toPoint().x(),
                        event->position().toPoint().y() - client_top()});
}

void QtMainWindow::mouseReleaseEvent(QMouseEvent* event) {
  if (int code = button_code(event->button())) host_->key_event(code, false);
  if (event->button() != Qt::LeftButton) return;
  host_->send(HostEvent{HOST_WM_LBUTTONUP, 0, event->position().toPoint().x(),
                        event->position().toPoint().y() - client_top()});
}

void QtMainWindow::mouseDoubleClickEvent(QMouseEvent* event) {
  host_->send(HostEvent{HOST_WM_LBUTTONDBLCLK, 0, event->position().toPoint().x(),
                        event->position().toPoint().y() - client_top()});
}

void QtMainWindow::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  host_->send(HostEvent{HOST_WM_PAINT, 0, 0, 0});
}

QtAboutBox::QtAboutBox(Command command) : QWidget(nullptr), command_(command) {
  setObjectName("about_602");
  setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  setAutoFillBackground(true);
  setFixedSize(400, 300);
  auto* outer = new QVBoxLayout(this);
  picture_ = new QLabel;
  picture_->setFixedSize(376, 140);
  picture_->setAlignment(Qt::AlignCenter);
  picture_->setFrameShape(QFrame::Panel);
  picture_->setFrameShadow(QFrame::Sunken);
  outer->addWidget(picture_);
  auto* version = text_label();
  auto* build = text_label();
  auto* status = text_label();
  status->setWordWrap(true);
  status->setMinimumHeight(2 * status->fontMetrics().height());
  auto* credit = new QLabel(QStringLiteral("Built by the tessel project."));
  outer->addWidget(version);
  outer->addWidget(build);
  outer->addWidget(status);
  outer->addWidget(credit);
  auto* row = new QHBoxLayout;
  row->addStretch();
  auto* ok = new QPushButton(QStringLiteral("OK"));
  auto* cancel = new QPushButton(QStringLiteral("Cancel"));
  row->addWidget(ok);
  row->addWidget(cancel);
  outer->addLayout(row);
  controls_ = {{706, picture_}, {701, version}, {703, build}, {702, status}, {1, ok}, {705, cancel}};
  connect(ok, &QPushButton::clicked, this, [this] { if (command_) command_(1); });
  connect(cancel, &QPushButton::clicked, this, [this] { if (command_) command_(705); });
}

QWidget* QtAboutBox::control(int id) {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

void QtAboutBox::set_text(int id, const QString& text) {
  QWidget* w = control(id);
  if (auto* label = qobject_cast<QLabel*>(w))
    label->setText(text);
  else if (auto* button = qobject_cast<QPushButton*>(w))
    button->setText(text);
}

void QtAboutBox::show_control(int id, bool shown) {
  if (QWidget* w = control(id)) w->setVisible(shown);
}

void QtAboutBox::set_picture(const QImage& image) {
  if (image.isNull()) {
    picture_->setPixmap(QPixmap());
    return;
  }
  // Centred when smaller than the frame, cut to the frame when larger.
  QSize frame = picture_->contentsRect().size();
  QImage shown = image.copy(QRect(QPoint(0, 0), image.size().boundedTo(frame)));
  picture_->setPixmap(QPixmap::fromImage(shown));
}
