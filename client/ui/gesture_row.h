#pragma once
// The gesture buttons under the toolbar and the pointer the mouse modes hide and centre.
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <vector>

#include "client/shell/gesture.h"
#include "client/shell/mouse.h"

class QtHost;

class QtGestureRow : public QObject, public GestureView {
  Q_OBJECT

 public:
  explicit QtGestureRow(QtHost* host);
  void clear() override;
  int text_width(const char* label) override;
  void add(int x, int y, int width, int height, const char* label, int id) override;
  void set_pressed(size_t index, bool pressed) override;
  RegisterButtonView* make_register_button() override;
  QPushButton* button(size_t index) const;
  size_t count() const { return buttons_.size(); }

 private:
  QtHost* host_;
  std::vector<QPointer<QPushButton>> buttons_;
};

class QtPointer : public PointerView {
 public:
  explicit QtPointer(QtHost* host) : host_(host) {}
  void position(int* x, int* y) override;
  void set_position(int x, int y) override;
  void show(bool shown) override;
  void viewport_rect(int* left, int* top, int* right, int* bottom) override;
  bool hidden() const { return hidden_; }

 private:
  QtHost* host_;
  bool hidden_ = false;
};

// The gesture row and the pointer of this host's main window. Call before start-up.
void gesture_row_qt_install(QtHost& host);
QtGestureRow* gesture_row_qt();
QtPointer* pointer_qt();
