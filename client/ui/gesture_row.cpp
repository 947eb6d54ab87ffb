#include "client/ui/gesture_row.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>

#include "client/scene/display_viewport.h"
#include "client/servers/signup.h"
#include "client/shell/font.h"
#include "client/ui/fonts.h"
#include "client/ui/qt_dialog.h"
#include "client/ui/qt_host.h"
#include "client/ui/qt_main_child.h"
#include "client/ui/viewport.h"

namespace {

QtGestureRow* row = nullptr;
QtPointer* pointer = nullptr;

// A bold push button that sends the sign-up command to the main window.
class QtRegisterButton : public RegisterButtonView {
 public:
  QtRegisterButton(QWidget* parent, QtHost* host) : button_(new QPushButton(parent)) {
    QFont f = button_->font();
    f.setBold(true);
    button_->setFont(f);
    button_->setObjectName(QString("command %1").arg(REGISTER_COMMAND));
    button_->setFocusPolicy(Qt::NoFocus);
    QObject::connect(button_, &QPushButton::clicked, button_, [host] {
      if (host) host->send(HostEvent{HOST_WM_COMMAND, REGISTER_COMMAND, 0, 0});
    });
    button_->show();
  }
  ~QtRegisterButton() override { delete button_.data(); }
  void set_caption(const char* text) override {
    if (button_) button_->setText(qt_from_bytes(text));
  }
  void place(int x, int y, int width, int height) override {
    if (button_) button_->setGeometry(x, y, width, height);
  }

 private:
  QPointer<QPushButton> button_;  // goes with the main window when that goes first
};

}  // namespace

QtGestureRow::QtGestureRow(QtHost* host) : host_(host) {}

void QtGestureRow::clear() {
  for (auto& b : buttons_) delete b.data();
  buttons_.clear();
}

int QtGestureRow::text_width(const char* label) {
  QString text = qt_from_bytes(label);
  text.remove('&');
  return QFontMetrics(qt_font(font_normal())).horizontalAdvance(text);
}

void QtGestureRow::add(int x, int y, int width, int height, const char* label, int id) {
  QWidget* main = host_ ? host_->main_widget() : nullptr;
  if (!main) return;
  auto* b = new QPushButton(qt_from_bytes(label), main);
  b->setObjectName(QString("gesture %1").arg(id));
  b->setFont(qt_font(font_normal()));
  b->setFocusPolicy(Qt::NoFocus);
  b->setGeometry(x, y, width, height);
  QtHost* host = host_;
  connect(b, &QPushButton::clicked, b, [host, id] {
    if (host) host->send(HostEvent{HOST_WM_COMMAND, id, 0, 0});
  });
  b->show();
  buttons_.push_back(b);
}

void QtGestureRow::set_pressed(size_t index, bool pressed) {
  if (QPushButton* b = button(index)) b->setDown(pressed);
}

RegisterButtonView* QtGestureRow::make_register_button() {
  return qt_main_child<QtRegisterButton>(host_, host_);
}

QPushButton* QtGestureRow::button(size_t index) const {
  return index < buttons_.size() ? buttons_[index].data() : nullptr;
}

void QtPointer::position(int* x, int* y) {
  QPoint p = QCursor::pos();
  if (x) *x = p.x();
  if (y) *y = p.y();
}

void QtPointer::set_position(int x, int y) { QCursor::setPos(x, y); }

void QtPointer::show(bool shown) {
  if (shown == !hidden_) return;
  hidden_ = !shown;
  if (hidden_)
    QApplication::setOverrideCursor(Qt::BlankCursor);
  else
    QApplication::restoreOverrideCursor();
}

void QtPointer::viewport_rect(int* left, int* top, int* right, int* bottom) {
  auto* surface = dynamic_cast<QtViewport*>(viewport_surface());
  QWidget* w = surface ? surface->widget() : nullptr;
  // The client area inside the window's edge.
  QRect r = w ? QRect(w->mapToGlobal(QPoint(VIEWPORT_EDGE, VIEWPORT_EDGE)),
                      w->size() - QSize(2 * VIEWPORT_EDGE, 2 * VIEWPORT_EDGE))
              : QRect();
  if (left) *left = r.left();
  if (top) *top = r.top();
  if (right) *right = r.left() + r.width();
  if (bottom) *bottom = r.top() + r.height();
}

void gesture_row_qt_install(QtHost& host) {
  delete row;
  delete pointer;
  row = new QtGestureRow(&host);
  pointer = new QtPointer(&host);
  gesture_set_view(row);
  mouse_set_view(pointer);
}

QtGestureRow* gesture_row_qt() { return row; }
QtPointer* pointer_qt() { return pointer; }
