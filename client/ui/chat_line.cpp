#include "client/ui/chat_line.h"

#include <QKeyEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <cstdio>

#include "client/ui/qt_host.h"
#include "client/ui/qt_main_child.h"
#include "client/ui/text.h"
#include "client/ui/text_draw.h"

namespace {

QtHost* chat_host = nullptr;
QtChatLine* line = nullptr;
QtConsole* pane = nullptr;

// Twips are 1/1440 inch; the pane's text is laid out at 96 pixels per inch.
qreal twips_to_pixels(int twips) { return twips * 96.0 / 1440.0; }

ChatLineView* make_line(int limit) {
  auto* made = qt_main_child<QtChatLine>(chat_host, limit);
  if (!made) return nullptr;
  line = made;
  QObject::connect(line, &QObject::destroyed, [] { line = nullptr; });
  return line;
}

ConsoleView* make_console() {
  auto* made = qt_main_child<QtConsole>(chat_host);
  if (!made) return nullptr;
  pane = made;
  QObject::connect(pane, &QObject::destroyed, [] { pane = nullptr; });
  return pane;
}

}  // namespace

QtChatLine::QtChatLine(QWidget* parent, int limit) : QLineEdit(parent) {
  setObjectName("chat");
  // Only a click gives it the keyboard: the main window keeps it when it is shown or activated
  // again, so that the arrows turn the view.
  setFocusPolicy(Qt::ClickFocus);
  setMaxLength(limit);
  setFrame(true);
  show();
}

void QtChatLine::text(char* out, int size) {
  if (!out || size <= 0) return;
  std::snprintf(out, static_cast<size_t>(size), "%s", text_from_qt(QLineEdit::text()).c_str());
}

void QtChatLine::clear() { QLineEdit::clear(); }

// Characters typed in the main window: the main window keeps the focus, so the arrows go on
// turning the view while the line fills; Enter sends it.
void QtChatLine::send_char(int character, int) {
  if (character == '\r' || character == '\n') {
    chat_enter();
    return;
  }
  if (character == '\b') {
    backspace();
    return;
  }
  if (character < 0x20) return;
  char one[2] = {static_cast<char>(character), 0};
  insert(text_to_qt(one));
}

void QtChatLine::move(int x, int y, int width, int height) { setGeometry(x, y, width, height); }

void QtChatLine::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    chat_enter();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

QtConsole::QtConsole(QWidget* parent) : QTextEdit(parent) {
  setObjectName("console");
  setFocusPolicy(Qt::ClickFocus);
  setReadOnly(true);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setLineWrapMode(QTextEdit::WidgetWidth);
  show();
}

void QtConsole::append(const char* text, uint32_t colour, bool bold, bool indented, int indent_twips) {
  QTextCursor c(document());
  c.movePosition(QTextCursor::End);
  QTextBlockFormat block;
  qreal indent = twips_to_pixels(indent_twips);
  if (indented) {
    block.setLeftMargin(indent);
  } else {
    // A hanging indent: the name stands out, the text wraps under the tab stop.
    block.setLeftMargin(indent);
    block.setTextIndent(-indent);
    QList<QTextOption::Tab> tabs;
    tabs.append(QTextOption::Tab(indent, QTextOption::LeftTab));
    block.setTabPositions(tabs);
  }
  QTextCharFormat chars;
  chars.setForeground(QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF));
  chars.setFontWeight(bold ? QFont::Bold : QFont::Normal);
  // The document's first paragraph is there from the start, empty: the first line takes it.
  if (started_)
    c.insertBlock(block);
  else
    c.setBlockFormat(block);
  started_ = true;
  c.insertText(text_to_qt(text), chars);
  setTextCursor(c);
  ensureCursorVisible();
}

void QtConsole::remove_line(int index) {
  QTextBlock block = document()->findBlockByNumber(index);
  if (!block.isValid()) return;
  QTextCursor c(block);
  if (block.next().isValid()) {
    c.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
  } else if (block.previous().isValid()) {
    // The last paragraph goes with the break before it.
    c.movePosition(QTextCursor::PreviousBlock);
    c.movePosition(QTextCursor::EndOfBlock);
    c.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
  } else {
    c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    started_ = false;
  }
  c.removeSelectedText();
}

void QtConsole::move(int x, int y, int width, int height) { setGeometry(x, y, width, height); }

void chat_qt_install(QtHost& host) {
  chat_host = &host;
  chat_set_view_maker(&make_line);
  console_set_view_maker(&make_console);
  text_draw_qt_install();
}

QtChatLine* chat_qt_line() { return line; }
QtConsole* console_qt_pane() { return pane; }
