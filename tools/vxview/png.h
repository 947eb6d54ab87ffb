// A small PNG writer and reader for 8-bit RGB images (one IDAT, no interlace).
#ifndef TESSEL_TOOLS_VXVIEW_PNG_H
#define TESSEL_TOOLS_VXVIEW_PNG_H

#include <cstdint>
#include <string>
#include <vector>

namespace vxview {

bool png_write(const std::string& path, int width, int height, const uint8_t* rgb);
// Reads what png_write writes (8-bit RGB, filters of any kind); false for anything else.
bool png_read(const std::string& path, int& width, int& height, std::vector<uint8_t>& rgb);

}  // namespace vxview

#endif
