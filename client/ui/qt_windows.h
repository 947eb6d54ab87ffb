#pragma once
// The Qt widgets behind the Host: the main window and the splash box.
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <map>

class QtHost;
class QtMenuBar;

class QtMainWindow : public QWidget {
  Q_OBJECT

 public:
  explicit QtMainWindow(QtHost* host);
  bool destroying = false;
  QtMenuBar* menu_bar() const { return menu_; }
  // The client area starts below the menu bar: its top in the widget's coordinates.
  int client_top() const;

 protected:
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void childEvent(QChildEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void place(QWidget* pane, int client_y);
  // The bar at the top, the panes below it, and the client size to the window procedure.
  void lay_out_client();

  QtHost* host_;
  bool shifting_ = false;
  int last_top_ = 0;
  QtMenuBar* menu_;
};

// Dialog 602: picture frame, version, build and status texts, OK and Cancel, credit lines.
class QtAboutBox : public QWidget {
  Q_OBJECT

 public:
  using Command = void (*)(int id);
  explicit QtAboutBox(Command command);
  void set_text(int control, const QString& text);
  void show_control(int control, bool shown);
  void set_picture(const QImage& image);
  QWidget* control(int id);

 private:
  Command command_;
  QLabel* picture_;
  std::map<int, QWidget*> controls_;
};
