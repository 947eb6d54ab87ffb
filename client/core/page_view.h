#pragma once
// What the logic asks of every list window on the tab control's pages (worlds, contacts,
// telegrams, teleports), whatever its rows are.
#include <cstddef>

class PageListView {
 public:
  virtual ~PageListView() = default;
  virtual void set_redraw(bool on) = 0;
  virtual void clear() = 0;
  virtual void show(bool shown) = 0;
  virtual void move(int x, int y, int width, int height) = 0;
  struct MenuItem {
    int id;  // 0: separator
    const char* text;
    bool enabled;
    bool checked = false;
  };
  // The pop-up menu at the pointer; the chosen id, 0 when none.
  virtual int popup_menu(const MenuItem* items, size_t count) = 0;
};
