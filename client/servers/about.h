#pragma once
// The splash/about box: start-up progress with a Cancel button, and the Help menu's About.

// Shows the start-up splash (form 1). 0, or 413 when the box cannot be created.
int about_init();
// Form 1: the start-up splash (Cancel shown, OK hidden). Form 0: the About box (OK shown,
// Cancel hidden, the status text tells who is logged in). 0, or 413.
int about_show(int form);
void about_set_message(const char* text);
// Destroys the box (none afterwards).
void about_hide();
// Whether the splash box's Cancel button was pressed (read by the frame step).
bool about_cancel_pressed();
// A button of the box: 1 (OK) hides it; 705 (Cancel) sets the Cancel flag and hides it.
// Returns 1 for those, 0 for other ids.
int about_command(int id);
// Tests.
void about_reset_for_test();
