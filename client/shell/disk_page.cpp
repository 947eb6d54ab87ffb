#include "client/shell/disk_page.h"

#include "client/cache/disk.h"
#include "client/core/msg.h"
#include "client/shell/psheet.h"

namespace {

const dialog_label kLabels[] = {{601, 329}, {602, 330}, {610, 331},
                                {605, 332}, {611, 333}, {612, 334}};

class Page : public PsheetPage {
 public:
  Page() : PsheetPage(DISK_PAGE, 327, kLabels) {}
  void labels(DialogView& view) override {
    PsheetPage::labels(view);
    view.set_text(609, msg_arg(328, msg(68)));
    int64_t total = disk_total();
    if (total == 0 || disk_running()) view.set_text(DISK_TOTAL, msg(64));
    else view.set_text(DISK_TOTAL, msg_arg(63, static_cast<double>(total) / 1048576.0));
  }
  void init(DialogView& view) override {
    view.set_range(DISK_LIMIT_MB, 20, 999);
    view.set_range(DISK_DELETE_DAYS, 1, 180);
    int limit = disk_limit();
    view.check(DISK_LIMIT, limit != 0);
    view.check(DISK_NO_LIMIT, limit == 0);
    view.set_position(DISK_LIMIT_MB, limit ? limit : 100);
    view.enable(DISK_LIMIT_MB, limit != 0);
    int days = disk_delete_days();
    view.check(DISK_DELETE, days != 0);
    view.set_position(DISK_DELETE_DAYS, days ? days : 30);
    view.enable(DISK_DELETE_DAYS, days != 0);
  }
  void command(DialogView& view, int id) override {
    switch (id) {
      case DISK_NO_LIMIT: view.enable(DISK_LIMIT_MB, false); break;
      case DISK_LIMIT: view.enable(DISK_LIMIT_MB, true); break;
      case DISK_DELETE: view.enable(DISK_DELETE_DAYS, view.checked(DISK_DELETE)); break;
      case DISK_LIMIT_MB:
      case DISK_DELETE_DAYS: break;
      default: return;
    }
    psheet_changed(this);
  }
  void apply(DialogView& view) override {
    int limit = 0, days = 0;
    if (view.checked(DISK_LIMIT) && !view.position(DISK_LIMIT_MB, &limit)) limit = disk_limit();
    if (view.checked(DISK_DELETE) && !view.position(DISK_DELETE_DAYS, &days)) days = disk_delete_days();
    // disk_apply clamps to the stored ranges.
    disk_apply(limit, days);
  }
};

}  // namespace

PsheetPage& disk_page() {
  static Page page;
  return page;
}
