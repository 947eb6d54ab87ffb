#pragma once
// The system's texts are Windows-1252 byte strings; Qt wants Unicode. Converted only here.
#include <QString>
#include <string>

// The five codes Windows-1252 leaves unassigned: kept as the same code points both ways, or
// made '?' both ways (the dialogs' texts).
enum class TextUnassigned { Keep, Question };

QString text_to_qt(const char* text, TextUnassigned unassigned = TextUnassigned::Keep);
// And back: characters that Windows-1252 lacks become '?'.
std::string text_from_qt(const QString& text, TextUnassigned unassigned = TextUnassigned::Keep);
