#include "platform/display.h"

#include <dlfcn.h>

#include <cstring>
#include <set>
#include <string>

#include "platform/library.h"
#include "platform/surface.h"

struct PlatformWindow {
  std::string class_name;
  std::string title;
  WindowProc proc = nullptr;
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  WindowSurface* surface = nullptr;
};

namespace {

struct WindowClass {
  std::string name;
  WindowProc proc;
  void* instance;
};

DisplayProfile g_profile;
uint32_t g_version = 0x00000A05;  // an NT-family 5.10
DisplayRgb g_palette[256];
int g_palette_read_failures = 0;
std::set<std::string> g_hidden_libraries;
std::set<std::string> g_hidden_symbols;
std::set<void*> g_open_libraries;
std::set<PlatformWindow*> g_windows;
int g_window_create_failures = 0;
WindowClass g_classes[16];
int g_class_count = 0;

void palette_defaults() {
  std::memset(g_palette, 0, sizeof g_palette);
  // The static colours: greys and primaries at both ends of the table.
  static const uint32_t low[10] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080,
                                   0x800080, 0x008080, 0xC0C0C0, 0x606060, 0x404040};
  static const uint32_t high[10] = {0xE0E0E0, 0xA0A0A0, 0x808080, 0xFF0000, 0x00FF00,
                                    0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  for (int i = 0; i < 10; ++i) {
    g_palette[i] = {uint8_t(low[i] >> 16), uint8_t(low[i] >> 8), uint8_t(low[i])};
    g_palette[246 + i] = {uint8_t(high[i] >> 16), uint8_t(high[i] >> 8), uint8_t(high[i])};
  }
}

struct Init {
  Init() { palette_defaults(); }
} g_init;

bool same_name(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    char ca = (*a >= 'A' && *a <= 'Z') ? char(*a + 32) : *a;
    char cb = (*b >= 'A' && *b <= 'Z') ? char(*b + 32) : *b;
    if (ca != cb) return false;
  }
  return *a == *b;
}

}  // namespace

void display_reset() {
  g_profile = DisplayProfile{};
  g_version = 0x00000A05;
  palette_defaults();
  g_palette_read_failures = 0;
  g_hidden_libraries.clear();
  g_hidden_symbols.clear();
  g_window_create_failures = 0;
}

void display_profile_set(int bits, int width, int height) {
  g_profile.bits = bits;
  g_profile.width = width;
  g_profile.height = height;
  g_profile.palette = bits <= 8;
}

const DisplayProfile& display_profile() { return g_profile; }

uint32_t display_version() { return g_version; }
void display_set_version(uint32_t version) { g_version = version; }

const DisplayRgb* display_hardware_palette() { return g_palette; }

void display_hardware_palette_set(int start, int count, const DisplayRgb* colours) {
  for (int i = 0; i < count; ++i) {
    int k = start + i;
    if (k >= 0 && k < 256) g_palette[k] = colours[i];
  }
}

void display_fail_palette_reads(int n) { g_palette_read_failures = n; }

// Read by the GDI layer.
bool display_take_palette_read_failure() {
  if (g_palette_read_failures <= 0) return false;
  --g_palette_read_failures;
  return true;
}

// ---- windows ---------------------------------------------------------------------------

int window_class_register(const char* name, uint32_t, WindowProc proc, void* instance) {
  if (!name || !*name || window_class_registered(name) || g_class_count >= 16) return 0;
  g_classes[g_class_count++] = {name, proc, instance};
  return 1;
}

int window_class_unregister(const char* name, void*) {
  if (!name) return 0;
  for (int i = 0; i < g_class_count; ++i) {
    if (same_name(g_classes[i].name.c_str(), name)) {
      g_classes[i] = g_classes[--g_class_count];
      g_classes[g_class_count] = {};
      return 1;
    }
  }
  return 0;
}

bool window_class_registered(const char* name) {
  for (int i = 0; i < g_class_count; ++i)
    if (same_name(g_classes[i].name.c_str(), name)) return true;
  return false;
}

