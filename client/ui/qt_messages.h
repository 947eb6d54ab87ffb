#pragma once
// Qt's own messages. The web engine's start-up report (its GL settings and switches, that it
// found no graphics backend, that the sandbox is off) and the platform's notes about it are
// no news to the person at the terminal: they go to the trace log (tessel.log, when [debug]
// trace is on). Warnings from anywhere else, and every critical or fatal message, are still
// printed on standard error, and logged too.
#include <QtGlobal>

class QString;

// Before QApplication, so that the start-up's own messages are caught.
void qt_messages_install();
// True for a message that goes to the log alone.
bool qt_message_is_chatter(QtMsgType type, const char* category, const QString& text);
