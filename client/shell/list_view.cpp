#include "client/shell/list_view.h"

namespace {
shell_list_maker list_maker = nullptr;
}

ShellListView::~ShellListView() = default;

void shell_set_list_maker(shell_list_maker maker) { list_maker = maker; }

ShellListView* shell_make_list(const char* window_name, int icon, bool multiple, const shell_list_events& events) {
  return list_maker ? list_maker(window_name, icon, multiple, events) : nullptr;
}
