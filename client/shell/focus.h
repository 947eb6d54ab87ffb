#pragma once
// The focus caption: when the pointer rests on an object in the 3D view (picker mode), the
// object's description appears after half a second in a small pale-yellow box beside it.
#include <cstdint>

constexpr uint32_t FOCUS_DELAY = 500;  // ms the pointer rests before the caption shows
constexpr uint32_t FOCUS_COLOUR = 0xB4FFFF;  // 0x00BBGGRR
constexpr int FOCUS_OFFSET = 10;  // the caption's corner from the pointer
constexpr int FOCUS_MAX_WIDTH = 80;

// Draws the caption over the 3D view's image each frame it is shown.
class FocusView {
 public:
  virtual ~FocusView();
  // The text's top left in the viewport; the box is kept inside the view.
  virtual void show(const char* text, int x, int y) = 0;
  virtual void hide() = 0;
};
void focus_set_view(FocusView* view);

void focus_init();
// Task "focus".
void focus_update();

// Accessors (tests).
const char* focus_caption();  // "" when none
bool focus_positioned();
void focus_reset();
