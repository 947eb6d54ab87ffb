#include "client/ui/keymap.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>

#include "client/core/keys.h"
#include "client/ui/qt_host.h"

int keymap_virtual_key(int key, bool keypad) {
  if (keypad) {
    switch (key) {
      case Qt::Key_Plus: return 0x6B;
      case Qt::Key_Minus: return 0x6D;
      case Qt::Key_Asterisk: return 0x6A;
      case Qt::Key_Slash: return 0x6F;
      case Qt::Key_Period: return 0x6E;
      case Qt::Key_Comma: return 0x6C;
      default:
        if (key >= Qt::Key_0 && key <= Qt::Key_9) return 0x60 + (key - Qt::Key_0);
        break;  // arrows and the like on the pad are the plain keys
    }
  }
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return 0x41 + (key - Qt::Key_A);
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return 0x30 + (key - Qt::Key_0);
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return 0x70 + (key - Qt::Key_F1);
  switch (key) {
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 0x09;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 0x0D;
    case Qt::Key_Shift: return 0x10;
    case Qt::Key_Control: return 0x11;
    case Qt::Key_Alt: return 0x12;
    case Qt::Key_Pause: return 0x13;
    case Qt::Key_CapsLock: return 0x14;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Space: return 0x20;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Print: return 0x2C;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    // Shifted digits on the main block are still the digit keys.
    case Qt::Key_Exclam: return 0x31;
    case Qt::Key_At: return 0x32;
    case Qt::Key_NumberSign: return 0x33;
    case Qt::Key_Dollar: return 0x34;
    case Qt::Key_Percent: return 0x35;
    case Qt::Key_AsciiCircum: return 0x36;
    case Qt::Key_Ampersand: return 0x37;
    case Qt::Key_Asterisk: return 0x38;
    case Qt::Key_ParenLeft: return 0x39;
    case Qt::Key_ParenRight: return 0x30;
    case Qt::Key_NumLock: return 0x90;
    case Qt::Key_ScrollLock: return 0x91;
    case Qt::Key_Semicolon:
    case Qt::Key_Colon: return 0xBA;
    case Qt::Key_Equal:
    case Qt::Key_Plus: return 0xBB;
    case Qt::Key_Comma:
    case Qt::Key_Less: return 0xBC;
    case Qt::Key_Minus:
    case Qt::Key_Underscore: return 0xBD;
    case Qt::Key_Period:
    case Qt::Key_Greater: return 0xBE;
    case Qt::Key_Slash:
    case Qt::Key_Question: return 0xBF;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde: return 0xC0;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft: return 0xDB;
    case Qt::Key_Backslash:
    case Qt::Key_Bar: return 0xDC;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight: return 0xDD;
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl: return 0xDE;
    default: return 0;
  }
}

namespace {

// Sees every key event before its widget does: the chat line and the dialogs take their keys
// without handing the releases on, which would leave a Shift held for movement.
class KeyTracker : public QObject {
 public:
  QPointer<QtHost> host;

  bool eventFilter(QObject* watched, QEvent* event) override {
    QEvent::Type type = event->type();
    if (!host || !watched->isWidgetType() || (type != QEvent::KeyPress && type != QEvent::KeyRelease))
      return false;
    auto* key = static_cast<QKeyEvent*>(event);
    bool down = type == QEvent::KeyPress;
    if (!down && key->isAutoRepeat()) return false;
    if (int vk = keymap_virtual_key(key->key(), key->modifiers() & Qt::KeypadModifier)) {
      host->key_event(vk, down);
      if (!down) key_up(static_cast<unsigned>(vk));
    }
    return false;
  }

  void let_all_go() {
    if (!host) return;
    for (int code = 1; code < 256; ++code) host->key_event(code, false);
    key_reset();
  }
};

}  // namespace

void keymap_track_keys(QtHost& host) {
  static KeyTracker* tracker = nullptr;
  if (!qApp) return;
  if (!tracker) {
    tracker = new KeyTracker;
    qApp->installEventFilter(tracker);
    QObject::connect(qApp, &QApplication::focusChanged, tracker, [](QWidget*, QWidget* now) {
      if (!now) tracker->let_all_go();
    });
  }
  tracker->host = &host;
}
