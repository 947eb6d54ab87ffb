#include "client/ui/toolbar_bar.h"

#include <QFrame>

#include "client/ui/qt_dialog.h"
#include "client/ui/qt_host.h"
#include "client/ui/qt_main_child.h"
#include "client/ui/tab_control.h"

namespace {

QtHost* bar_host = nullptr;
constexpr int kButton = 23, kHeight = 22, kSeparator = 8;

ToolbarView* make_bar() {
  return qt_main_child_shown<QtToolbar>(bar_host, bar_host);
}

}  // namespace

QtToolbar::QtToolbar(QWidget* parent, QtHost* host) : QWidget(parent), host_(host) {
  setObjectName("toolbar");
  setAutoFillBackground(true);
}

QtToolbar::~QtToolbar() { toolbar_view_destroyed(this); }

void QtToolbar::add(const toolbar_button& b, const char* tooltip) {
  if (b.style == TOOLBAR_SEPARATOR) {
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Sunken);
    entries_.push_back({line, 0});
  } else {
    auto* button = new QToolButton(this);
    char name[32];
    std::snprintf(name, sizeof name, "button%02d.png", b.image);
    button->setIcon(qt_image(name));
    button->setIconSize(QSize(16, 16));
    button->setAutoRaise(true);
    button->setCheckable(b.style == TOOLBAR_CHECK);
    button->setEnabled(b.state == TOOLBAR_ENABLED);
    button->setToolTip(qt_from_bytes(tooltip));
    button->setProperty("command", b.id);
    int id = b.id;
    QtHost* host = host_;
    connect(button, &QToolButton::clicked, this, [host, id] {
      if (host) host->send(HostEvent{HOST_WM_COMMAND, id, 0, 0});
    });
    entries_.push_back({button, b.id});
  }
  arrange();
}

QToolButton* QtToolbar::button(int id) const {
  for (const Entry& e : entries_)
    if (e.id == id) return static_cast<QToolButton*>(e.widget);
  return nullptr;
}

void QtToolbar::set_enabled(int id, bool on) {
  if (QToolButton* b = button(id)) b->setEnabled(on);
}

void QtToolbar::set_checked(int id, bool on) {
  QToolButton* b = button(id);
  if (!b) return;
  // A plain button shows pressed while its mode is on (the mover).
  if (!b->isCheckable()) b->setCheckable(true);
  b->setChecked(on);
}

void QtToolbar::set_button_shown(int id, bool shown) {
  if (QToolButton* b = button(id)) b->setVisible(shown);
  arrange();
}

void QtToolbar::set_shown(bool shown) { setVisible(shown); }

void QtToolbar::arrange() {
  int x = 0;
  for (const Entry& e : entries_) {
    if (!e.widget->isVisibleTo(this) && e.id) continue;
    int w = e.id ? kButton : kSeparator;
    e.widget->setGeometry(x, 1, w, kHeight);
    x += w;
  }
}

int QtToolbar::autosize(int) {
  QWidget* p = parentWidget();
  setGeometry(0, 0, p ? p->width() : width(), kHeight + 2);
  arrange();
  return kHeight + 2;
}

void toolbar_qt_install(QtHost& host) {
  bar_host = &host;
  toolbar_set_view_maker(make_bar);
}
