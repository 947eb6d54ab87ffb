#include "client/shell/gesture.h"

#include <cctype>
#include <chrono>
#include <thread>
#include <vector>

#include "Zembrel/Pose/Anim/anim.h"
#include "client/core/identity.h"
#include "client/core/log.h"
#include "client/scene/avatar.h"
#include "client/scene/self.h"
#include "client/servers/signup.h"
#include "client/shell/toolbar.h"

GestureView::~GestureView() = default;
RegisterButtonView* GestureView::make_register_button() { return nullptr; }

namespace {

struct button {
  std::string label;
  char shortcut;  // lower case, 0 when none
};

GestureView* view = nullptr;
bool initialised = false;
std::string reserved;
std::vector<button> buttons;

// How long a gesture lasts once chosen (self_set_gesture keeps it that long).
constexpr int kHoldMs = 20;

}  // namespace

void gesture_set_view(GestureView* v) { view = v; }

RegisterButtonView* gesture_register_button_create() {
  return view ? view->make_register_button() : nullptr;
}

void gesture_register_button_destroy(RegisterButtonView* button) { delete button; }

void gesture_init() {
  if (trace_switches[TRACE_GENERAL]) log_write("gesture_init");
  initialised = true;
}

void gesture_set_reserved_shortcuts(const char* letters) {
  reserved.clear();
  for (const char* p = letters ? letters : ""; *p; ++p)
    reserved += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  if (initialised) gesture_show();
}

std::string gesture_label(const char* name, std::string& used, const std::string& taken) {
  std::string label;
  bool found = false;
  for (const char* p = name; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    char lower = static_cast<char>(std::tolower(c));
    // An ampersand of the name is shown as itself: doubled, it marks no shortcut.
    if (c == '&') {
      label += "&&";
      continue;
    }
    // The first free character of any kind, a dash or a blank too, is the shortcut.
    if (!found && taken.find(lower) == std::string::npos &&
        used.find(lower) == std::string::npos) {
      label += '&';
      used += lower;
      found = true;
    }
    label += static_cast<char>(std::toupper(c));
  }
  if (!found) used += '\0';  // keeps one entry per button
  return label;
}

int gesture_show() {
  if (view) view->clear();
  buttons.clear();
  int x = 8;
  if (citizen_effective_number() > 0) {
    register_button_destroy();
  } else {
    register_button_create();
    x = register_button_width() + 11;
  }
  int y = toolbar_height() + 1;
  char names[256] = {};
  int count = 0;
  if (!AnimGetAvatarActions(avatar_type(), &count, names, sizeof names) || count <= 0) return 0;
  std::string used;
  const char* p = names;
  const char* end = names + sizeof names;
  for (int i = 0; i < count && p < end && *p; ++i) {
    std::string label = gesture_label(p, used, reserved);
    char shortcut = used.back();
    buttons.push_back(button{label, shortcut});
    int w = view ? view->text_width(label.c_str()) : 0;
    if (view) view->add(x, y, w + 6, 20, label.c_str(), GESTURE_FIRST_ID + i);
    x += w + 9;
    // The names are NUL-separated inside the buffer; never read past it.
    while (p < end && *p) ++p;
    ++p;
  }
  return static_cast<int>(buttons.size());
}

int gesture_key(int c) {
  char lower = static_cast<char>(std::tolower(c & 0xFF));
  for (size_t i = 0; i < buttons.size(); ++i) {
    if (!buttons[i].shortcut || buttons[i].shortcut != lower) continue;
    if (view) view->set_pressed(i, true);
    gesture_handle(GESTURE_FIRST_ID + static_cast<int>(i));
    std::this_thread::sleep_for(std::chrono::milliseconds(kHoldMs));
    if (view) view->set_pressed(i, false);
    return 1;
  }
  return 0;
}

int gesture_handle(int id) {
  int i = id - GESTURE_FIRST_ID;
  if (i < 0 || i >= static_cast<int>(buttons.size())) return 0;
  self_set_gesture(i + 1);
  return 1;
}

int gesture_height() { return GESTURE_ROW_HEIGHT; }

size_t gesture_count() { return buttons.size(); }
const char* gesture_button_label(size_t index) { return index < buttons.size() ? buttons[index].label.c_str() : nullptr; }
char gesture_shortcut(size_t index) { return index < buttons.size() ? buttons[index].shortcut : 0; }

void gesture_reset() {
  buttons.clear();
  reserved.clear();
  initialised = false;
}
