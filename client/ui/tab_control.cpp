#include "client/ui/tab_control.h"

#include <QEvent>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionTab>
#include <QStylePainter>
#include <QTabBar>
#include <QToolTip>
#include <algorithm>

#include "client/shell/font.h"
#include "client/ui/fonts.h"
#include "client/ui/qt_dialog.h"
#include "client/ui/qt_edge.h"
#include "client/ui/qt_host.h"
#include "client/ui/qt_main_child.h"

namespace {

QtHost* tab_host = nullptr;
constexpr int kIcon = 16;

TabView* make_tabs() {
  auto* tabs = qt_main_child<QtTabControl>(tab_host);
  if (!tabs) return nullptr;
  tabs->lower();  // the pages lie over it
  tabs->show();
  return tabs;
}

}  // namespace

QIcon qt_image(const char* name) {
  Q_INIT_RESOURCE(images);
  return QIcon(QString(":/images/") + QString::fromLatin1(name ? name : ""));
}

QtTabRows::QtTabRows(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_Hover); }

int QtTabRows::addTab(const QString& text) {
  tabs_.push_back(Tab{text, QString(), QIcon(), QRect()});
  if (current_ < 0) current_ = 0;
  lay_out(laid_width_);
  return count() - 1;
}

void QtTabRows::setTabText(int index, const QString& text) {
  if (index < 0 || index >= count() || tabs_[index].text == text) return;
  tabs_[index].text = text;
  lay_out(laid_width_);
}

void QtTabRows::setTabIcon(int index, const QIcon& icon) {
  if (index < 0 || index >= count()) return;
  tabs_[index].icon = icon;
  update();
}

void QtTabRows::setTabToolTip(int index, const QString& text) {
  if (index >= 0 && index < count()) tabs_[index].tip = text;
}

QString QtTabRows::tabText(int index) const {
  return index >= 0 && index < count() ? tabs_[index].text : QString();
}

QIcon QtTabRows::tabIcon(int index) const { return index >= 0 && index < count() ? tabs_[index].icon : QIcon(); }

QRect QtTabRows::tabRect(int index) const {
  return index >= 0 && index < count() ? tabs_[index].rect : QRect();
}

void QtTabRows::setCurrentIndex(int index) {
  if (index < 0 || index >= count() || index == current_) return;
  current_ = index;
  lay_out(laid_width_);
  emit currentChanged(index);
}

int QtTabRows::row_height() const { return std::max(kIcon, fontMetrics().height()) + 8; }

// The width the style wants for the tab's icon and text.
int QtTabRows::natural_width(const Tab& t) const {
  QStyleOptionTab opt;
  opt.initFrom(this);
  opt.shape = QTabBar::RoundedNorth;
  opt.text = t.text;
  opt.icon = t.icon;
  opt.iconSize = QSize(kIcon, kIcon);
  int text = t.text.isEmpty() ? 0 : fontMetrics().horizontalAdvance(t.text) + 6;
  int space = style()->pixelMetric(QStyle::PM_TabBarTabHSpace, &opt, this);
  QSize contents(kIcon + text + space, row_height());
  return style()->sizeFromContents(QStyle::CT_TabBarTab, &opt, contents, this).width();
}

void QtTabRows::lay_out(int width) {
  laid_width_ = width;
  // Tabs fill a row until the next one would pass the edge; a tab wider than the whole
  // control gets a row of its own, cut to the control.
  std::vector<std::vector<int>> rows(1);
  int x = 0;
  for (int i = 0; i < count(); ++i) {
    int w = natural_width(tabs_[i]);
    if (!rows.back().empty() && x + w > width) {
      rows.emplace_back();
      x = 0;
    }
    rows.back().push_back(i);
    tabs_[i].rect = QRect(x, 0, std::min(w, std::max(width, 1)), row_height());
    x += w;
  }
  // The chosen tab's row lies next to the pages.
  auto chosen = std::find_if(rows.begin(), rows.end(), [this](const std::vector<int>& r) {
    return std::find(r.begin(), r.end(), current_) != r.end();
  });
  if (chosen != rows.end()) std::rotate(chosen, chosen + 1, rows.end());
  int h = row_height();
  for (size_t r = 0; r < rows.size(); ++r) {
    const std::vector<int>& row = rows[r];
    // Several rows are stretched to the full width, the extra pixels shared out.
    int used = 0;
    for (int i : row) used += tabs_[i].rect.width();
    int extra = rows.size() > 1 && width > used ? width - used : 0;
    int left = 0;
    for (size_t k = 0; k < row.size(); ++k) {
      Tab& t = tabs_[row[k]];
      int share = extra / static_cast<int>(row.size()) + (static_cast<int>(k) < extra % static_cast<int>(row.size()) ? 1 : 0);
      t.rect = QRect(left, static_cast<int>(r) * h, t.rect.width() + share, h);
      left += t.rect.width();
    }
  }
  rows_ = static_cast<int>(rows.size());
  resize(std::max(width, 0), rows_ * h + 2);
  update();
}

