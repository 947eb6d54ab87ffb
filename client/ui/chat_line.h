#pragma once
// The chat line (a one-line edit) and the console (a read-only rich text pane) in the main
// window, as the chat and console modules drive them.
#include <QLineEdit>
#include <QTextEdit>

#include "client/shell/chat.h"
#include "client/shell/console.h"

class QtHost;

class QtChatLine : public QLineEdit, public ChatLineView {
 public:
  QtChatLine(QWidget* parent, int limit);
  void text(char* out, int size) override;
  void clear() override;
  void send_char(int character, int flags) override;
  void move(int x, int y, int width, int height) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

class QtConsole : public QTextEdit, public ConsoleView {
 public:
  explicit QtConsole(QWidget* parent);
  void append(const char* text, uint32_t colour, bool bold, bool indented, int indent_twips) override;
  void remove_line(int index) override;
  void move(int x, int y, int width, int height) override;

 private:
  bool started_ = false;  // a line was appended (the first takes the document's first paragraph)
};

// The program's chat line and console are made in this host's main window; text drawing
// gets Qt's glyphs. Call before start-up.
void chat_qt_install(QtHost& host);
QtChatLine* chat_qt_line();
QtConsole* console_qt_pane();
