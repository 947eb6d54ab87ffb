#include "client/shell/psheet.h"

#include "client/app/command.h"
#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/tessel.h"
#include "client/shell/advanced.h"
#include "client/shell/chat_page.h"
#include "client/shell/disk_page.h"
#include "client/shell/dloptions.h"
#include "client/shell/general.h"
#include "client/shell/help.h"
#include "client/shell/perform.h"
#include "client/shell/privacy.h"
#include "client/shell/proxy_page.h"

PsheetPage::~PsheetPage() = default;
void PsheetPage::labels(DialogView& view) { dialog_apply_labels(view, labels_, label_count_); }
const char* PsheetPage::help_topic() const { return nullptr; }

namespace {

PsheetPage* pages[PSHEET_PAGES] = {};

void make_pages() {
  if (pages[0]) return;
  PsheetPage* list[PSHEET_PAGES] = {&perform_page(), &disk_page(),      &proxy_page(),
                                    &general_page(), &dloptions_page(), &privacy_page(),
                                    &chat_page(),    &advanced_page()};
  for (int i = 0; i < PSHEET_PAGES; ++i) pages[i] = list[i];
}

const dialog_label kButtons[] = {
    {DIALOG_OK, 136}, {DIALOG_CANCEL, 137}, {PSHEET_APPLY, 149}, {PSHEET_HELP, 195}};

class Sheet;
Sheet* open_sheet = nullptr;
void relabel();

class Sheet : public DialogController {
  friend void relabel();

 public:
  void init(DialogView& view) override {
    view_ = &view;
    open_sheet = this;
    msg_add_refresh(relabel);
    labels(view);
    view.enable(PSHEET_APPLY, false);
    show_page(view, 0);
  }

  void command(DialogView& view, int id) override {
    switch (id) {
      case PSHEET_TABS: show_page(view, view.list_selection(PSHEET_TABS)); return;
      case DIALOG_OK:
        apply(view);
        finish(view, DIALOG_OK);
        return;
      case DIALOG_CANCEL: finish(view, DIALOG_CANCEL); return;
      case PSHEET_APPLY: apply(view); return;
      case PSHEET_HELP:
        // The help page opens in the web pane behind the sheet; the sheet stays up.
        if (const char* topic = pages[current_]->help_topic()) help_open(topic);
        return;
      default:
        // Control ids are distinct across the pages: only the page that owns one acts on it.
        for (int i = 0; i < PSHEET_PAGES; ++i)
          if (shown_[i]) pages[i]->command(view, id);
    }
  }

  void changed(PsheetPage* page) {
    for (int i = 0; i < PSHEET_PAGES; ++i)
      if (pages[i] == page && shown_[i]) changed_[i] = true;
    if (view_) view_->enable(PSHEET_APPLY, true);
  }

 private:
  void labels(DialogView& view) {
    view.set_title(msg(22));
    dialog_apply_labels(view, kButtons);
    int selected = view.list_selection(PSHEET_TABS);
    view.list_clear(PSHEET_TABS);
    for (PsheetPage* p : pages) view.list_add(PSHEET_TABS, msg(p->title()));
    if (selected >= 0) view.list_select(PSHEET_TABS, selected);
  }

  // The language changed while the sheet is up.
  void relabel_all() {
    if (!view_) return;
    labels(*view_);
    for (int i = 0; i < PSHEET_PAGES; ++i)
      if (shown_[i]) pages[i]->labels(*view_);
  }

  void show_page(DialogView& view, int index) {
    if (index < 0 || index >= PSHEET_PAGES) return;
    if (view.list_selection(PSHEET_TABS) != index) view.list_select(PSHEET_TABS, index);
    current_ = index;
    view.enable(PSHEET_HELP, pages[index]->help_topic() != nullptr);
    if (shown_[index]) return;
    shown_[index] = true;
    pages[index]->labels(view);
    pages[index]->init(view);
  }

  void apply(DialogView& view) {
    for (int i = 0; i < PSHEET_PAGES; ++i) {
      if (!shown_[i] || !changed_[i]) continue;
      changed_[i] = false;
      pages[i]->apply(view);
    }
    view.enable(PSHEET_APPLY, false);
  }

  void finish(DialogView& view, int code) {
    msg_remove_refresh(relabel);
    open_sheet = nullptr;
    view_ = nullptr;
    view.end(code);
  }

  DialogView* view_ = nullptr;
  int current_ = 0;
  bool shown_[PSHEET_PAGES] = {};
  bool changed_[PSHEET_PAGES] = {};
};

void relabel() {
  if (open_sheet) open_sheet->relabel_all();
}

}  // namespace

int psheet_init(void*, void*) {
  make_pages();
  menu_hook.psheet = [] { psheet(); };
  return 0;
}

int psheet() {
  if (trace_switches[TRACE_GENERAL]) log_write("psheet");
  make_pages();
  Sheet sheet;
  tessel_background();
  int code = dialog_run(PSHEET_DIALOG, sheet);
  // A sheet closed by its window (or never shown) leaves no refresh behind.
  if (open_sheet == &sheet) {
    msg_remove_refresh(relabel);
    open_sheet = nullptr;
  }
  tessel_foreground();
  return code;
}

void psheet_changed(PsheetPage* page) {
  if (open_sheet) open_sheet->changed(page);
}

PsheetPage* psheet_page(int index) {
  make_pages();
  return index >= 0 && index < PSHEET_PAGES ? pages[index] : nullptr;
}

void psheet_reset_for_test() {
  open_sheet = nullptr;
  menu_hook.psheet = nullptr;
}

int psheet_clamp(int v, int low, int high) { return v < low ? low : v > high ? high : v; }

void psheet_enable(DialogView& view, std::initializer_list<int> controls, bool on) {
  for (int id : controls) view.enable(id, on);
}
