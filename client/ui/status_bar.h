#pragma once
// The status bar along the bottom of the main window: sunken parts with their texts and the
// size grip's room at the right.
#include <QWidget>
#include <vector>

#include "client/shell/status.h"

class QtHost;

class QtStatusBar : public QWidget, public StatusBarView {
  Q_OBJECT

 public:
  explicit QtStatusBar(QWidget* parent);
  ~QtStatusBar() override;
  int client_height() override;
  void set_parts(const int* edges, size_t count) override;
  void set_text(size_t part, const char* text) override;
  void move(int x, int y, int width, int height) override;

  const std::vector<int>& edges() const { return edges_; }
  QString text(size_t part) const { return part < texts_.size() ? texts_[part] : QString(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<int> edges_;
  std::vector<QString> texts_;
};

// The program's bar is a QtStatusBar in this host's main window. Call before start-up.
void status_bar_qt_install(QtHost& host);
