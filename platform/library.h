#pragma once
// Our shared libraries (plug-ins and stand-ins) live beside libtessel_platform.so.
#include <string>

// The folder of libtessel_platform.so, with a trailing slash ("" when unknown).
std::string platform_library_dir();
// dlopen of file from that folder, else by name through the library path. Null on failure.
void* platform_library_open(const char* file);
