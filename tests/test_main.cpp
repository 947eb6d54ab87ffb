// The main of every test program: the environment the tests expect (fixture folders, the
// offscreen Qt platform, the silent audio driver), unless the caller set it already.
#include <gtest/gtest.h>

#include <cstdlib>

// Qt's font set-up keeps a few fontconfig blocks for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

int main(int argc, char** argv) {
  setenv("TESSEL_SOURCE_DIR", TESSEL_SOURCE_DIR, 0);
  setenv("TESSEL_BINARY_DIR", TESSEL_BINARY_DIR, 0);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
