#pragma once
// The tab control beside the 3D view: rows of tabs over a sunken frame; the pages are the main
// window's own children laid over the frame. The tabs wrap into as many rows as the control's
// width needs, so every tab stays in sight however narrow the pane is dragged.
#include <QIcon>
#include <QString>
#include <QWidget>
#include <vector>

#include "client/shell/tab.h"

class QtHost;

// The rows of tabs. The row holding the chosen tab lies next to the pages, as on a card index.
class QtTabRows : public QWidget {
  Q_OBJECT

 public:
  explicit QtTabRows(QWidget* parent);
  int addTab(const QString& text);
  int count() const { return static_cast<int>(tabs_.size()); }
  void setTabText(int index, const QString& text);
  void setTabIcon(int index, const QIcon& icon);
  void setTabToolTip(int index, const QString& text);
  QString tabText(int index) const;
  QIcon tabIcon(int index) const;
  int currentIndex() const { return current_; }
  void setCurrentIndex(int index);
  // In the strip's coordinates.
  QRect tabRect(int index) const;
  int rows() const { return rows_; }
  // Places the tabs for the width and takes the height their rows need.
  void lay_out(int width);

 signals:
  void currentChanged(int index);

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  struct Tab {
    QString text, tip;
    QIcon icon;
    QRect rect;
  };
  int natural_width(const Tab& t) const;
  int row_height() const;
  std::vector<Tab> tabs_;
  int current_ = -1;
  int rows_ = 1;
  int laid_width_ = 0;
};

class QtTabControl : public QWidget, public TabView {
  Q_OBJECT

 public:
  explicit QtTabControl(QWidget* parent);
  ~QtTabControl() override;
  void set_tab(int index, const char* text, const char* image) override;
  void select(int index) override;
  void move(int x, int y, int width, int height) override;
  void display_rect(int* x, int* y, int* width, int* height) override;
  QtTabRows* bar() const { return bar_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void place_bar(int width);
  QtTabRows* bar_;
  bool selecting_ = false;
};

// The program's images (toolbar strip, tab icons) by file name.
QIcon qt_image(const char* name);

// The program's tab control is a QtTabControl in this host's main window. Call before start-up.
void tab_control_qt_install(QtHost& host);
