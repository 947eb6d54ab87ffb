#pragma once
// What every driver test checks once the plug-in has let go of a device.
#include <gtest/gtest.h>

#include "platform/gdi.h"
#include "tests/driver/driver_harness.h"

namespace driver_test {

// No block of the engine's allocator left, freed twice or written past its ends; the GDI
// objects and DCs back at the counts given; no DirectDraw object, surface or clipper left
// and exclusive mode given up.
inline void expect_all_given_back(TestEngine& engine, int gdi_objects, int gdi_dcs) {
  EXPECT_EQ(engine.memory().live(), 0u);
  EXPECT_EQ(engine.memory().bad_frees(), 0);
  EXPECT_EQ(engine.memory().canary_faults(), 0);
  EXPECT_EQ(gdi_live_objects(), gdi_objects);
  EXPECT_EQ(gdi_live_dcs(), gdi_dcs);
  DdStandinStats s = engine.dd_stats();
  EXPECT_EQ(s.objects, 0);
  EXPECT_EQ(s.surfaces, 0);
  EXPECT_EQ(s.clippers, 0);
  EXPECT_EQ(s.exclusive, 0);
}

}  // namespace driver_test
