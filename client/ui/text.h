#pragma once
// The system's texts are Windows-1252 byte strings; Qt wants Unicode. Converted only here.
#include <QString>

QString text_to_qt(const char* text);