PlatformWindow* window_create(const char* class_name, const char* title, uint32_t, int x, int y,
                              int width, int height, PlatformWindow*, WindowSurface* surface) {
  if (g_window_create_failures > 0) {
    --g_window_create_failures;
    return nullptr;
  }
  WindowProc proc = nullptr;
  bool found = false;
  for (int i = 0; i < g_class_count; ++i) {
    if (class_name && same_name(g_classes[i].name.c_str(), class_name)) {
      proc = g_classes[i].proc;
      found = true;
    }
  }
  if (!found) return nullptr;
  auto* w = new PlatformWindow;
  w->class_name = class_name;
  w->title = title ? title : "";
  w->proc = proc;
  w->x = x;
  w->y = y;
  w->width = width;
  w->height = height;
  w->surface = surface;
  g_windows.insert(w);
  if (proc && proc(w, kWmCreate, 0, 0) == -1) {
    g_windows.erase(w);
    delete w;
    return nullptr;
  }
  return w;
}

PlatformWindow* window_create_plain(int x, int y, WindowSurface* surface) {
  auto* w = new PlatformWindow;
  w->x = x;
  w->y = y;
  w->surface = surface;
  if (surface) {
    w->width = surface->width();
    w->height = surface->height();
  }
  g_windows.insert(w);
  return w;
}

int window_destroy(PlatformWindow* window) {
  if (!window || !g_windows.count(window)) return 0;
  if (window->proc) window->proc(window, kWmDestroy, 0, 0);
  g_windows.erase(window);
  delete window;
  return 1;
}

intptr_t window_send(PlatformWindow* window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  if (!window || !g_windows.count(window)) return 0;
  if (window->proc) return window->proc(window, message, wparam, lparam);
  return window_default_proc(window, message, wparam, lparam);
}

intptr_t window_default_proc(PlatformWindow*, uint32_t message, uintptr_t, intptr_t) {
  // Marks a message handled by the default procedure, so tests can tell it apart.
  return 0x7D000000 | message;
}

int window_client_to_screen(PlatformWindow* window, int* x, int* y) {
  if (!window || !g_windows.count(window)) return 0;
  *x += window->x;
  *y += window->y;
  return 1;
}

WindowSurface* window_surface(PlatformWindow* window) {
  return window && g_windows.count(window) ? window->surface : nullptr;
}

const char* window_title(PlatformWindow* window) {
  return window && g_windows.count(window) ? window->title.c_str() : nullptr;
}

int window_count() { return static_cast<int>(g_windows.size()); }

void window_fail_creates(int n) { g_window_create_failures = n; }

// ---- libraries -------------------------------------------------------------------------

void* display_library_load(const char* name) {
  if (!name) return nullptr;
  std::string lower;
  for (const char* p = name; *p; ++p) lower += (*p >= 'A' && *p <= 'Z') ? char(*p + 32) : *p;
  if (g_hidden_libraries.count(lower)) return nullptr;
  std::string file;
  if (lower == "ddraw.dll")
    file = "libddraw_standin.so";
  else
    return nullptr;
  void* handle = platform_library_open(file.c_str());
  if (handle) g_open_libraries.insert(handle);
  return handle;
}

void* display_library_symbol(void* library, const char* symbol) {
  if (!library || !symbol || !g_open_libraries.count(library)) return nullptr;
  if (g_hidden_symbols.count(symbol)) return nullptr;
  return dlsym(library, symbol);
}

void display_library_free(void* library) {
  if (!library || !g_open_libraries.count(library)) return;
  g_open_libraries.erase(library);
  dlclose(library);
}

void display_library_hide(const char* name, bool hidden) {
  std::string lower;
  for (const char* p = name; *p; ++p) lower += (*p >= 'A' && *p <= 'Z') ? char(*p + 32) : *p;
  if (hidden)
    g_hidden_libraries.insert(lower);
  else
    g_hidden_libraries.erase(lower);
}

void display_symbol_hide(const char* symbol, bool hidden) {
  if (hidden)
    g_hidden_symbols.insert(symbol);
  else
    g_hidden_symbols.erase(symbol);
}

int display_library_open_count() { return static_cast<int>(g_open_libraries.size()); }
