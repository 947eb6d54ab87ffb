#include "client/ui/qt_messages.h"

#include <QCoreApplication>
#include <QString>
#include <cstdio>
#include <cstring>
#include <thread>

#include "client/core/log.h"
#include "client/core/strutil.h"

namespace {
// What the web engine and the platform say on every start without a GPU, without a sandbox
// or offscreen, as warnings of Qt's default category.
const char* const kStartNotes[] = {
    "No suitable graphics backend found",
    "This plugin does not support",  // what the offscreen platform cannot do
    "Sandboxing disabled by user.",
    "QStandardPaths: XDG_RUNTIME_DIR not set",
};

std::thread::id main_thread;

void log_lines(const QByteArray& category, const QByteArray& text) {
  if (!trace_switches[TRACE_GENERAL]) return;
  // One log line per line of the message (the web engine's report has a dozen). A warning may
  // come from inside Qt's drawing: a box about the log waits until it is over.
  log_hold_boxes(true);
  for (const QByteArray& part : text.split('\n'))
    if (!part.trimmed().isEmpty()) log_write("qt (%s): %s", category.constData(), part.constData());
  log_hold_boxes(false);
}

void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  const char* category = context.category ? context.category : "default";
  const QByteArray line = text.toLocal8Bit();
  // The log is the main thread's: the web engine's threads hand their lines over to it.
  if (std::this_thread::get_id() == main_thread) {
    log_lines(category, line);
  } else if (QCoreApplication* app = QCoreApplication::instance()) {
    QByteArray name(category);
    QMetaObject::invokeMethod(app, [name, line] { log_lines(name, line); }, Qt::QueuedConnection);
  }
  if (qt_message_is_chatter(type, category, text)) return;
  // A warning may quote a page's or a server's text: no terminal codes from it.
  const QByteArray shown = qFormatLogMessage(type, context, text).toLocal8Bit();
  std::fprintf(stderr, "%s\n", text_printable(shown.constData(), true).c_str());
  std::fflush(stderr);
}
}  // namespace

bool qt_message_is_chatter(QtMsgType type, const char* category, const QString& text) {
  if (type == QtCriticalMsg || type == QtFatalMsg) return false;
  if (type == QtDebugMsg || type == QtInfoMsg) return true;
  if (category && std::strncmp(category, "qt.webengine", 12) == 0) return true;
  const QString trimmed = text.trimmed();
  for (const char* note : kStartNotes)
    if (trimmed.startsWith(QLatin1String(note))) return true;
  return false;
}

void qt_messages_install() {
  main_thread = std::this_thread::get_id();
  qInstallMessageHandler(handle);
}
