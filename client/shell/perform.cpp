#include "client/shell/perform.h"

#include <sys/sysinfo.h>

#include "client/core/log.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/scene/avatar.h"
#include "client/scene/display.h"
#include "client/scene/driver.h"
#include "client/scene/self.h"
#include "client/scene/visible.h"
#include "client/shell/psheet.h"

namespace {

constexpr uint64_t kLeastMemory = 0xF00000;

// The run's DirectDraw switches; every other value is read from the settings when needed.
struct Trial {
  int directdraw = -1, try_directdraw = -1;
  bool started = false;  // try_directdraw was 1 at start-up
  bool asked = false;    // this run asked for a trial at the next start
};
Trial s;
uint64_t memory_override = 0;

void set_flag(const char* key, int value) { profile_set_int("performance", key, value); }

uint64_t total_memory() {
  if (memory_override) return memory_override;
  struct sysinfo info{};
  if (sysinfo(&info) != 0) return kLeastMemory;
  return static_cast<uint64_t>(info.totalram) * info.mem_unit;
}

const dialog_label kLabels[] = {{810, 376}, {811, 377}, {812, 378}, {813, 379},
                                {814, 380}, {815, 381}, {816, 382}, {801, 383},
                                {802, 384}, {817, 385}, {809, 386}, {803, 387}};

class Page : public PsheetPage {
 public:
  Page() : PsheetPage(PERFORM_PAGE, 375, kLabels) {}

  void init(DialogView& view) override {
    view.check(PERFORM_AVATARS, perform_avatars() != 0);
    view.check(PERFORM_ANIMATION, perform_zembrels() != 0);
    view.check(PERFORM_PANNING, perform_panning() == 1);
    view.enable(PERFORM_PANNING, !driver_using_direct3d());
    view.check(PERFORM_DIRECTDRAW, directdraw_chosen());
    bool eight = display_depth() == 8;
    view.enable(PERFORM_MMX, !eight);
    view.check(PERFORM_MMX, !eight && perform_mmx() == 1);
    view.set_range(PERFORM_FRAMERATE, 3, 30);
    view.set_position(PERFORM_FRAMERATE, perform_framerate());
    view.set_range(PERFORM_VISIBILITY, 25, 120);
    view.set_position(PERFORM_VISIBILITY, perform_visibility());
  }

  void command(DialogView&, int id) override {
    if ((id >= PERFORM_AVATARS && id <= PERFORM_VISIBILITY) || id == PERFORM_DIRECTDRAW ||
        id == PERFORM_MMX)
      psheet_changed(this);
  }

  void apply(DialogView& view) override {
    int avatars = view.checked(PERFORM_AVATARS) ? 1 : 0;
    int zembrels = view.checked(PERFORM_ANIMATION) ? 1 : 0;
    bool rebuild = avatars != perform_avatars() || zembrels != perform_zembrels();
    if (avatars != perform_avatars()) set_flag("avatars", avatars);
    if (zembrels != perform_zembrels()) set_flag("zembrels", zembrels);
    if (rebuild) {
      // The avatars are made again with the new switches.
      avatar_reset();
      avatar_load_list();
      self_destroy_avatar();
      self_create_avatar();
    }
    int panning = view.checked(PERFORM_PANNING) ? 1 : 0;
    if (panning != perform_panning()) set_flag("panning", panning);
    // The view brings a typed number into the range; what it gives is clamped again.
    int v = 0;
    int framerate = perform_framerate(), visibility = perform_visibility();
    if (view.position(PERFORM_FRAMERATE, &v)) framerate = psheet_clamp(v, 3, 30);
    set_flag("framerate", framerate);
    if (view.position(PERFORM_VISIBILITY, &v)) visibility = psheet_clamp(v, 25, 120);
    set_flag("visibility", visibility);

    bool noted = false;
    if (!view.checked(PERFORM_DIRECTDRAW)) {
      // Also cancels a trial asked for earlier in this run, and one this run is making.
      s.directdraw = 0;
      s.try_directdraw = 0;
      s.asked = false;
      s.started = false;
      set_flag("directdraw", 0);
      set_flag("try_directdraw", 0);
    } else if (!directdraw_chosen()) {
      note(msg(207), msg(68));
      noted = true;
      // Tried at the next start; this run goes on as it is.
      s.asked = true;
      set_flag("try_directdraw", 1);
    }
    int mmx = view.checked(PERFORM_MMX) ? 1 : 0;
    if (display_depth() != 8 && mmx != (perform_mmx() == 1 ? 1 : 0)) {
      if (!noted) note(msg(207), msg(68));
      perform_set_mmx(mmx);
    }
  }

 private:
  // Checked on the page: on in this run, or a trial asked for the next one.
  static bool directdraw_chosen() { return s.directdraw == 1 || s.try_directdraw == 1 || s.asked; }
};

}  // namespace

int perform_init() {
  if (trace_switches[TRACE_GENERAL]) log_write("perform_init");
  if (total_memory() < kLeastMemory) return 0;
  s = Trial{};
  s.directdraw = perform_stored_directdraw();
  s.try_directdraw = perform_stored_try_directdraw();
  s.started = s.try_directdraw == 1;
  // The trial is made once: a run that does not end cleanly leaves DirectDraw off.
  set_flag("try_directdraw", 0);
  visible_hook.perform_visibility = perform_visibility;
  visible_hook.perform_framerate = perform_framerate;
  driver_hook.perform_directdraw = perform_directdraw;
  driver_hook.perform_try_directdraw = perform_try_directdraw;
  driver_hook.perform_clear_directdraw = perform_clear_directdraw;
  return 1;
}

void perform_term() {
  if (s.started) {
    set_flag("directdraw", 1);
    s.started = false;
  }
}

int perform_directdraw() { return s.directdraw; }
int perform_try_directdraw() { return s.try_directdraw; }

void perform_clear_directdraw() {
  s.directdraw = 0;
  s.try_directdraw = 0;
  // A trial whose device fell back is not confirmed at exit.
  s.started = false;
}

void perform_set_memory_for_test(uint64_t bytes) { memory_override = bytes; }

PsheetPage& perform_page() {
  static Page page;
  return page;
}
