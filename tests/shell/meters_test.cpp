// The frame-rate and bandwidth meters and the frame-object step, on a fake clock.
#include <thread>
#include <vector>

#include "client/core/tick.h"
#include "client/net/netcodes.h"
#include "client/scene/visible.h"
#include "client/shell/meters.h"
#include "engine/vxl21.h"
#include "shell_env.h"

using namespace shell_test;

namespace {

class Meters : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    meters_reset_for_test();
  }
  void TearDown() override {
    meters_reset_for_test();
    net_set_byte_meter(nullptr);
    visible_hook.frame_rate = nullptr;
    ShellTest::TearDown();
  }
  // n frames spaced ms apart, each seen by the frame-rate task.
  void frames(int n, uint32_t ms) {
    for (int i = 0; i < n; ++i) {
      fake_now += ms;
      tick_update();
      fps_update();
    }
  }
};

}  // namespace

TEST_F(Meters, FrameRateFollowsTheFramesAndTheSchedulerReadsIt) {
  fps_init();
  ASSERT_NE(nullptr, visible_hook.frame_rate);
  // Nothing counted yet, or every frame within one tick: no rate rather than a division by 0.
  EXPECT_EQ(0.0, visible_hook.frame_rate());
  tick_update();
  fps_update();
  fps_update();
  EXPECT_EQ(0.0, visible_hook.frame_rate());
  // 25 frames a second for 12 s, then 5 a second for 12 s.
  frames(300, 40);
  EXPECT_NEAR(25.0, visible_hook.frame_rate(), 1.0);
  frames(60, 200);
  EXPECT_NEAR(5.0, visible_hook.frame_rate(), 0.6);
  // A new world starts counting afresh.
  fps_reset();
  frames(10, 100);
  EXPECT_NEAR(10.0, fps_rate(), 1.2);
}

TEST_F(Meters, BandwidthSumsTenSecondsFromEveryThread) {
  bps_init();
  tick_update();
  bps_update();  // starts the one-second grid
  // Four workers and the window thread count at once.
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t)
    workers.emplace_back([] {
      for (int i = 0; i < 10000; ++i) bps_count(1);
    });
  for (int i = 0; i < 10000; ++i) net_count_bytes(1);
  for (auto& w : workers) w.join();
  fake_now += 999;
  tick_update();
  bps_update();
  EXPECT_EQ(0.0, bps_rate());  // not yet a second
  fake_now += 1;
  tick_update();
  bps_update();
  EXPECT_DOUBLE_EQ(50000 * 0.0001, bps_rate());
  // The slot that counted leaves the ten-second window after ten more seconds.
  for (int i = 0; i < 9; ++i) {
    fake_now += 1000;
    tick_update();
    bps_update();
  }
  EXPECT_DOUBLE_EQ(50000 * 0.0001, bps_rate());
  fake_now += 1000;
  tick_update();
  bps_update();
  EXPECT_EQ(0.0, bps_rate());
}

TEST_F(Meters, FrameObjectsStepOnTheTwoHundredMillisecondGrid) {
  ASSERT_TRUE(VxInitialize(nullptr));
  // A texture of four 16 x 16 frames stacked.
  VxRaster* raster = VxCreateRaster(16, 64);
  ASSERT_NE(nullptr, raster);
  VxTexture* texture = VxCreateTexture(raster);
  ASSERT_NE(nullptr, texture);
  int frame0 = VxGetTextureFrame(texture);
  tick_update();
  frame_update();
  EXPECT_EQ(fake_now + FRAME_STEP_MS, frame_next_step());
  uint32_t first = frame_next_step();
  fake_now += 199;
  tick_update();
  frame_update();
  EXPECT_EQ(0, frame_steps());
  EXPECT_EQ(frame0, VxGetTextureFrame(texture));
  // 650 ms late: one pass, and the next step on the first boundary after now.
  fake_now = first + 650;
  tick_update();
  frame_update();
  EXPECT_EQ(1, frame_steps());
  EXPECT_NE(frame0, VxGetTextureFrame(texture));
  EXPECT_EQ(first + 800, frame_next_step());
  VxDestroyTexture(texture);
  VxShutdown();
}
