#pragma once
// The splash box's picture: the bitmap file read by the program's own bitmap reader (8- or
// 24-bit, uncompressed), as an image the box can show.
#include <QImage>

// A null image when the file cannot be read as such a bitmap.
QImage splash_picture(const char* bmp_path);
