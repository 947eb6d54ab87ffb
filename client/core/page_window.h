#pragma once
// A window on one of the tab control's pages, as its module keeps it: the view (null until
// made, or after it went) and whether the page is shown, which the module's own work asks
// before it refreshes anything. Show, hide and move go on to the view while there is one;
// "shown" is remembered either way, so a view made later is brought up to date by the page.
template <class View>
struct PageWindow {
  View* view = nullptr;
  bool shown = false;

  void show() {
    shown = true;
    if (view) view->show(true);
  }
  void hide() {
    shown = false;
    if (view) view->show(false);
  }
  void move(int x, int y, int width, int height) {
    if (view) view->move(x, y, width, height);
  }
};
