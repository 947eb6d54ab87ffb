#include "client/ui/tour.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "client/core/log.h"
#include "client/core/tessel.h"
#include "client/ui/qt_host.h"
#include "client/ui/screenshot.h"
#include "client/ui/tab_control.h"
#include "client/ui/web_pane.h"

namespace {

// What an "until" line waits for in the trace log.
struct LogWait {
  int count = 0;
  QRegularExpression pattern;
  int cap_ms = 0;
  QElapsedTimer since;
  qint64 offset = 0;  // of the log, read so far
  QByteArray partial;  // a line not yet ended
  std::set<QString> seen;
};

struct Tour {
  QtHost* host = nullptr;
  std::vector<QStringList> lines;
  size_t next = 0;
  QString folder;
  LogWait wait;
};
Tour t;

// Where input goes: an open pop-up menu, the dialog in front, else the main window.
QWidget* target() {
  if (QWidget* w = QApplication::activePopupWidget()) return w;
  if (QWidget* w = QApplication::activeModalWidget()) return w;
  return t.host->main_widget();
}

// Keys go where the window system sends them: to the control that has the focus in the
// window in front.
QWidget* key_target() {
  QWidget* w = target();
  if (!w) return nullptr;
  QWidget* focus = w->window()->focusWidget();
  return focus ? focus : w;
}

void save(const QString& name) {
  QImage image = screenshot_grab(*t.host);
  // Dialogs are windows of their own: drawn over the middle, as the user sees them.
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (!w->isVisible() || w == t.host->main_widget() || w == t.host->about_widget()) continue;
    if (!w->isWindow() || w->windowType() == Qt::ToolTip || screenshot_embedded(w)) continue;
    QImage box = w->grab().toImage();
    if (image.isNull()) {
      image = box;
      continue;
    }
    QPainter p(&image);
    p.drawImage((image.width() - box.width()) / 2, (image.height() - box.height()) / 2, box);
  }
  QString path = t.folder + "/" + name + ".png";
  if (image.isNull() || !image.save(path, "PNG"))
    std::fprintf(stderr, "tour: nothing to save in %s\n", path.toLocal8Bit().constData());
  else
    std::printf("tour: shot %s\n", path.toLocal8Bit().constData());
  std::fflush(stdout);
}

