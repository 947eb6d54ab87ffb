#pragma once
// Real dialogs built from declarative tables: each control is placed by the table and
// addressed by its id, and the dialog's controller does the rest through the DialogView.
#include <QString>
#include <array>
#include <cstddef>
#include <string>
#include <type_traits>
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
template <size_t N>
constexpr qt_dialog_template qt_dialog_table(int resource, int width, int height, const std::array<qt_control, N>& controls) {
  return {resource, width, height, controls.data(), N};
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

// A column of labelled fields, a row each from the top, pitch apart: the caption (20 high, 2
// below the row's top so its text stands level with the field's) at x, the field (24 high) at
// field_x.
struct qt_form {
  int x, label_width, field_x, field_width, top, pitch;
  constexpr int row(int n) const { return top + n * pitch; }
  constexpr qt_control label(int id, int n) const { return {id, QtControl::Label, x, row(n) + 2, label_width, 20}; }
  constexpr qt_control field(int id, QtControl kind, int n) const { return {id, kind, field_x, row(n), field_width, 24}; }
};
// One row of a form: the caption's id and the field's.
struct qt_form_row {
  int label;
  int field;
  QtControl kind = QtControl::Edit;
};
// The rows' controls, caption then field, row by row.
template <size_t N>
constexpr std::array<qt_control, 2 * N> qt_form_rows(const qt_form& form, const qt_form_row (&rows)[N]) {
  std::array<qt_control, 2 * N> out{};
  for (size_t n = 0; n < N; ++n) {
    out[2 * n] = form.label(rows[n].label, static_cast<int>(n));
    out[2 * n + 1] = form.field(rows[n].field, rows[n].kind, static_cast<int>(n));
  }
  return out;
}

// One array of controls from single controls and arrays of them, in their order.
template <class Part>
constexpr size_t qt_control_count = 1;
template <size_t N>
constexpr size_t qt_control_count<std::array<qt_control, N>> = N;
template <size_t N>
constexpr size_t qt_control_count<qt_control[N]> = N;
template <class... Parts>
constexpr auto qt_controls(const Parts&... parts) {
  std::array<qt_control, (qt_control_count<Parts> + ...)> out{};
  size_t n = 0;
  auto put = [&](const auto& part) {
    if constexpr (std::is_same_v<std::decay_t<decltype(part)>, qt_control>)
      out[n++] = part;
    else
      for (const qt_control& c : part) out[n++] = c;
  };
  (put(parts), ...);
  return out;
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
