#pragma once
// A minimal PNG writer (8-bit RGB, one IDAT) for saving test canvases.
#include <cstdint>
#include <string>
#include <vector>

namespace driver_test {

std::vector<uint8_t> png_encode(int width, int height, const uint8_t* rgb);
bool png_save(const std::string& path, int width, int height, const uint8_t* rgb);

}  // namespace driver_test
