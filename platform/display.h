#pragma once
// The desktop display as the driver and the engine see it: a display profile (8-bit
// palettised by default; 15, 16 and 24 bits for tests), the hardware palette, top-level
// windows with their window classes, and loading of optional libraries by their
// desktop name.
#include <cstdint>

class WindowSurface;

struct DisplayProfile {
  int width = 1024;
  int height = 768;
  int bits = 8;            // 8, 15, 16 or 24
  bool palette = true;     // the screen uses a hardware palette (8 bits)
};

// Back to the default profile and a fresh hardware palette; forgets hidden libraries.
void display_reset();
void display_profile_set(int bits, int width, int height);
const DisplayProfile& display_profile();

// The platform version word; bit 31 set for the older consumer family. Tests set it.
uint32_t display_version();
void display_set_version(uint32_t version);

// The hardware palette: 256 x {red, green, blue}. Entries 0-9 and 246-255 are static.
struct DisplayRgb {
  uint8_t red, green, blue;
};
const DisplayRgb* display_hardware_palette();
void display_hardware_palette_set(int start, int count, const DisplayRgb* colours);
// Makes the next n system palette reads fail (tests).
void display_fail_palette_reads(int n);

// ---- windows -------------------------------------------------------------------------
struct PlatformWindow;
using WindowProc = intptr_t (*)(PlatformWindow* window, uint32_t message, uintptr_t wparam,
                                intptr_t lparam);

enum : uint32_t {
  kWmCreate = 0x0001,
  kWmDestroy = 0x0002,
  kWmSize = 0x0005,
  kWmPaint = 0x000F,
  kWmClose = 0x0010,
};

// Registers a class; 0 when the name is taken or empty.
int window_class_register(const char* name, uint32_t style, WindowProc proc, void* instance);
int window_class_unregister(const char* name, void* instance);
bool window_class_registered(const char* name);

// Creates a window of a registered class (its procedure gets kWmCreate); null on failure.
// surface may be null: the window then shows nothing.
PlatformWindow* window_create(const char* class_name, const char* title, uint32_t style, int x,
                              int y, int width, int height, PlatformWindow* parent,
                              WindowSurface* surface);
// An application window without a class procedure, for hosts and tests.
PlatformWindow* window_create_plain(int x, int y, WindowSurface* surface);
int window_destroy(PlatformWindow* window);
intptr_t window_send(PlatformWindow* window, uint32_t message, uintptr_t wparam, intptr_t lparam);
intptr_t window_default_proc(PlatformWindow* window, uint32_t message, uintptr_t wparam,
                             intptr_t lparam);
// Client origin in screen coordinates.
int window_client_to_screen(PlatformWindow* window, int* x, int* y);
WindowSurface* window_surface(PlatformWindow* window);
const char* window_title(PlatformWindow* window);
int window_count();
// Test switch: the next n window creations fail.
void window_fail_creates(int n);

// ---- optional libraries ----------------------------------------------------------------
// Loads a library by its desktop name ("ddraw.dll" is our DirectDraw stand-in, found beside
// this library). Null when missing or hidden.
void* display_library_load(const char* name);
void* display_library_symbol(void* library, const char* symbol);
void display_library_free(void* library);
// Test switches: make a library absent, or one of its entries missing.
void display_library_hide(const char* name, bool hidden);
void display_symbol_hide(const char* symbol, bool hidden);
// Libraries loaded through display_library_load and not freed yet.
int display_library_open_count();
