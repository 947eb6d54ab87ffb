#include "platform/headless_host.h"

#include <poll.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>

#include "platform/clock.h"

namespace {
constexpr std::size_t kMaxRecorded = 1000;
// Where the system would put a window without a saved position.
constexpr int kDefaultX = 32, kDefaultY = 32;
}  // namespace

HeadlessHost::HeadlessHost(bool echo_to_stderr) : echo_(echo_to_stderr) {}

HeadlessHost::~HeadlessHost() = default;

int HeadlessHost::message_box(const char* text, const char* caption, unsigned flags) {
  int answer;
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  } else {
    answer = host_default_answer(flags);
  }
  // A long scripted run keeps only the newest boxes.
  if (boxes_.size() >= kMaxRecorded) boxes_.erase(boxes_.begin());
  boxes_.push_back(Box{text ? text : "", caption ? caption : "", flags, answer});
  if (echo_) {
    std::fprintf(stderr, "[%s] %s\n", caption ? caption : "", text ? text : "");
  }
  return answer;
}

void HeadlessHost::post_quit(int code) {
  quit_posted_ = true;
  quit_code_ = code;
}

void HeadlessHost::script_answer(int answer) { answers_.push_back(answer); }

void HeadlessHost::script_menu(int id) { menu_answers_.push_back(id); }

const HeadlessHost::MenuEntry* HeadlessHost::Menu::item(int id) const {
  for (const MenuEntry& e : items)
    if (e.id == id) return &e;
  return nullptr;
}

int HeadlessHost::popup_menu(const HostMenuItem* items, size_t count) {
  Menu m{{}, 0};
  for (size_t i = 0; items && i < count; ++i)
    m.items.push_back(MenuEntry{items[i].id, items[i].text ? items[i].text : "", items[i].enabled, items[i].checked});
  if (!menu_answers_.empty()) {
    int id = menu_answers_.front();
    menu_answers_.pop_front();
    // The user can only choose an item that is there and enabled.
    const MenuEntry* e = id ? m.item(id) : nullptr;
    m.answer = e && e->enabled ? id : 0;
  }
  if (menus_.size() >= kMaxRecorded) menus_.erase(menus_.begin());
  menus_.push_back(m);
  if (echo_) std::fprintf(stderr, "[menu] %zu items, chose %d\n", m.items.size(), m.answer);
  return m.answer;
}

void HeadlessHost::clear() {
  answers_.clear();
  boxes_.clear();
  menu_answers_.clear();
  menus_.clear();
  quit_posted_ = false;
  quit_code_ = 0;
}

void HeadlessHost::step() {
  ++steps_;
  // Events posted by this walk wait for the next one, as a real queue would have them.
  std::deque<HostEvent> events;
  events.swap(posted_);
  for (const HostEvent& e : events) send(e);

  if (!watches_.empty()) {
    std::vector<pollfd> fds;
    for (const auto& [fd, w] : watches_) fds.push_back(pollfd{fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), 0) > 0) {
      for (const pollfd& p : fds) {
        if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
        auto it = watches_.find(p.fd);  // an earlier callback may have stopped the watch
        if (it != watches_.end()) it->second.fn(p.fd, it->second.user);
      }
    }
  }

  uint32_t now = platform_ticks();
  std::vector<int> due;
  for (const auto& [id, t] : timers_)
    if (!tick_before(now, t.due)) due.push_back(id);
  for (int id : due) {
    auto it = timers_.find(id);
    if (it == timers_.end()) continue;
    it->second.due = now + static_cast<uint32_t>(it->second.interval);
    send(HostEvent{HOST_WM_TIMER, id, 0, 0});
  }

  if (foreground_ && idle_) idle_();
  if (on_step_) on_step_(steps_);
}

int HeadlessHost::run_loop() {
  long start = steps_;
  while (!quit_posted_) {
    if (step_limit_ && steps_ - start >= step_limit_) break;
    step();
    // In the background the real loop would sleep until something happens.
    if (!foreground_ && !quit_posted_) ::usleep(1000);
  }
  quit_posted_ = false;
  return quit_code_;
}

