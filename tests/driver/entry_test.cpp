// The plug-in's export, the version handshake, the device options and DeviceInit, through
// the plug-in loaded as the engine loads it.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/display.h"
#include "tests/driver/driver_harness.h"

namespace driver_test {
namespace {

class DriverEntry : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(engine.load()); }
  TestEngine engine;
};

TEST_F(DriverEntry, DefaultNameIsWrittenWithItsTerminator) {
  char out[16];
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(engine.vxdev(nullptr, out, &engine.services()), nullptr);
  EXPECT_EQ(std::memcmp(out, "MSWindows\0", 10), 0);
  EXPECT_EQ(out[10], 'x');  // exactly 10 bytes
  EXPECT_EQ(engine.vxdev(nullptr, nullptr, &engine.services()), engine.driver_open);
}

TEST_F(DriverEntry, NamesSelectTheOpenFunction) {
  EngineServices* s = &engine.services();
  for (const char* name : {"MSWindows", "mswindows", "MSWIN", "", "MSWindowsD", "MSWindowsDDX",
                           "MSWindows2", "mSwInDoWs"})
    EXPECT_EQ(engine.vxdev(name, nullptr, s), engine.driver_open) << name;
  for (const char* name : {"MSWindowsDD", "mswindowsdd", "MsWindowsdD"})
    EXPECT_EQ(engine.vxdev(name, nullptr, s), engine.driver_open_dd) << name;
  for (const char* name : {"Windows", "MSX", "NSWindows", "MSWindowz"})
    EXPECT_EQ(engine.vxdev(name, nullptr, s), nullptr) << name;
  EXPECT_NE(engine.driver_open, engine.driver_open_dd);
}

TEST_F(DriverEntry, BytesAboveAsciiAreComparedUnfolded) {
  // 0xED folded by 32 would be 0xCD; no folding applies outside 'a'..'z'.
  const char name[] = {'M', 'S', static_cast<char>(0xF7), 0};
  EXPECT_EQ(engine.vxdev(name, nullptr, &engine.services()), nullptr);
  const char shifted[] = {'M', 'S', 'W', 'I', 'N', 'D', 'O', 'W', static_cast<char>('S' + 128), 0};
  EXPECT_EQ(engine.vxdev(shifted, nullptr, &engine.services()), nullptr);
}

