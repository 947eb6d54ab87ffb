#pragma once
// The web pane's browser control: a WebEngine view shown in the main window, reporting every
// navigation to the web module (which may cancel it) and every completed load. Built only
// with TESSEL_WEBENGINE; otherwise the web module has no container and hands addresses to
// the desktop's browser.
#include <string>

class QtHost;
class QWidget;

// Before QApplication: what WebEngine needs from the process (shared GL contexts; no
// sandbox when running as root, which the sandbox refuses; no GPU offscreen; its log lines
// kept off the terminal, web_log.h).
void web_pane_prepare();
// The program's web pane is a WebEngine view in this host's main window (nothing without
// WebEngine). Call before start-up.
void web_pane_qt_install(QtHost& host);
// 1 when this build has the browser control.
int web_pane_available();
// The pane's browser view while there is one (a window of its own shown inside the main
// window), else null.
QWidget* web_pane_widget();
// The link under the pointer as the page last reported it: "" off links or without a pane.
// A click in the pane follows only this link.
std::string web_pane_hovered_link();
// Ends the pane's window while the application still runs: the main window's own window
// takes the pane's window with it, so a pane window left to the application's end would be
// torn down twice.
void web_pane_qt_release();
