// The main of every test program: the environment the tests expect (fixture folders, the
// offscreen Qt platform, the silent audio driver), unless the caller set it already.
#include <gtest/gtest.h>

#include <cstdlib>

// Set by a test program that made the Qt application (tests/support/qt_app.h): it goes at the
// end of main, before the static destructors, as the program's own does.
void (*tessel_test_end_of_main)() = nullptr;

// Qt's font set-up keeps a few fontconfig blocks for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

int main(int argc, char** argv) {
  setenv("TESSEL_SOURCE_DIR", TESSEL_SOURCE_DIR, 0);
  setenv("TESSEL_BINARY_DIR", TESSEL_BINARY_DIR, 0);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  ::testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  if (tessel_test_end_of_main) tessel_test_end_of_main();
  return result;
}
