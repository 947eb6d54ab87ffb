#pragma once
// The upgrade program's window in Qt: "Veldara Upgrade", 300 x 180, three sunken frames, the
// 0% and 100% labels, two status lines, and the progress bar painted over frame 3.
#include <memory>

#include "upgrade/upgrade.h"

class QImage;

namespace upgrade {

class QtUpgradeView : public UpgradeView {
 public:
  QtUpgradeView();
  ~QtUpgradeView() override;
  bool create() override;
  void show() override;
  void set_status_line(int line, const char* text) override;
  void draw_bar(int width) override;
  void redraw_progress_area() override;
  void message_box(const char* text, const char* title, unsigned type) override;
  void destroy() override;
  void start_timer() override;
  void kill_timer() override;
  void post_quit(int code) override;
  void pump() override;
  int run() override;

  // Tests: the window as it looks now, and its status lines.
  QImage grab();
  const char* status_line(int line) const;
  bool exists() const;

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace upgrade
