#pragma once
// Uncompressed Windows BMP files: loading into a DIB section (the splash picture) and
// rewriting a small 8-bit texture as a square (the image conversion queue).
#include <cstdint>

struct GdiObject;

// Loads an uncompressed 8-bit or 24-bit bitmap into a new DIB section (delete it with
// gdi_delete_object). Gives the header's width and height; null for anything else.
GdiObject* bitmap_load(const char* path, int32_t* width, int32_t* height);

// Rewrites an 8-bit, uncompressed, bottom-up bitmap with a 256-entry palette in place as an
// n x n square, nearest pixel. Any other file, or an unreadable one, is left as it is.
void bitmap_resample(const char* path, int32_t n);
