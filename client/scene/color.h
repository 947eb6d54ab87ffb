#pragma once
// Colour names: the 32 colours that action texts may name for signs and that the console
// uses for its line kinds. Values are 0x00BBGGRR.
#include <cstdint>

enum { COLOR_COUNT = 32 };
constexpr uint32_t COLOR_DEFAULT = 0x000000;  // black

// Fills the name table. 1, or 0 when the table cannot be made (start-up then fails).
int color_init();
// Frees the name table (color_parse then finds no names until the next color_init).
void color_term();
// The value of entry index 0 .. 31, else the default colour.
uint32_t color_value(int index);
// A name (the text is lower-cased in place) or a hexadecimal 0xRRGGBB number read like "%x";
// null or neither gives the default colour.
uint32_t color_parse(char* text);
