#include "client/ui/tab_control.h"

#include <QPainter>

#include "client/shell/font.h"
#include "client/ui/fonts.h"
#include "client/ui/qt_dialog.h"
#include "client/ui/qt_host.h"

namespace {

QtHost* tab_host = nullptr;

TabView* make_tabs() {
  QWidget* main = tab_host ? tab_host->main_widget() : nullptr;
  if (!main) return nullptr;
  auto* tabs = new QtTabControl(main);  // the main window owns it
  tabs->lower();                        // the pages lie over it
  tabs->show();
  return tabs;
}

}  // namespace

QIcon qt_image(const char* name) {
  Q_INIT_RESOURCE(images);
  return QIcon(QString(":/images/") + QString::fromLatin1(name ? name : ""));
}

QtTabControl::QtTabControl(QWidget* parent) : QWidget(parent), bar_(new QTabBar(this)) {
  setObjectName("Veldara Tab");
  setWindowTitle("Veldara Tab");
  setFont(qt_font(font_normal()));
  bar_->setFont(font());
  bar_->setDrawBase(false);
  bar_->setExpanding(false);
  bar_->setUsesScrollButtons(true);
  bar_->setIconSize(QSize(16, 16));
  for (int i = 0; i < TAB_PAGES; ++i) bar_->addTab(QString());
  connect(bar_, &QTabBar::currentChanged, this, [this](int index) {
    if (!selecting_) tab_select(index);
  });
}

QtTabControl::~QtTabControl() { tab_view_destroyed(this); }

void QtTabControl::set_tab(int index, const char* text, const char* image) {
  if (index < 0 || index >= bar_->count()) return;
  bar_->setTabText(index, qt_from_bytes(text));
  bar_->setTabIcon(index, qt_image(image));
  bar_->setTabToolTip(index, qt_from_bytes(text));
}

void QtTabControl::select(int index) {
  selecting_ = true;
  bar_->setCurrentIndex(index);
  selecting_ = false;
}

void QtTabControl::move(int x, int y, int width, int height) { setGeometry(x, y, width, height); }

void QtTabControl::display_rect(int* x, int* y, int* width, int* height) {
  int top = bar_->sizeHint().height();
  // In the main window's client coordinates, as the pages are placed.
  QVariant cy = property("client_y");
  int client_y = cy.isValid() ? cy.toInt() : this->y();
  if (x) *x = this->x();
  if (y) *y = client_y + top;
  if (width) *width = this->width();
  if (height) *height = this->height() - top > 0 ? this->height() - top : 0;
}

void QtTabControl::resizeEvent(QResizeEvent*) {
  bar_->setGeometry(0, 0, width(), bar_->sizeHint().height());
}

void QtTabControl::paintEvent(QPaintEvent*) {
  QPainter g(this);
  int top = bar_->sizeHint().height();
  QRect r(0, top - 1, width() - 1, height() - top);
  g.setPen(palette().color(QPalette::Light));
  g.drawLine(r.topLeft(), r.topRight());
  g.drawLine(r.topLeft(), r.bottomLeft());
  g.setPen(palette().color(QPalette::Dark));
  g.drawLine(r.bottomLeft(), r.bottomRight());
  g.drawLine(r.topRight(), r.bottomRight());
}

void tab_control_qt_install(QtHost& host) {
  tab_host = &host;
  tab_set_view_maker(make_tabs);
}
