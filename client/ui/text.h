#pragma once
// The system's texts are Windows-1252 byte strings; Qt wants Unicode. Converted only here.
#include <QString>
#include <string>

class QLabel;
class QWidget;

// The five codes Windows-1252 leaves unassigned: kept as the same code points both ways, or
// made '?' both ways (the dialogs' texts).
enum class TextUnassigned { Keep, Question };

QString text_to_qt(const char* text, TextUnassigned unassigned = TextUnassigned::Keep);
// And back: characters that Windows-1252 lacks become '?'.
std::string text_from_qt(const QString& text, TextUnassigned unassigned = TextUnassigned::Keep);

// A text as a person sees it in a box, a label or a title: its control bytes replaced, its
// own line breaks kept (with one_line, none: a title or a name).
QString text_to_qt_shown(const char* text, bool one_line = false,
                         TextUnassigned unassigned = TextUnassigned::Keep);
// A label that shows its text as plain characters, never as markup: names and texts from
// servers go into labels.
QLabel* text_label(QWidget* parent = nullptr);
