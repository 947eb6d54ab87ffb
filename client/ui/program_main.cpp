#include "client/ui/program_main.h"

#include <QApplication>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "client/app/program.h"
#include "client/core/tessel.h"
#include "client/ui/download_window.h"
#include "client/ui/fonts.h"
#include "client/ui/gesture_row.h"
#include "client/ui/chat_line.h"
#include "client/ui/immigrate_dialog.h"
#include "client/ui/login_dialog.h"
#include "client/ui/pdialog_dialog.h"
#include "client/ui/qt_messages.h"
#include "client/ui/privilege_dialog.h"
#include "client/ui/prompt_dialog.h"
#include "client/ui/psheet_dialog.h"
#include "client/ui/qt_dialog.h"
#include "client/ui/qt_host.h"
#include "client/ui/quit_signals.h"
#include "client/ui/screenshot.h"
#include "client/ui/shell_dialogs.h"
#include "client/ui/shell_list.h"
#include "client/ui/status_bar.h"
#include "client/ui/logo_view.h"
#include "client/ui/tab_control.h"
#include "client/ui/splitter_view.h"
#include "client/ui/toolbar_bar.h"
#include "client/ui/signup_dialog.h"
#include "client/ui/teleport_tree.h"
#include "client/ui/help_tree.h"
#include "client/ui/upgrade_dialog.h"
#include "client/ui/viewport.h"
#include "client/ui/web_pane.h"
#include "client/ui/worlds_list.h"

int program_main(int argc, char** argv, void (*start)(QtHost& host)) {
  qt_messages_install();
  web_pane_prepare();
  QApplication app(argc, argv);
  // Numbers in settings, messages and on the wire use the C locale.
  std::setlocale(LC_NUMERIC, "C");
  QtHost qt;
  host_set(&qt);
  app_install();
  // The driver's frames are shown in the main window's viewport.
  viewport_qt_install(qt);
  fonts_qt_install();
  status_bar_qt_install(qt);
  logo_view_qt_install(qt);
  tab_control_qt_install(qt);
  toolbar_qt_install(qt);
  splitter_view_qt_install(qt);
  gesture_row_qt_install(qt);
  focus_caption_qt_install();
  // Dialogs open as real Qt dialogs from their declarative tables.
  qt_dialog_install(nullptr);
  login_dialogs_register();
  upgrade_dialogs_register();
  teleport_tree_qt_install(qt);
  prompt_dialogs_register();
  immigrate_dialogs_register();
  privilege_dialogs_register();
  signup_dialogs_register();
  worlds_list_qt_install(qt);
  pdialog_dialogs_register();
  psheet_dialogs_register();
  download_window_qt_install(qt);
  shell_lists_qt_install(qt);
  shell_dialogs_register();
  chat_qt_install(qt);
  web_pane_qt_install(qt);
  help_tree_qt_install(qt);
  quit_signals_qt_install(qt);

  const char* shot = std::getenv("TESSEL_SCREENSHOT");
  const char* after = std::getenv("TESSEL_EXIT_AFTER_MS");
  if ((shot && *shot) || (after && *after)) {
    int ms = after && *after ? std::atoi(after) : 3000;
    QTimer::singleShot(ms < 0 ? 0 : ms, &qt, [&qt, shot] {
      if (shot && *shot && !screenshot_save(qt, shot))
        std::fprintf(stderr, "tessel: nothing to save in %s\n", shot);
      qt.close_boxes();
      tessel_quit();
    });
  }

  if (start) start(qt);

  int code = tessel_main(argc > 1 ? argv[1] : "", HOST_SHOW_NORMAL);
  web_pane_qt_release();
  host_set(nullptr);
  return code;
}