bool HeadlessHost::run_modal(bool (*done)(void* user), void* user) {
  ++modal_depth_;
  long start = steps_;
  bool ok = false;
  while (!quit_posted_) {
    if (done && done(user)) {
      ok = true;
      break;
    }
    if (step_limit_ && steps_ - start >= step_limit_) break;
    step();
    if (!foreground_ && !quit_posted_) ::usleep(1000);
  }
  // A quit posted inside stays posted for the outer loop.
  --modal_depth_;
  return ok;
}

void HeadlessHost::watch_fd(int fd, HostFdFn fn, void* user) {
  if (fn)
    watches_[fd] = Watch{fn, user};
  else
    watches_.erase(fd);
}

bool HeadlessHost::window_create(const char* title, const HostRect& rect, int min_width,
                                 int min_height, HostWindowProc proc) {
  if (window_) return false;
  window_ = true;
  ++windows_created_;
  proc_ = proc;
  title_ = title ? title : "";
  requested_ = rect;
  rect_ = rect;
  if (rect.x == HOST_DEFAULT_POS) {
    rect_.x = kDefaultX;
    rect_.y = kDefaultY;
  }
  min_w_ = min_width;
  min_h_ = min_height;
  show_ = 0;
  iconic_ = maximized_ = false;
  return true;
}

void HeadlessHost::window_show(int show) {
  if (!window_) return;
  show_ = show;
  maximized_ = show == HOST_SHOW_MAXIMIZED;
}

void HeadlessHost::window_destroy() {
  if (!window_) return;
  send(HostEvent{HOST_WM_DESTROY, 0, 0, 0});
  window_ = false;
  proc_ = nullptr;
  ++windows_destroyed_;
}

int HeadlessHost::set_timer(int id, int milliseconds) {
  if (id == 0 || milliseconds < 0) return 0;
  timers_[id] = Timer{milliseconds, platform_ticks() + static_cast<uint32_t>(milliseconds)};
  return id;
}

int HeadlessHost::timer_interval(int id) const {
  auto it = timers_.find(id);
  return it == timers_.end() ? 0 : it->second.interval;
}

void HeadlessHost::screen_size(int* width, int* height) {
  if (width) *width = screen_w_;
  if (height) *height = screen_h_;
}

long HeadlessHost::send(const HostEvent& event) {
  if (!window_ || !proc_) return HOST_DEFAULT;
  long r = proc_(event);
  if (r != HOST_DEFAULT) return r;
  // The default handling of the few messages that have one.
  if (event.message == HOST_WM_SYSCOMMAND && event.wparam == HOST_SC_CLOSE)
    return send(HostEvent{HOST_WM_CLOSE, 0, 0, 0});
  if (event.message == HOST_WM_CLOSE) window_destroy();
  return 0;
}

bool HeadlessHost::about_create(HostCommandFn command) {
  if (about_) return true;
  if (!about_creatable_) return false;
  about_ = true;
  about_visible_ = false;
  about_command_ = command;
  about_texts_.clear();
  about_shown_.clear();
  about_picture_.clear();
  ++about_created_;
  return true;
}

void HeadlessHost::about_destroy() {
  if (!about_) return;
  about_ = false;
  about_visible_ = false;
  ++about_destroyed_;
}

void HeadlessHost::about_show() {
  if (about_) about_visible_ = true;
}

void HeadlessHost::about_set_text(int control, const char* text) {
  if (about_) about_texts_[control] = text ? text : "";
}

void HeadlessHost::about_show_control(int control, bool shown) {
  if (about_) about_shown_[control] = shown;
}

void HeadlessHost::about_set_picture(const char* bmp_path) {
  if (about_) about_picture_ = bmp_path ? bmp_path : "";
}

void HeadlessHost::press_about(int id) {
  if (about_ && about_visible_ && about_control_shown(id) && about_command_) about_command_(id);
}

std::string HeadlessHost::about_text(int control) const {
  auto it = about_texts_.find(control);
  return it == about_texts_.end() ? std::string() : it->second;
}

bool HeadlessHost::about_control_shown(int control) const {
  auto it = about_shown_.find(control);
  return it == about_shown_.end() ? true : it->second;
}