void mouse(QWidget* w, QEvent::Type type, QPointF local, Qt::MouseButtons held,
           Qt::MouseButton button = Qt::LeftButton) {
  QMouseEvent e(type, local, w->mapToGlobal(local), button, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

// The widget at a point of the main window, and the point in its own coordinates.
QWidget* widget_at(int x, int y, QPointF* local) {
  QWidget* main = t.host->main_widget();
  if (!main) return nullptr;
  QWidget* w = main->childAt(x, y);
  if (!w) w = main;
  QPoint global = main->mapToGlobal(QPoint(x, y));
  // The web pane's view is a window of its own shown through a container: the click goes to
  // the view's widget under the point, and on to the widget that takes its input.
  QWidget* pane = web_pane_widget();
  if (pane && pane->isVisible() && w->inherits("QWindowContainer")) {
    QWidget* top = pane->window();
    QWidget* in = top->childAt(top->mapFromGlobal(global));
    w = in ? in : top;
    while (w->focusProxy() && w->focusProxy() != w && top->isAncestorOf(w->focusProxy())) w = w->focusProxy();
  }
  *local = w->mapFromGlobal(global);
  return w;
}

// A left click (two for a double click) on whatever widget is at that point of the window.
void click(int x, int y, bool twice) {
  QPointF local;
  QWidget* w = widget_at(x, y, &local);
  if (!w) return;
  // A person's pointer comes over a link before the click; the pane follows only that link.
  QWidget* pane = web_pane_widget();
  if (pane && pane->window()->isAncestorOf(w)) {
    mouse(w, QEvent::MouseMove, local, Qt::NoButton, Qt::NoButton);
    QElapsedTimer waited;
    waited.start();
    while (web_pane_hovered_link().empty() && waited.elapsed() < 10000)
      QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  mouse(w, QEvent::MouseButtonPress, local, Qt::LeftButton);
  mouse(w, QEvent::MouseButtonRelease, local, Qt::NoButton);
  if (!twice) return;
  mouse(w, QEvent::MouseButtonDblClick, local, Qt::LeftButton);
  mouse(w, QEvent::MouseButtonRelease, local, Qt::NoButton);
}

// The text a press of the key carries, as the window system gives it: the program reads
// Enter as a typed character too.
QString key_text(Qt::Key k) {
  switch (k) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return QStringLiteral("\r");
    case Qt::Key_Backspace: return QStringLiteral("\b");
    case Qt::Key_Tab: return QStringLiteral("\t");
    case Qt::Key_Escape: return QStringLiteral("\x1b");
    default: return QString();
  }
}

// A click on the button with that control id in the dialog in front.
void press(const QString& id) {
  QWidget* dialog = QApplication::activeModalWidget();
  if (!dialog)
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible() && w != t.host->main_widget() && w->windowType() == Qt::Dialog) dialog = w;
  auto* button = dialog ? dialog->findChild<QAbstractButton*>(id) : nullptr;
  if (button && button->isVisible() && button->isEnabled())
    button->click();
  else
    std::fprintf(stderr, "tour: no button %s in front\n", id.toLocal8Bit().constData());
}

// A click on the tab of that label, wherever its row lies now: the rows move as tabs are chosen.
void click_tab(const QString& label) {
  QWidget* main = t.host->main_widget();
  auto* rows = main ? main->findChild<QtTabRows*>() : nullptr;
  for (int i = 0; rows && i < rows->count(); ++i) {
    if (rows->tabText(i) != label) continue;
    const QPointF centre = QRectF(rows->tabRect(i)).center();
    mouse(rows, QEvent::MouseButtonPress, centre, Qt::LeftButton);
    mouse(rows, QEvent::MouseButtonRelease, centre, Qt::NoButton);
    return;
  }
  std::fprintf(stderr, "tour: no tab %s\n", label.toLocal8Bit().constData());
}

void right_click(int x, int y) {
  QPointF local;
  QWidget* w = widget_at(x, y, &local);
  if (!w) return;
  mouse(w, QEvent::MouseButtonPress, local, Qt::RightButton, Qt::RightButton);
  mouse(w, QEvent::MouseButtonRelease, local, Qt::NoButton, Qt::RightButton);
}

void key(const QString& name, bool down) {
  QKeySequence seq = QKeySequence::fromString(name);
  if (seq.isEmpty()) return;
  QKeyCombination k = seq[0];
  QKeyEvent e(down ? QEvent::KeyPress : QEvent::KeyRelease, k.key(), k.keyboardModifiers(),
              key_text(k.key()));
  if (QWidget* w = key_target()) QApplication::sendEvent(w, &e);
}

// Processor time of the whole process, all its threads.
double cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

void step();

// "until <count> <regex> [cap ms]": goes on once the trace log holds count different lines
// (their text after the tick) that match, or when the cap has passed (60 s), so that a busy
// machine's slow start is waited for rather than raced.
void poll_log() {
  LogWait& w = t.wait;
  QFile f(QString::fromLocal8Bit(log_file_path()));
  if (f.open(QIODevice::ReadOnly) && f.size() < w.offset) w.offset = 0;  // a fresh log
  if (f.isOpen() && f.seek(w.offset)) {
    QByteArray more = f.readAll();
    w.offset += more.size();
    w.partial += more;
    qsizetype end;
    while ((end = w.partial.indexOf('\n')) >= 0) {
      QString line = QString::fromLatin1(w.partial.left(end));
      w.partial.remove(0, end + 1);
      static const QRegularExpression tick(QStringLiteral("^\\s*\\d+: "));
      line.remove(tick);
      if (w.pattern.match(line).hasMatch()) w.seen.insert(line);
    }
  }
  const int seen = static_cast<int>(w.seen.size());
  if (seen < w.count && w.since.elapsed() <= w.cap_ms) {
    QTimer::singleShot(100, poll_log);
    return;
  }
  if (seen < w.count) std::printf("tour: until: %d of %d lines after %d ms\n", seen, w.count, w.cap_ms);
  std::fflush(stdout);
  step();
}

void wait_for_log(int count, const QString& pattern, int cap_ms) {
  t.wait.count = count;
  t.wait.pattern = QRegularExpression(pattern);
  t.wait.cap_ms = cap_ms;
  t.wait.seen.clear();
  t.wait.since.start();
  // Every "until" reads the log from its start: an event that came before it counts.
  t.wait.offset = 0;
  t.wait.partial.clear();
  QTimer::singleShot(0, poll_log);
}

// Runs lines until one that waits; the rest go on from the event loop.
void step() {
  while (t.next < t.lines.size()) {
    const QStringList& a = t.lines[t.next++];
    const QString& op = a[0];
    std::printf("tour: %s\n", a.join(' ').toLocal8Bit().constData());
    std::fflush(stdout);
    if (op == "wait" && a.size() > 1) {
      QTimer::singleShot(a[1].toInt(), step);
      return;
    } else if (op == "until" && a.size() > 2) {
      wait_for_log(a[1].toInt(), a[2], a.size() > 3 ? a[3].toInt() : 60000);
      return;
    } else if (op == "command" && a.size() > 1) {
      int id = a[1].toInt();
      // A modal dialog runs its own loop inside the command: the script goes on meanwhile.
      QTimer::singleShot(0, step);
      t.host->send(HostEvent{HOST_WM_COMMAND, id, 0, 0});
      return;
    } else if (op == "key" && a.size() > 1) {
      key(a[1], true);
      QString name = a[1];
      QTimer::singleShot(a.size() > 2 ? a[2].toInt() : 50, [name] {
        key(name, false);
        step();
      });
      return;
    } else if ((op == "click" || op == "dclick") && a.size() > 2) {
      QTimer::singleShot(0, step);
      click(a[1].toInt(), a[2].toInt(), op == "dclick");
      return;
    } else if (op == "tab" && a.size() > 1) {
      QTimer::singleShot(0, step);
      click_tab(a.mid(1).join(' '));
      return;
    } else if (op == "rclick" && a.size() > 2) {
      QTimer::singleShot(0, step);
      right_click(a[1].toInt(), a[2].toInt());
      return;
    } else if (op == "spawn") {
      // A second start of this program, as a user would make it, without the tour's settings.
      QProcess p;
      QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
      for (const char* name : {"TESSEL_TOUR", "TESSEL_SCREENSHOT", "TESSEL_EXIT_AFTER_MS"}) env.remove(name);
      p.setProcessEnvironment(env);
      p.setProgram(QCoreApplication::applicationFilePath());
      p.setArguments(a.mid(1));
      if (!p.startDetached()) std::fprintf(stderr, "tour: the second start failed\n");
    } else if (op == "type" && a.size() > 1) {
      QString text = a.mid(1).join(' ');
      for (QChar c : text) {
        QKeyEvent e(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        if (QWidget* w = key_target())
          QApplication::sendEvent(w, &e);
      }
    } else if (op == "close") {
      if (QWidget* w = QApplication::activeModalWidget()) w->close();
      for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w != t.host->main_widget() && w->isWindow() &&
            w->windowType() == Qt::Dialog)
          w->close();
    } else if (op == "press" && a.size() > 1) {
      // A modal dialog's button runs its own loop inside the click: the script goes on meanwhile.
      QTimer::singleShot(0, step);
      press(a[1]);
      return;
    } else if (op == "pace" && a.size() > 1) {
      // Frame steps and the process's processor time over a while, for the frame-rate check.
      auto since = std::make_shared<QElapsedTimer>();
      since->start();
      uint64_t steps = t.host->frame_steps();
      double cpu = cpu_seconds();
      QTimer::singleShot(a[1].toInt(), [since, steps, cpu] {
        double seconds = since->nsecsElapsed() / 1e9;
        std::printf("tour: pace %llu frame steps in %.3f s at %.1f Hz, %.3f s of processor time\n",
                    static_cast<unsigned long long>(t.host->frame_steps() - steps), seconds,
                    t.host->refresh_rate(), cpu_seconds() - cpu);
        std::fflush(stdout);
        step();
      });
      return;
    } else if (op == "shot" && a.size() > 1) {
      save(a[1]);
    } else if (op == "quit") {
      // The last picture also goes where a scripted run asks for one.
      const char* shot = std::getenv("TESSEL_SCREENSHOT");
      if (shot && *shot) screenshot_save(*t.host, shot);
      t.host->close_boxes();
      tessel_quit();
      return;
    } else {
      std::fprintf(stderr, "tour: line not understood: %s\n", a.join(' ').toLocal8Bit().constData());
    }
  }
}

}  // namespace

bool tour_start(QtHost& host, const char* script, const char* folder) {
  QFile f(QString::fromLocal8Bit(script));
  if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return false;
  t = Tour{};
  t.host = &host;
  t.folder = folder && *folder ? QString::fromLocal8Bit(folder) : QString(".");
  while (!f.atEnd()) {
    QString line = QString::fromUtf8(f.readLine()).trimmed();
    if (line.isEmpty() || line.startsWith('#')) continue;
    QStringList parts = line.split(' ', Qt::SkipEmptyParts);
    t.lines.push_back(parts);
  }
  QTimer::singleShot(0, step);
  return true;
}
