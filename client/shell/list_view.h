#pragma once
// The two-column report lists of the tab pages (contacts, telegrams): what their modules ask
// of a list window, and what the window tells them. Rows are addressed by their index in
// view order; the modules keep their own record per row in the same order.
#include <cstddef>
#include <vector>

#include "client/core/page_view.h"

enum ShellListIcon { SHELL_ICON_TELEGRAM = 0, SHELL_ICON_CONTACT = 1 };
constexpr int SHELL_NO_IMAGE = -1;

// What the list window tells its module.
struct shell_list_events {
  void (*click)();
  void (*right_click)();
  void (*column_click)(int column);
  void (*key)(int key);  // SHELL_KEY_*
  void (*focused)();
  void (*destroyed)();  // the window went (the module forgets it)
  void (*columns_resized)(int width0, int width1);  // by the user
};
enum ShellListKey { SHELL_KEY_ENTER = 1, SHELL_KEY_DELETE = 2 };

class ShellListView : public PageListView {
 public:
  ~ShellListView() override;
  // A row at index (clamped to the end); image SHELL_NO_IMAGE or 0 (the list's icon).
  virtual void insert(int index, const char* column0, const char* column1, int image) = 0;
  virtual void remove(int index) = 0;
  virtual void set_image(int index, int image) = 0;
  virtual void set_column_title(int column, const char* text) = 0;
  virtual void set_column_width(int column, int width) = 0;
  virtual int column_width(int column) = 0;
  // Indexes of the selected rows, ascending.
  virtual std::vector<int> selection() = 0;
  // Only this row selected and focused (-1: none).
  virtual void select(int index) = 0;
  virtual void ensure_visible(int index) = 0;
};

// Makes a page's list: window name, its icon, several rows selectable or one.
using shell_list_maker = ShellListView* (*)(const char* window_name, int icon, bool multiple,
                                           const shell_list_events& events);
void shell_set_list_maker(shell_list_maker maker);
// nullptr when no maker is installed (a run without windows).
ShellListView* shell_make_list(const char* window_name, int icon, bool multiple, const shell_list_events& events);

// One of a list's two columns: its title (a message number), the [layout] key its width is
// kept under (the tab page's) and the width while the key is absent.
struct shell_list_column {
  int title;
  const char* key;
  int width;
};
void shell_list_columns(ShellListView& view, const shell_list_column (&columns)[2]);
