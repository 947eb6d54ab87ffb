#pragma once
// The program directory: where tessel.ini, cache/, Messages/, help/ and the keyed files live.
// TESSEL_HOME names it when set; otherwise it is the folder of the running executable.
#include <string>

// Without a trailing slash. Computed once; platform_set_program_dir overrides it (tests).
const std::string& platform_program_dir();
void platform_set_program_dir(const std::string& dir);
// The directory that holds the running executable (the engine looks for plug-ins there too).
std::string platform_executable_dir();
