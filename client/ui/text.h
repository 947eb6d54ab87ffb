#pragma once
// The system's texts are Windows-1252 byte strings; Qt wants Unicode. Converted only here.
#include <QString>
#include <string>

QString text_to_qt(const char* text);
// And back: characters that Windows-1252 lacks become '?'.
std::string text_from_qt(const QString& text);