bool QtTabRows::event(QEvent* e) {
  if (e->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(e);
    for (const Tab& t : tabs_)
      if (t.rect.contains(help->pos()) && !t.tip.isEmpty()) {
        QToolTip::showText(help->globalPos(), t.tip, this, t.rect);
        return true;
      }
    QToolTip::hideText();
    e->ignore();
    return true;
  }
  return QWidget::event(e);
}

void QtTabRows::paintEvent(QPaintEvent*) {
  QStylePainter p(this);
  for (int pass = 0; pass < 2; ++pass)
    for (int i = 0; i < count(); ++i) {
      // The chosen tab last, over its neighbours' edges.
      if ((i == current_) != (pass == 1)) continue;
      const Tab& t = tabs_[i];
      QStyleOptionTab opt;
      opt.initFrom(this);
      opt.shape = QTabBar::RoundedNorth;
      opt.rect = t.rect;
      opt.text = t.text;
      opt.icon = t.icon;
      opt.iconSize = QSize(kIcon, kIcon);
      opt.position = QStyleOptionTab::Middle;
      opt.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
      if (i == current_) opt.state |= QStyle::State_Selected;
      if (!t.rect.contains(mapFromGlobal(QCursor::pos()))) opt.state &= ~QStyle::State_MouseOver;
      p.drawControl(QStyle::CE_TabBarTab, opt);
    }
}

void QtTabRows::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  for (int i = 0; i < count(); ++i)
    if (tabs_[i].rect.contains(e->position().toPoint())) {
      setCurrentIndex(i);
      return;
    }
}

QtTabControl::QtTabControl(QWidget* parent) : QWidget(parent), bar_(new QtTabRows(this)) {
  setObjectName("Veldara Tab");
  setWindowTitle("Veldara Tab");
  setFont(qt_font(font_normal()));
  bar_->setFont(font());
  for (int i = 0; i < TAB_PAGES; ++i) bar_->addTab(QString());
  connect(bar_, &QtTabRows::currentChanged, this, [this](int index) {
    if (!selecting_) tab_select(index);
  });
}

QtTabControl::~QtTabControl() { tab_view_destroyed(this); }

void QtTabControl::set_tab(int index, const char* text, const char* image) {
  if (index < 0 || index >= bar_->count()) return;
  bar_->setTabText(index, qt_from_bytes(text));
  bar_->setTabIcon(index, qt_image(image));
  bar_->setTabToolTip(index, qt_from_bytes(text));
  place_bar(width());
}

void QtTabControl::select(int index) {
  selecting_ = true;
  bar_->setCurrentIndex(index);
  selecting_ = false;
}

void QtTabControl::place_bar(int width) {
  bar_->lay_out(width);
  bar_->move(0, 0);
}

void QtTabControl::move(int x, int y, int width, int height) {
  setGeometry(x, y, width, height);
  // At once: a hidden control has its resize event only when shown, and the pages are placed
  // from the rows' height now.
  place_bar(width);
}

void QtTabControl::display_rect(int* x, int* y, int* width, int* height) {
  int top = bar_->height();
  // In the main window's client coordinates, as the pages are placed.
  QVariant cy = property("client_y");
  int client_y = cy.isValid() ? cy.toInt() : this->y();
  if (x) *x = this->x();
  if (y) *y = client_y + top;
  if (width) *width = this->width();
  if (height) *height = this->height() - top > 0 ? this->height() - top : 0;
}

void QtTabControl::resizeEvent(QResizeEvent*) { place_bar(width()); }

void QtTabControl::paintEvent(QPaintEvent*) {
  QPainter g(this);
  int top = bar_->height();
  QRect r(0, top - 1, width() - 1, height() - top);
  qt_draw_edge(g, r, palette().color(QPalette::Light), palette().color(QPalette::Dark));
}

void tab_control_qt_install(QtHost& host) {
  tab_host = &host;
  tab_set_view_maker(make_tabs);
}