TEST_F(DriverEntry, OpenWritesItsEntriesAndDriverInfo) {
  DeviceRecord& d = engine.device();
  d.version = 0x021C0000;
  ASSERT_EQ(engine.driver_open(&d), 1);
  EXPECT_NE(d.release, nullptr);
  EXPECT_NE(d.get_info, nullptr);
  EXPECT_NE(d.control, nullptr);
  EXPECT_NE(d.device_open, nullptr);
  EXPECT_NE(d.device_init, nullptr);
  EXPECT_EQ(d.device_close, nullptr);
  ASSERT_NE(d.driver_info, nullptr);
  EXPECT_STREQ(d.driver_info->name, "Windows");
  EXPECT_EQ(d.driver_info->major, 2);
  EXPECT_EQ(d.driver_info->minor, 1);
  EXPECT_EQ(d.driver_info->revision, 12);
  EXPECT_EQ(d.driver_info->raster_depth, 8);
  EXPECT_EQ(d.driver_info->depth_bits, 16);
  EXPECT_EQ(d.driver_info->texture_unit, 128);
  EXPECT_EQ(d.driver_info->small_texture_unit, 16);
  EXPECT_EQ(d.driver_info->flags, 0x1122u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(d.driver_info->info_84[i], 123);
  // The two open functions install different device opens.
  DeviceOpenFn plain = d.device_open;
  d.version = 0x021C0000;
  ASSERT_EQ(engine.driver_open_dd(&d), 1);
  EXPECT_NE(d.device_open, plain);
}

struct VersionCase {
  uint32_t engine;
  uint32_t written;
  int result;
};

TEST_F(DriverEntry, VersionHandshake) {
  const VersionCase cases[] = {
      {0x0216ABCD, 0x0000ABCD, 1},  // oldest accepted
      {0x021CABCD, 0x0000ABCD, 1},  // same as the driver
      {0x0215ABCD, 0x021CABCD, 0},  // too old
      {0x0300ABCD, 0x021CABCD, 1},  // newer engine
      {0x021D0001, 0x021C0001, 1},
      {0x00000000, 0x021C0000, 0},
      {0xFFFFFFFF, 0x021CFFFF, 1},
  };
  for (const VersionCase& c : cases) {
    engine.device().version = c.engine;
    EXPECT_EQ(engine.driver_open(&engine.device()), c.result) << std::hex << c.engine;
    EXPECT_EQ(engine.device().version, c.written) << std::hex << c.engine;
  }
}

TEST_F(DriverEntry, TooOldEngineLeavesDirectDrawUnloaded) {
  int before = display_library_open_count();
  engine.device().version = 0x0215ABCD;
  EXPECT_EQ(engine.driver_open(&engine.device()), 0);
  EXPECT_EQ(display_library_open_count(), before);
  EXPECT_EQ(engine.memory().live(), 0u);  // no display-mode table either
  engine.device().version = 0x0216ABCD;
  EXPECT_EQ(engine.driver_open(&engine.device()), 1);
  EXPECT_EQ(display_library_open_count(), before + 1);
}

TEST_F(DriverEntry, OptionsAreMarkedWhenTaken) {
  std::vector<DeviceOption> options = {{1, 0},    {2, 1},    {1000, 0}, {1002, 1}, {1003, 5},
                                       {1004, 24}, {1004, 8}, {1005, 0}, {1006, 0}, {1007, 0},
                                       {999, 0},  {1001, 0}};
  engine.device().version = 0x021C0000;
  ASSERT_EQ(engine.driver_open(&engine.device()), 1);
  ASSERT_EQ(engine.device().device_init(&engine.device(), nullptr, static_cast<int>(options.size()),
                                        options.data()),
            1);
  const bool marked[] = {true, true, true, true, true, false, true, true, true, true, false, false};
  for (size_t i = 0; i < options.size(); ++i)
    EXPECT_EQ((options[i].code & kDeviceOptionAccepted) != 0, marked[i]) << i;
  // A code that already carries the mark is taken by its code alone.
  std::vector<DeviceOption> again = {{kDeviceOptionAccepted | 1004, 8}};
  engine.device().device_init(&engine.device(), nullptr, 1, again.data());
  EXPECT_EQ(again[0].code, kDeviceOptionAccepted | 1004);
}

TEST_F(DriverEntry, DeviceInitOnEachScreen) {
  engine.device().version = 0x021C0000;
  ASSERT_EQ(engine.driver_open(&engine.device()), 1);
  auto init = [&](std::vector<DeviceOption> options) {
    return engine.device().device_init(&engine.device(), nullptr, static_cast<int>(options.size()),
                                       options.data());
  };
  display_profile_set(8, 800, 600);
  EXPECT_EQ(init({}), 1);
  display_profile_set(16, 800, 600);
  EXPECT_EQ(init({}), 0);  // a 16-bit raster is not what this driver draws
  EXPECT_EQ(init({{1004, 8}}), 1);
  display_profile_set(24, 800, 600);
  EXPECT_EQ(init({}), 1);  // the requested depth 8 is remembered from the last init
}

TEST_F(DriverEntry, FifteenBitScreenIsProbedAndSixteenBitProbeCanBeSkipped) {
  engine.device().version = 0x021C0000;
  ASSERT_EQ(engine.driver_open(&engine.device()), 1);
  display_profile_set(15, 640, 480);
  // Reported as 16 bits; the probe finds 5-5-5, which the driver draws at 8 bits.
  EXPECT_EQ(engine.device().device_init(&engine.device(), nullptr, 0, nullptr), 1);
  std::vector<DeviceOption> skip = {{1002, 1}};
  EXPECT_EQ(engine.device().device_init(&engine.device(), nullptr, 1, skip.data()), 0);
  EXPECT_NE(skip[0].code & kDeviceOptionAccepted, 0u);
}

TEST_F(DriverEntry, UnsupportedPlatformRefusesInit) {
  engine.device().version = 0x021C0000;
  ASSERT_EQ(engine.driver_open(&engine.device()), 1);
  display_set_version(0x00000203);  // NT-family 3.2
  EXPECT_EQ(engine.device().device_init(&engine.device(), nullptr, 0, nullptr), 0);
  display_set_version(0x00000503);  // 3.5
  EXPECT_EQ(engine.device().device_init(&engine.device(), nullptr, 0, nullptr), 1);
  display_set_version(0x80000A03);  // the 16-bit host: plain DIBs at 8 bits
  EXPECT_EQ(engine.device().device_init(&engine.device(), nullptr, 0, nullptr), 1);
}

TEST_F(DriverEntry, UnmatchedNameOnlyReplacesTheServicesPointer) {
  EngineServices other{};
  EXPECT_EQ(engine.vxdev("Nothing", nullptr, &other), nullptr);
  // The next open writes into the record it is given.
  engine.device().version = 0x021C0000;
  EXPECT_EQ(engine.driver_open(&engine.device()), 1);
  EXPECT_EQ(other.device.device_open, nullptr);
}

}  // namespace
}  // namespace driver_test
