#include "client/shell/list_view.h"

#include "client/core/msg.h"
#include "client/core/settings.h"

namespace {
shell_list_maker list_maker = nullptr;
}

ShellListView::~ShellListView() = default;

void shell_set_list_maker(shell_list_maker maker) { list_maker = maker; }

ShellListView* shell_make_list(const char* window_name, int icon, bool multiple, const shell_list_events& events) {
  return list_maker ? list_maker(window_name, icon, multiple, events) : nullptr;
}

void shell_list_columns(ShellListView& view, const shell_list_column (&columns)[2]) {
  for (int i = 0; i < 2; ++i) view.set_column_title(i, msg(columns[i].title));
  for (int i = 0; i < 2; ++i) {
    int stored = layout_setting(columns[i].key);
    view.set_column_width(i, stored < 0 ? columns[i].width : stored);
  }
}
