#pragma once
// SIGTERM, SIGINT and SIGHUP end tessel as closing its main window does: settings written,
// keyed files closed.
class QtHost;

void quit_signals_qt_install(QtHost& host);
