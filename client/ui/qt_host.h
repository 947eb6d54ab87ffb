#pragma once
// The program's Host: Qt Widgets. The main window forwards its events to the window
// procedure; while in the foreground the loop runs idle frames, at most one per refresh of
// the screen the main window is on, and none while it is minimised.
#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <map>
#include <vector>

#include "platform/host.h"

class QSocketNotifier;
class QtAboutBox;
class QtMainWindow;

class QtHost : public QObject, public Host {
  Q_OBJECT

 public:
  QtHost();
  ~QtHost() override;

  int message_box(const char* text, const char* caption, unsigned flags) override;
  int popup_menu(const HostMenuItem* items, size_t count) override;
  void post_quit(int code) override;

  int run_loop() override;
  void set_idle(void (*fn)()) override;
  void set_foreground(bool foreground) override;
  bool run_modal(bool (*done)(void* user), void* user) override;
  void watch_fd(int fd, HostFdFn fn, void* user) override;

  bool window_create(const char* title, const HostRect& rect, int min_width, int min_height,
                     HostWindowProc proc) override;
  bool window_exists() override { return window_ != nullptr; }
  void window_show(int show) override;
  void window_set_title(const char* title) override;
  void window_destroy() override;
  HostRect window_rect() override;
  bool window_iconic() override;
  bool window_maximized() override;
  void window_focus() override;
  void window_raise() override;
  void post_event(const HostEvent& event) override;
  int set_timer(int id, int milliseconds) override;
  void kill_timer(int id) override;
  void screen_size(int* width, int* height) override;
  bool key_down(int code) override { return held_.down(code); }

  bool about_create(HostCommandFn command) override;
  bool about_exists() override;
  void about_destroy() override;
  void about_show() override;
  void about_set_text(int control, const char* text) override;
  void about_show_control(int control, bool shown) override;
  void about_set_picture(const char* bmp_path) override;

  // Used by the main window's widget.
  long send(const HostEvent& event);
  // A click in the 3D view: the keyboard comes back to the main window from whichever window
  // or control had it (another window of ours, the web pane, a list, the chat line).
  void click_focus();
  void key_event(int code, bool down) { held_.set(code, down); }
  // For screenshots and tests.
  QWidget* main_widget();
  QWidget* about_widget();
  int about_shown_count() const { return about_shown_; }
  int about_destroyed_count() const { return about_destroyed_; }
  // Closes every open message box with its default button (scripted offscreen runs).
  void close_boxes();
  // Refreshes per second of the screen the main window is on (60 when it does not say).
  double refresh_rate() const;
  // Frame steps run so far, idle ones and the timers' (each draws one frame at most).
  uint64_t frame_steps() const { return frame_steps_; }
  // The window that dialogs and boxes open over: the modal one in front, else the main window.
  QWidget* dialog_parent();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void update_idle();
  void idle_frame();

  HostWindowProc proc_ = nullptr;
  QtMainWindow* window_ = nullptr;
  QPointer<QtAboutBox> about_;
  HostCommandFn about_command_ = nullptr;
  int about_shown_ = 0;
  int about_destroyed_ = 0;
  QTimer idle_timer_;
  QElapsedTimer last_idle_;  // since the last idle frame began
  uint64_t frame_steps_ = 0;
  void (*idle_)() = nullptr;
  bool foreground_ = true;
  bool quit_pending_ = false;
  int quit_code_ = 0;
  std::vector<QEventLoop*> loops_;
  std::map<int, QTimer*> timers_;
  std::map<int, QSocketNotifier*> watches_;
  HostHeldKeys held_;
};
