#pragma once
// A Host without windows: boxes are answered from a script and recorded for inspection, the
// main window and the splash box are records, and the loop is a plain scripted walk.
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/host.h"

class HeadlessHost : public Host {
 public:
  struct Box {
    std::string text;
    std::string caption;
    unsigned flags;
    int answer;
  };

  explicit HeadlessHost(bool echo_to_stderr = false);
  ~HeadlessHost() override;

  int message_box(const char* text, const char* caption, unsigned flags) override;
  void post_quit(int code) override;
  int popup_menu(const HostMenuItem* items, size_t count) override;

  int run_loop() override;
  void set_idle(void (*fn)()) override { idle_ = fn; }
  void set_foreground(bool foreground) override { foreground_ = foreground; }
  bool run_modal(bool (*done)(void* user), void* user) override;
  void watch_fd(int fd, HostFdFn fn, void* user) override;

  bool window_create(const char* title, const HostRect& rect, int min_width, int min_height,
                     HostWindowProc proc) override;
  bool window_exists() override { return window_; }
  void window_show(int show) override;
  void window_set_title(const char* title) override { title_ = title ? title : ""; }
  void window_destroy() override;
  HostRect window_rect() override { return rect_; }
  bool window_iconic() override { return iconic_; }
  bool window_maximized() override { return maximized_; }
  void window_focus() override { ++focus_count_; }
  void window_raise() override { ++raise_count_; iconic_ = false; }
  void post_event(const HostEvent& event) override { posted_.push_back(event); }
  int set_timer(int id, int milliseconds) override;
  void kill_timer(int id) override { timers_.erase(id); }
  void screen_size(int* width, int* height) override;
  bool key_down(int code) override { return held_.down(code); }

  bool about_create(HostCommandFn command) override;
  bool about_exists() override { return about_; }
  void about_destroy() override;
  void about_show() override;
  void about_set_text(int control, const char* text) override;
  void about_show_control(int control, bool shown) override;
  void about_set_picture(const char* bmp_path) override;

  // --- Script and inspection ---
  // Answers for the coming boxes, in order; when empty, the default button answers.
  void script_answer(int answer);
  // The id the coming pop-up menus choose, in order; when none is left they are dismissed.
  // A disabled or missing id cannot be chosen: that menu is dismissed.
  void script_menu(int id);
  struct MenuEntry {
    int id;
    std::string text;
    bool enabled;
    bool checked;
  };
  struct Menu {
    std::vector<MenuEntry> items;
    int answer;
    // The item of that id, null when the menu has none.
    const MenuEntry* item(int id) const;
  };
  const std::vector<Menu>& menus() const { return menus_; }
  void clear();
  const std::vector<Box>& boxes() const { return boxes_; }
  bool quit_posted() const { return quit_posted_; }
  int quit_code() const { return quit_code_; }

  // One walk of the loop: posted events, readable sockets, due timers, the idle function.
  void step();
  // Called after every step of run_loop and run_modal with the step count so far.
  void on_step(std::function<void(long)> fn) { on_step_ = std::move(fn); }
  // A loop (or modal loop) ends after this many steps (0: no limit), so a script never hangs.
  void set_step_limit(long steps) { step_limit_ = steps; }
  long steps() const { return steps_; }
  // Sends an event to the window procedure now, as the window system would.
  long send(const HostEvent& event);
  void set_iconic(bool iconic) { iconic_ = iconic; }
  void set_maximized(bool maximized) { maximized_ = maximized; }
  void set_rect(const HostRect& rect) { rect_ = rect; }
  void set_screen(int width, int height) { screen_w_ = width; screen_h_ = height; }
  void set_key(int code, bool held) { held_.set(code, held); }
  void set_about_creatable(bool ok) { about_creatable_ = ok; }
  // Presses a splash box button (ids 1 or 705), as the user would.
  void press_about(int id);

  int windows_created() const { return windows_created_; }
  int windows_destroyed() const { return windows_destroyed_; }
  int window_show_command() const { return show_; }  // 0 while never shown
  std::string window_title() const { return title_; }
  // The geometry asked for at creation (x may be HOST_DEFAULT_POS).
  HostRect requested_rect() const { return requested_; }
  int min_width() const { return min_w_; }
  int min_height() const { return min_h_; }
  int raise_count() const { return raise_count_; }
  int focus_count() const { return focus_count_; }
  bool foreground() const { return foreground_; }
  // Interval of timer id, 0 when not running.
  int timer_interval(int id) const;
  const std::deque<HostEvent>& posted() const { return posted_; }
  int about_created() const { return about_created_; }
  int about_destroyed() const { return about_destroyed_; }
  bool about_visible() const { return about_ && about_visible_; }
  std::string about_text(int control) const;
  bool about_control_shown(int control) const;
  int modal_depth() const { return modal_depth_; }
  std::string about_picture() const { return about_picture_; }

 private:
  struct Timer {
    int interval;
    uint32_t due;
  };
  struct Watch {
    HostFdFn fn;
    void* user;
  };
  bool echo_;
  std::deque<int> answers_;
  std::vector<Box> boxes_;
  std::deque<int> menu_answers_;
  std::vector<Menu> menus_;
  bool quit_posted_ = false;
  int quit_code_ = 0;

  void (*idle_)() = nullptr;
  bool foreground_ = true;
  std::function<void(long)> on_step_;
  long step_limit_ = 0;
  long steps_ = 0;
  int modal_depth_ = 0;
  std::map<int, Watch> watches_;
  std::map<int, Timer> timers_;
  std::deque<HostEvent> posted_;
  HostHeldKeys held_;

  bool window_ = false;
  HostWindowProc proc_ = nullptr;
  std::string title_;
  HostRect rect_{0, 0, 0, 0};
  HostRect requested_{0, 0, 0, 0};
  int min_w_ = 0, min_h_ = 0;
  bool iconic_ = false, maximized_ = false;
  int show_ = 0;
  int windows_created_ = 0, windows_destroyed_ = 0;
  int raise_count_ = 0, focus_count_ = 0;
  int screen_w_ = 1024, screen_h_ = 768;

  bool about_ = false;
  bool about_visible_ = false;
  bool about_creatable_ = true;
  HostCommandFn about_command_ = nullptr;
  std::map<int, std::string> about_texts_;
  std::map<int, bool> about_shown_;
  std::string about_picture_;
  int about_created_ = 0, about_destroyed_ = 0;
};
