#pragma once
// The settings sheet: one modal dialog of eight pages (performance, disk usage, proxy,
// general, download options, privacy, chat, advanced). Each page's module reads its keys at
// start-up and gives accessors; the sheet shows the pages and sends them the apply. A page is
// set up when it is first shown; the apply goes to every page that was shown and changed
// since the last apply. Window thread only.
#include <initializer_list>

#include "client/core/control_ids.h"
#include "client/core/dialog.h"

class PsheetPage {
 public:
  // The page's dialog template, the message number of its title and its labels' texts.
  template <size_t N>
  PsheetPage(int resource, int title, const dialog_label (&labels)[N])
      : resource_(resource), title_(title), labels_(labels), label_count_(N) {}
  virtual ~PsheetPage();
  int resource() const { return resource_; }
  int title() const { return title_; }
  // Texts of the page's labels from the message table (again after a change of language).
  virtual void labels(DialogView& view);
  // The current values, when the page is first shown (its labels are set just before).
  virtual void init(DialogView& view) = 0;
  // A control of the page was used; a change calls psheet_changed(this).
  virtual void command(DialogView& view, int id) = 0;
  virtual void apply(DialogView& view) = 0;
  // The help topic of the page's Help button (a help file name), null for none.
  virtual const char* help_topic() const;

 private:
  int resource_;
  int title_;
  const dialog_label* labels_;
  size_t label_count_;
};

// Fills the menu's Settings entry. Returns 0.
int psheet_init(void* main_window, void* instance);
// Opens the sheet modally (the program is in its background state meanwhile); 1 OK, 2 Cancel.
int psheet();
// A page's control changed: Apply becomes available and the page is applied with the sheet.
void psheet_changed(PsheetPage* page);
// The pages in sheet order (tests and the Qt table).
PsheetPage* psheet_page(int index);
// The pages' bounds: v brought into low .. high.
int psheet_clamp(int v, int low, int high);
// The fields that a page's check box switches on, enabled or not together.
void psheet_enable(DialogView& view, std::initializer_list<int> controls, bool on);
// Tests: no sheet open, menu entry cleared.
void psheet_reset_for_test();
