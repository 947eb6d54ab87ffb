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

struct Settings {
  int avatars = 1, zembrels = 1, panning = 0, framerate = 7, visibility = 40;
  int directdraw = -1, try_directdraw = 0, mmx = -1;
  bool trial_started = false;  // try_directdraw was 1 at start-up
};
Settings s;
uint64_t memory_override = 0;

int flag(const char* key, int absent) {
  int v = profile_int("performance", key);
  return v == -1 ? absent : v;
}

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
  int resource() const override { return PERFORM_PAGE; }
  int title() const override { return 375; }
  void labels(DialogView& view) override { dialog_apply_labels(view, kLabels); }

  void init(DialogView& view) override {
    labels(view);
    view.check(PERFORM_AVATARS, s.avatars != 0);
    view.check(PERFORM_ANIMATION, s.zembrels != 0);
    view.check(PERFORM_PANNING, s.panning == 1);
    view.enable(PERFORM_PANNING, !driver_using_direct3d());
    view.check(PERFORM_DIRECTDRAW, s.directdraw == 1 || s.try_directdraw == 1);
    bool eight = display_depth() == 8;
    view.enable(PERFORM_MMX, !eight);
    view.check(PERFORM_MMX, !eight && s.mmx == 1);
    view.set_range(PERFORM_FRAMERATE, 3, 30);
    view.set_position(PERFORM_FRAMERATE, s.framerate);
    view.set_range(PERFORM_VISIBILITY, 25, 120);
    view.set_position(PERFORM_VISIBILITY, s.visibility);
  }

  void command(DialogView&, int id) override {
    if ((id >= PERFORM_AVATARS && id <= PERFORM_VISIBILITY) || id == PERFORM_DIRECTDRAW ||
        id == PERFORM_MMX)
      psheet_changed(this);
  }

  void apply(DialogView& view) override {
    int avatars = view.checked(PERFORM_AVATARS) ? 1 : 0;
    int zembrels = view.checked(PERFORM_ANIMATION) ? 1 : 0;
    bool rebuild = false;
    if (avatars != s.avatars) {
      s.avatars = avatars;
      profile_set_int("performance", "avatars", avatars);
      rebuild = true;
    }
    if (zembrels != s.zembrels) {
      s.zembrels = zembrels;
      profile_set_int("performance", "zembrels", zembrels);
      rebuild = true;
    }
    if (rebuild) {
      // The avatars are made again with the new switches.
      avatar_reset();
      avatar_load_list();
      self_destroy_avatar();
      self_create_avatar();
    }
    int panning = view.checked(PERFORM_PANNING) ? 1 : 0;
    if (panning != (s.panning == 1 ? 1 : 0)) {
      s.panning = panning;
      profile_set_int("performance", "panning", panning);
    }
    // The view brings a typed number into the range; what it gives is clamped again.
    int v = 0;
    if (view.position(PERFORM_FRAMERATE, &v)) s.framerate = psheet_clamp(v, 3, 30);
    profile_set_int("performance", "framerate", s.framerate);
    if (view.position(PERFORM_VISIBILITY, &v)) s.visibility = psheet_clamp(v, 25, 120);
    profile_set_int("performance", "visibility", s.visibility);

    bool noted = false;
    if (!view.checked(PERFORM_DIRECTDRAW)) {
      s.directdraw = 0;
      s.try_directdraw = 0;
      profile_set_int("performance", "directdraw", 0);
      profile_set_int("performance", "try_directdraw", 0);
    } else if (s.directdraw != 1 && s.try_directdraw != 1) {
      note(msg(207), msg(68));
      noted = true;
      // Tried at the next start; this run goes on as it is.
      profile_set_int("performance", "try_directdraw", 1);
    }
    int mmx = view.checked(PERFORM_MMX) ? 1 : 0;
    if (display_depth() != 8 && mmx != (s.mmx == 1 ? 1 : 0)) {
      if (!noted) note(msg(207), msg(68));
      perform_set_mmx(mmx);
    }
  }
};

}  // namespace

int perform_init() {
  if (trace_switches[TRACE_GENERAL]) log_write("perform_init");
  if (total_memory() < kLeastMemory) return 0;
  s = Settings{};
  s.avatars = flag("avatars", 1);
  s.zembrels = flag("zembrels", 1);
  s.panning = flag("panning", 0);
  s.framerate = psheet_setting("performance", "framerate", 3, 30, 7);
  s.visibility = psheet_setting("performance", "visibility", 25, 120, 40);
  s.directdraw = profile_int("performance", "directdraw");
  s.mmx = profile_int("performance", "mmx");
  s.try_directdraw = profile_int("performance", "try_directdraw");
  s.trial_started = s.try_directdraw == 1;
  // The trial is made once: a run that does not end cleanly leaves DirectDraw off.
  profile_set_int("performance", "try_directdraw", 0);
  visible_hook.perform_visibility = perform_visibility;
  visible_hook.perform_framerate = perform_framerate;
  driver_hook.perform_directdraw = perform_directdraw;
  driver_hook.perform_try_directdraw = perform_try_directdraw;
  driver_hook.perform_clear_directdraw = perform_clear_directdraw;
  return 1;
}

void perform_term() {
  if (s.trial_started) {
    profile_set_int("performance", "directdraw", 1);
    s.trial_started = false;
  }
}

int perform_avatars() { return s.avatars; }
int perform_zembrels() { return s.zembrels; }
int perform_panning() { return s.panning; }
int perform_framerate() { return s.framerate; }
int perform_visibility() { return s.visibility; }
int perform_directdraw() { return s.directdraw; }
int perform_try_directdraw() { return s.try_directdraw; }
int perform_mmx() { return s.mmx; }
void perform_set_mmx(int value) {
  s.mmx = value;
  profile_set_int("performance", "mmx", value);
}
int perform_direct3d() { return profile_int("performance", "direct3d"); }
int perform_hr() { return profile_int("performance", "hr"); }

void perform_clear_directdraw() {
  s.directdraw = 0;
  s.try_directdraw = 0;
  // A trial whose device fell back is not confirmed at exit.
  s.trial_started = false;
}

void perform_set_memory_for_test(uint64_t bytes) { memory_override = bytes; }

PsheetPage& perform_page() {
  static Page page;
  return page;
}
