// The render modes as the engine reaches them: through the device record of a plug-in loaded
// with dlopen, with the depth buffer switched on and off by the control entry.
#include <gtest/gtest.h>

#include <cstring>

#include "driver/core/context.h"
#include "driver/core/driver.h"
#include "platform/display.h"
#include "platform/gdi.h"
#include "platform/surface.h"
#include "tests/driver/driver_harness.h"

namespace driver_test {
namespace {

TEST(RenderDevice, DrawsThroughTheTableAndFollowsTheDepthControl) {
  display_profile_set(8, 640, 480);
  TestEngine engine;
  ASSERT_TRUE(engine.load());
  CanvasSurface canvas{100, 80, 0};
  PlatformWindow* window = window_create_plain(0, 0, &canvas);
  DeviceRecord& d = engine.device();
  ASSERT_EQ(engine.open("MSWindows", {{1000, 0}}, window), 1);
  DeviceCamera* camera = engine.add_camera(40, 30);
  ASSERT_EQ(d.create_raster(camera, 40, 30), 1);
  ASSERT_EQ(d.begin_frame(camera, window), 1);
  camera->background_index = 3;
  DeviceRect all{0, 0, 40, 30};
  ASSERT_EQ(d.fill_rect(camera, &all), 1);
  ASSERT_EQ(d.clear_depth_rect(&all), 1);

  // Depth buffer on after the open: bank 1 holds the depth twins.
  EXPECT_NE(d.render_modes[1][12], d.render_modes[0][12]);
  DeviceMaterial material{};
  material.colour = 0x0100;
  material.opacity = 255;
  DeviceVertex v[4]{};
  const int xy[4][2] = {{2, 2}, {2, 28}, {38, 28}, {38, 2}};
  auto polygon = std::make_unique<DevicePolygon>();
  polygon->material = &material;
  polygon->shade = 3 << 16;
  polygon->vertex_count = 4;
  for (int i = 0; i < 4; ++i) {
    v[i].screen_x = xy[i][0] << 16;
    v[i].screen_y = xy[i][1] << 16;
    v[i].depth = 0x300000;
    polygon->vertices[i] = &v[i];
  }
  EXPECT_EQ(d.render_modes[1][12](polygon.get(), 0), 0);
  const uint8_t drawn = camera->row_table[10][10];
  EXPECT_NE(drawn, 3);
  EXPECT_EQ(camera->row_table[1][10], 3);
  EXPECT_EQ(camera->row_table[10][38], 3);
  // A farther polygon behind it is hidden by the depth test.
  for (auto& vx : v) vx.depth = 0x200000;
  material.colour = 0x0400;
  polygon->shade = 31 << 16;
  d.render_modes[1][12](polygon.get(), 0);
  EXPECT_EQ(camera->row_table[10][10], drawn);

  // Depth buffer off: bank 1 equals bank 0 and bank 0 is unchanged.
  RenderModeFn bank0[64];
  std::memcpy(bank0, d.render_modes[0], sizeof bank0);
  ASSERT_EQ(d.control(7, 0, nullptr, 0), 1);
  EXPECT_EQ(std::memcmp(bank0, d.render_modes[0], sizeof bank0), 0);
  for (int slot : {0, 1, 4, 5, 8, 9, 12, 13, 14, 15, 20, 21, 22, 23})
    EXPECT_EQ(d.render_modes[1][slot], d.render_modes[0][slot]) << slot;
  d.render_modes[1][12](polygon.get(), 0);  // drawn over, no depth test now
  EXPECT_NE(camera->row_table[10][10], drawn);
  ASSERT_EQ(d.control(7, 1, nullptr, 0), 1);
  EXPECT_NE(d.render_modes[1][12], d.render_modes[0][12]);

  EXPECT_EQ(d.end_frame(camera), 1);
  EXPECT_EQ(d.destroy_raster(camera), 1);
  EXPECT_EQ(d.device_close(&d), 0);
  EXPECT_EQ(d.release(), 1);
  EXPECT_EQ(engine.memory().canary_faults(), 0);
  window_destroy(window);
}

TEST(RenderDevice, InstallAtOtherRasterDepths) {
  DeviceRecord record{};
  for (auto& bank : record.render_modes)
    for (auto& slot : bank) slot = &RenderModeNone;
  record.raster_depth = 1;
  EXPECT_EQ(InstallRenderModes(&record), 1);
  for (auto& bank : record.render_modes)
    for (auto& slot : bank) EXPECT_EQ(slot, &RenderModeNone);
  record.raster_depth = 16;
  EXPECT_EQ(InstallRenderModes(&record), 0);
  for (auto& bank : record.render_modes)
    for (auto& slot : bank) EXPECT_EQ(slot, &RenderModeNone);
  record.raster_depth = 8;
  EXPECT_EQ(InstallRenderModes(&record), 1);
  EXPECT_NE(record.render_modes[0][12], &RenderModeNone);
  EXPECT_EQ(record.render_modes[0][2], &RenderModeNone);
}

}  // namespace
}  // namespace driver_test
