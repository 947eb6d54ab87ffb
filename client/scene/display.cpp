#include "client/scene/display.h"

#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "platform/gdi.h"

namespace {

int depth = 0;

}  // namespace

void DepthDialog::init(DialogView& view) {
  view.set_title(msg(323));
  // The message text is untrusted as a format: msg_arg checks it against these three.
  view.set_text(DEPTH_TEXT, msg_arg(140, depth_ == 8 ? "n" : "", depth_, msg(68)));
  view.set_text(DEPTH_ADVICE, msg(324));
  view.set_text(DEPTH_DONT_ASK, msg(325));
  view.set_text(DEPTH_EXIT, msg(24));
  view.set_text(DEPTH_CONTINUE, msg(326));
}

void DepthDialog::command(DialogView& view, int id) {
  if (id != DEPTH_EXIT && id != DEPTH_CONTINUE) return;
  if (view.checked(DEPTH_DONT_ASK)) profile_set_int("display", "depth", 1);
  view.end(id == DEPTH_CONTINUE ? 1 : 0);
}

int display_init() {
  GdiDc* dc = gdi_get_dc(nullptr);
  depth = dc ? gdi_device_caps(dc, kCapsBitsPixel) : 0;
  if (dc) gdi_release_dc(nullptr, dc);
  if (settings_int("display", "depth") == 1 || depth == 15 || depth == 16) return 1;
  DepthDialog dialog(depth);
  int r = dialog_run(DEPTH_DIALOG, dialog);
  // With no way to ask (no dialog view at all), go on rather than end silently.
  if (r == DIALOG_NO_VIEW) return 1;
  return r == 1 ? 1 : 0;
}

int display_depth() { return depth; }

void display_reset_for_test() { depth = 0; }
