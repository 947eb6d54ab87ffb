#pragma once
// Real dialogs built from declarative tables: each control is placed by the table and
// addressed by its id, and the dialog's controller does the rest through the DialogView.
#include <QString>
#include <cstddef>
#include <string>
#include <vector>

#include "client/core/dialog.h"

class QFont;
class QRect;
class QWidget;

enum class QtControl {
  Label,          // static text
  Status,         // static text that may take two lines
  Edit,
  Password,       // an edit that shows dots
  Button,
  DefaultButton,  // pressed by Enter
  Check,
  List,
  Radio,       // one of the buttons of its group (group field): choosing one clears the others
  Combo,       // a drop-down list; choosing an entry is a command
  Spin,        // an edit with an up-down; group names the up-down's own id as a second id
  NotifyEdit,  // an edit whose every change by the user is a command (for settings pages)
  Frame,       // a titled group box
  Tabs,        // page selector: list_add names the pages, choosing one is a command; controls
               // with page = k + 1 are placed on page k
  MultiEdit,   // an edit of several lines
  Swatch,      // a filled rectangle; its text is the colour ("#rrggbb")
};

struct qt_control {
  int id;
  QtControl kind;
  int x, y, width, height;
  int group = 0;
  int page = 0;
};

struct qt_dialog_template {
  int resource;
  int width, height;
  const qt_control* controls;
  size_t count;
};
// A table over a static array of controls.
template <size_t N>
constexpr qt_dialog_template qt_dialog_table(int resource, int width, int height, const qt_control (&controls)[N]) {
  return {resource, width, height, controls, N};
}

// The buttons of a dialog's last row, 92 x 28 and 10 apart, the row ending at the 12-unit
// margin of a dialog this wide; place 0 is the rightmost.
constexpr qt_control qt_row_button(int id, QtControl kind, int dialog_width, int place, int y) {
  return {id, kind, dialog_width - 104 - place * 102, y, 92, 28};
}
constexpr qt_control qt_ok_button(int dialog_width, int place, int y) {
  return qt_row_button(DIALOG_OK, QtControl::DefaultButton, dialog_width, place, y);
}
constexpr qt_control qt_cancel_button(int dialog_width, int y) {
  return qt_row_button(DIALOG_CANCEL, QtControl::Button, dialog_width, 0, y);
}

// The font the program's dialogs are drawn in: the normal user-interface font ("Arial").
QFont qt_dialog_font();
// A table's rectangle in pixels of the font. The tables are laid out in units of the font
// they were drawn for (letters 6 pixels wide on average, lines 13 high); another font's
// letters move and size every control in step, so texts keep fitting.
QRect qt_dialog_rect(const QFont& font, int x, int y, int width, int height);

// Tables are kept by pointer: they must live for the run (static tables).
void qt_dialog_register(const qt_dialog_template* table);
// The resources of the registered tables, in the order they were registered.
std::vector<int> qt_dialog_resources();
// Makes dialog_run open registered tables as modal Qt dialogs, over parent when given, else
// over the dialog in front or the main window.
void qt_dialog_install(QWidget* parent = nullptr);
// The window a dialog opens over: the dialog in front, else the main window.
QWidget* qt_dialog_parent();
// Runs one table modally; DIALOG_NO_VIEW when the table is null.
int qt_dialog_run(const qt_dialog_template* table, DialogController& controller, QWidget* parent);

// Texts of the logic are Windows-1252 bytes; Qt's are Unicode.
QString qt_from_bytes(const char* text);
std::string qt_to_bytes(const QString& text);
