#include "client/shell/meters.h"

#include <atomic>

#include "client/app/command.h"
#include "client/core/dates.h"
#include "client/core/msg.h"
#include "client/core/profile.h"
#include "client/core/settings.h"
#include "client/core/tick.h"
#include "client/net/netcodes.h"
#include "client/scene/visible.h"
#include "client/shell/status.h"
#include "platform/clock.h"
#include "engine/vxl21.h"

namespace {

// A meter's pane in the status bar, switched from the View menu and kept in [show].
struct meter_pane {
  const char* key;
  int item, weight;
  int pane = 0;
};
meter_pane fps_meter{"framerate", 121, 17};
meter_pane bps_meter{"bandwidth", 122, 12};
meter_pane vrt_meter{"vrt", 141, 39};

void toggle(meter_pane& m) {
  if (m.pane) {
    status_destroy(m.pane);
    m.pane = 0;
    menu_uncheck(m.item);
  } else {
    // Without a status bar nothing is shown and the kept choice stays.
    m.pane = status_create(m.weight);
    if (!m.pane) return;
    menu_check(m.item);
  }
  profile_set_int("show", m.key, m.pane ? 1 : 0);
}

void show_if_kept(meter_pane& m) {
  if (!m.pane && show_setting(m.key) == 1) toggle(m);
}

struct fps_state {
  int32_t count[METER_SLOTS] = {};
  uint32_t start[METER_SLOTS] = {};
  int current = 0;
  uint32_t now = 0;
};
fps_state fps;

// Added to from the HTTP workers while the window thread moves on.
std::atomic<int32_t> bps_slots[METER_SLOTS];
std::atomic<int> bps_current{0};
struct bps_state {
  bool started = false;
  uint32_t last = 0;
  double rate = 0;
};
bps_state bps;

struct vrt_state {
  bool started = false;
  uint32_t next = 0;
};
vrt_state vrt;

struct frame_state {
  uint32_t next = 0;
  bool started = false;
  int steps = 0;
};
frame_state frame;

}  // namespace

void fps_init() {
  visible_hook.frame_rate = fps_rate;
  menu_hook.fps_toggle = fps_toggle;
  show_if_kept(fps_meter);
}
void fps_toggle() { toggle(fps_meter); }
int fps_pane() { return fps_meter.pane; }

void fps_update() {
  uint32_t now = tick_now();
  fps.now = now;
  int c = fps.current;
  if (fps.count[c] > 0 && static_cast<int32_t>(now - fps.start[c]) <= static_cast<int32_t>(METER_SLOT_MS)) {
    ++fps.count[c];
  } else if (fps.count[c] == 0) {
    // The first frame after a reset starts the current slot.
    fps.start[c] = now;
    fps.count[c] = 1;
  } else {
    c = (c + 1) % METER_SLOTS;
    fps.current = c;
    fps.start[c] = now;
    fps.count[c] = 1;
  }
  if (fps_meter.pane) status_show_value(fps_meter.pane, msg_arg_frame(26, fps_rate()));
}

double fps_rate() {
  int64_t sum = 0;
  for (int32_t n : fps.count) sum += n;
  if (sum == 0) return 0;
  // The oldest slot in use: the one after the current, or the first one counted so far.
  int oldest = (fps.current + 1) % METER_SLOTS;
  while (fps.count[oldest] == 0 && oldest != fps.current) oldest = (oldest + 1) % METER_SLOTS;
  int32_t elapsed = static_cast<int32_t>(fps.now - fps.start[oldest]);
  // Frames all within one tick have no measurable time yet.
  if (elapsed <= 0) return 0;
  return static_cast<double>(sum) * 1000.0 / elapsed;
}

void fps_reset() {
  for (int32_t& n : fps.count) n = 0;
}

void bps_init() {
  net_set_byte_meter(bps_count);
  menu_hook.bps_toggle = bps_toggle;
  show_if_kept(bps_meter);
}
void bps_toggle() { toggle(bps_meter); }
int bps_pane() { return bps_meter.pane; }

void bps_count(int bytes) {
  if (bytes <= 0) return;
  bps_slots[bps_current.load(std::memory_order_relaxed)].fetch_add(bytes, std::memory_order_relaxed);
}

void bps_update() {
  uint32_t now = tick_now();
  if (!bps.started) {
    bps.started = true;
    bps.last = now;
    return;
  }
  if (static_cast<int32_t>(now - bps.last) < static_cast<int32_t>(METER_SLOT_MS)) return;
  int64_t total = 0;
  for (auto& slot : bps_slots) total += slot.load(std::memory_order_relaxed);
  bps.rate = static_cast<double>(total) * 0.0001;
  if (bps_meter.pane) status_show_value(bps_meter.pane, msg_arg_frame(118, bps.rate));
  int next = (bps_current.load() + 1) % METER_SLOTS;
  bps_slots[next].store(0);
  bps_current.store(next);
  // A one-second grid: after a stall the empty seconds are stepped through one per frame.
  bps.last += METER_SLOT_MS;
}

double bps_rate() { return bps.rate; }

void frame_update() {
  uint32_t now = tick_now();
  if (!frame.started) {
    frame.started = true;
    frame.next = now + FRAME_STEP_MS;
    return;
  }
  if (static_cast<int32_t>(now - frame.next) < 0) return;
  VxForEachFrameObject(VxStepFrame);
  ++frame.steps;
  // Missed periods are skipped: the next step is the first boundary after now.
  uint32_t behind = now - frame.next;
  frame.next += (behind / FRAME_STEP_MS + 1) * FRAME_STEP_MS;
}

void vrt_init() {
  menu_hook.vrt_toggle = vrt_toggle;
  show_if_kept(vrt_meter);
}
void vrt_toggle() { toggle(vrt_meter); }
int vrt_pane() { return vrt_meter.pane; }

void vrt_update() {
  if (!vrt_meter.pane) return;
  uint32_t now = platform_ticks();
  if (vrt.started && static_cast<int32_t>(now - vrt.next) < 0) return;
  vrt.started = true;
  vrt.next = now + 1000;
  status_show_value(vrt_meter.pane, date_vrt(-1));
}

uint32_t frame_next_step() { return frame.started ? frame.next : 0; }
int frame_steps() { return frame.steps; }

void meters_reset_for_test() {
  fps = fps_state{};
  for (auto& slot : bps_slots) slot.store(0);
  bps_current.store(0);
  bps = bps_state{};
  frame = frame_state{};
  vrt = vrt_state{};
  fps_meter.pane = bps_meter.pane = vrt_meter.pane = 0;
}
