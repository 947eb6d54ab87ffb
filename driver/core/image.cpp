// Image pixel allocation, masks, the bitmap-import row pipeline and the format converters.
// Image records come from the engine: every size and pitch is checked before a pixel is
// touched, and all size arithmetic is done in 64 bits.
#include "driver/core/image.h"

#include <cstring>
#include <utility>

#include "driver/core/colour_match.h"
#include "driver/core/driver.h"
#include "driver/core/palette.h"
#include "driver/spans/fixed.h"
#include "platform/gdi.h"

namespace {

bool side_ok(int32_t n) { return n >= 0 && n <= kImageMaxSide; }

// Pixels present and every row of width pixels of bytes_per_pixel inside its pitch.
bool geometry_ok(const DeviceRaster* image, int32_t bytes_per_pixel) {
  if (!image || !image->pixels || !side_ok(image->width) || !side_ok(image->height)) return false;
  if (bytes_per_pixel <= 0) return false;
  int64_t row = static_cast<int64_t>(image->width) * bytes_per_pixel;
  int64_t pitch = image->pitch < 0 ? -static_cast<int64_t>(image->pitch) : image->pitch;
  return pitch >= row;
}

uint8_t* row_at(const DeviceRaster* image, int32_t r) {
  return image->pixels + static_cast<ptrdiff_t>(r) * image->pitch;
}

// Locks images whose flags ask for it through the engine's lock entry and unlocks them, in
// reverse order, when it goes out of scope.
class ImageLocks {
 public:
  ~ImageLocks() {
    DeviceRecord* d = g_drv.services ? &g_drv.services->device : nullptr;
    while (count_ > 0) {
      DeviceRaster* image = held_[--count_];
      if (d && d->unlock_raster) d->unlock_raster(image);
    }
  }
  bool lock(DeviceRaster* image) {
    if (!(image->flags & kRasterLockFirst)) return true;
    DeviceRecord* d = g_drv.services ? &g_drv.services->device : nullptr;
    if (!d || !d->lock_raster || !d->lock_raster(image)) return false;
    held_[count_++] = image;
    return true;
  }

 private:
  DeviceRaster* held_[2] = {};
  int count_ = 0;
};

// The matcher's answer as a palette index; no tree (-1) stands in as entry 0.
int32_t nearest(const uint8_t* rgb) {
  int32_t i = OctreeNearestColour(rgb);
  return i < 0 || i > 255 ? 0 : i;
}

bool is_palette_source(const DeviceRaster* image) {
  return image->depth == 8 && image->kind == kRasterKindColour;
}

// The destination takes the source's size at depth. Pixels the destination already has
// are kept when they fit; otherwise new ones are allocated.
bool prepare_destination(const DeviceRaster* source, DeviceRaster* destination, int32_t depth) {
  if (!side_ok(source->width) || !side_ok(source->height)) return false;
  if (destination->pixels && destination->width == source->width &&
      destination->height == source->height && destination->depth == depth)
    return true;
  destination->width = source->width;
  destination->height = source->height;
  destination->depth = depth;
  destination->pixels = nullptr;
  return ImageAllocPixels(destination) != nullptr;
}

int highest_bit(uint32_t mask) {
  for (int byte = 3; byte >= 0; --byte) {
    uint32_t b = (mask >> (8 * byte)) & 0xFF;
    if (b) return 8 * byte + BitLengthTable[b] - 1;
  }
  return -1;
}

// Moves bits from one highest bit to another; shift counts are taken modulo 32.
uint32_t move_bits(uint32_t value, int from, int to) {
  if (from > to) return value >> ((from - to) & 31);
  return value << ((to - from) & 31);
}

uint32_t read_pixel(const uint8_t* p, int32_t depth) {
  switch (depth) {
    case 8: return p[0];
    case 15:
    case 16: return static_cast<uint32_t>(p[0] | (p[1] << 8));
    case 24: return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
    default:
      return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
             (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
  }
}

void write_pixel(uint8_t* p, int32_t depth, uint32_t v) {
  switch (depth) {
    case 8: p[0] = static_cast<uint8_t>(v); break;
    case 15:
    case 16:
      p[0] = static_cast<uint8_t>(v);
      p[1] = static_cast<uint8_t>(v >> 8);
      break;
    case 24:
      p[0] = static_cast<uint8_t>(v >> 16);
      p[1] = static_cast<uint8_t>(v >> 8);
      p[2] = static_cast<uint8_t>(v);
      break;
    default:
      for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
      break;
  }
}

// A 32-bit channel by its mask: the byte the mask names, bits 0-7 for any other mask.
uint8_t channel32(uint32_t pixel, uint32_t mask) {
  switch (mask) {
    case 0xFF000000u: return static_cast<uint8_t>(pixel >> 24);
    case 0x00FF0000u: return static_cast<uint8_t>(pixel >> 16);
    case 0x0000FF00u: return static_cast<uint8_t>(pixel >> 8);
    default: return static_cast<uint8_t>(pixel);
  }
}

// ---------------------------------------------------------------------------------------
// Scaler state, one import at a time.

struct Scaler {
  int64_t* sums = nullptr;  // output row red, green, blue; input row red, green, blue
  int32_t capacity = 0;
  int32_t in_width = 0, in_height = 0;
  int32_t out_width = 0, out_height = 0;
  int64_t hstep = 0, vstep = 0;
  int64_t position = 0;  // covered part of the open output row, 16.16
  int32_t out_row = 0;   // output rows written
  bool active = false;
};
Scaler g_scaler;

int64_t* out_sum(int k) { return g_scaler.sums + static_cast<ptrdiff_t>(k) * g_scaler.capacity; }
int64_t* in_sum(int k) { return g_scaler.sums + static_cast<ptrdiff_t>(3 + k) * g_scaler.capacity; }

bool scaler_reserve(int32_t width) {
  if (g_scaler.sums && g_scaler.capacity >= width) return true;
  size_t bytes = sizeof(int64_t) * 6 * static_cast<size_t>(width);
  void* p = g_scaler.sums ? DriverRealloc(g_scaler.sums, bytes) : DriverAlloc(bytes);
  if (!p) return false;
  g_scaler.sums = static_cast<int64_t*>(p);
  g_scaler.capacity = width;
  return true;
}

// One output row from the three sums. The sums hold input pixel area in 16.16 times the
// byte; an output pixel covers (in_width x in_height) / (out_width x out_height) pixels.
// The normalisation is exact: factors in 8.8 lose every bit for bitmaps many times wider
// or taller than the texture, and the row would come out black.
void RowWrite(DeviceRaster* image, int32_t out_row, const int64_t* red, const int64_t* green,
              const int64_t* blue) {
  uint8_t* row = row_at(image, out_row);
  const __int128 scale = static_cast<__int128>(g_scaler.out_width) * g_scaler.out_height;
  const __int128 area = static_cast<__int128>(g_scaler.in_width) * g_scaler.in_height * 65536;
  const int64_t* sums[3] = {red, green, blue};
  for (int32_t c = 0; c < image->width; ++c) {
    for (int k = 0; k < 3; ++k) {
      __int128 v = (sums[k][c] * scale + area / 2) / area;
      row[3 * c + k] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
  }
}

void scaler_write_row(DeviceRaster* image, int32_t flags) {
  if (g_scaler.out_row >= g_scaler.out_height) return;
  int32_t o = g_scaler.out_row++;
  int32_t stored = (flags & kImportBottomUp) ? g_scaler.out_height - 1 - o : o;
  RowWrite(image, stored, out_sum(0), out_sum(1), out_sum(2));
  for (int k = 0; k < 3; ++k) std::memset(out_sum(k), 0, sizeof(int64_t) * g_scaler.out_width);
}

// Horizontal area average of one 24-bit input row into the input-row sums.
void scale_columns(const uint8_t* row) {
  const int64_t limit = static_cast<int64_t>(g_scaler.in_width) << 16;
  for (int32_t i = 0; i < g_scaler.out_width; ++i) {
    int64_t start = i * g_scaler.hstep;
    int64_t end = start + g_scaler.hstep;
    if (end > limit) end = limit;
    int64_t s[3] = {0, 0, 0};
    int64_t p = start >> 16;
    while (p < g_scaler.in_width && (p << 16) < end) {
      int64_t lo = p << 16 > start ? p << 16 : start;
      int64_t hi = (p + 1) << 16 < end ? (p + 1) << 16 : end;
      int64_t w = hi - lo;
      for (int k = 0; k < 3; ++k) s[k] += w * row[3 * p + k];
      ++p;
    }
    for (int k = 0; k < 3; ++k) in_sum(k)[i] = s[k];
  }
}

// Vertical area average: the input row covers vstep of output rows.
void scale_rows(DeviceRaster* image, int32_t flags) {
  const int32_t w = g_scaler.out_width;
  int64_t remaining = g_scaler.vstep;
  while (g_scaler.position + remaining >= 65536 && g_scaler.out_row < g_scaler.out_height) {
    int64_t part = 65536 - g_scaler.position;
    int64_t weight = part * 65536 / g_scaler.vstep;  // share of the input row, 16.16
    for (int k = 0; k < 3; ++k)
      for (int32_t c = 0; c < w; ++c) out_sum(k)[c] += (in_sum(k)[c] * weight) >> 16;
    scaler_write_row(image, flags);
    remaining -= part;
    g_scaler.position = 0;
  }
  if (remaining > 0 && g_scaler.out_row < g_scaler.out_height) {
    if (remaining == g_scaler.vstep) {
      for (int k = 0; k < 3; ++k)
        for (int32_t c = 0; c < w; ++c) out_sum(k)[c] += in_sum(k)[c];
    } else {
      int64_t weight = remaining * 65536 / g_scaler.vstep;
      for (int k = 0; k < 3; ++k)
        for (int32_t c = 0; c < w; ++c) out_sum(k)[c] += (in_sum(k)[c] * weight) >> 16;
    }
    g_scaler.position += remaining;
  }
}

// First scaled row: output size, steps, factor, pixels and cleared sums.
bool scaler_start(int32_t width, int32_t height, DeviceRaster* image) {
  DeviceRecord* d = g_drv.services ? &g_drv.services->device : nullptr;
  if (!d) return false;
  int32_t out_width = d->texture_width_unit;
  int32_t unit = d->texture_height_unit;
  if (d->small_texture_width_unit != 0 && width < d->texture_width_unit / 2) {
    out_width = d->small_texture_width_unit;
    unit = d->small_texture_height_unit;
  }
  if (out_width <= 0 || out_width > kImageMaxSide || unit <= 0 || unit > kImageMaxSide) return false;
  int64_t e = (static_cast<int64_t>(height) << 16) / width;
  int64_t out_height = ((e & 0xFFFF) || e <= 65536) ? unit : (e >> 16) * out_width;
  if (out_height > kImageMaxSide) return false;

  g_scaler.active = false;
  if (!scaler_reserve(out_width)) return false;
  int64_t stride = (static_cast<int64_t>(out_width) * 3 + 3) & ~int64_t{3};
  void* pixels = DriverAllocZeroed(static_cast<size_t>(stride * out_height));
  if (!pixels) return false;
  image->pixels = static_cast<uint8_t*>(pixels);
  image->width = out_width;
  image->height = static_cast<int32_t>(out_height);
  image->pitch = static_cast<int32_t>(stride);
  image->flags |= kRasterTouched;

  g_scaler.in_width = width;
  g_scaler.in_height = height;
  g_scaler.out_width = out_width;
  g_scaler.out_height = static_cast<int32_t>(out_height);
  g_scaler.hstep = (static_cast<int64_t>(width) << 16) / out_width;
  // Output rows per input row; for a stack of squares the same ratio as the height unit
  // over each square's rows.
  g_scaler.vstep = (out_height << 16) / height;
  if (g_scaler.vstep <= 0) g_scaler.vstep = 1;
  g_scaler.position = 0;
  g_scaler.out_row = 0;
  std::memset(g_scaler.sums, 0, sizeof(int64_t) * 6 * static_cast<size_t>(g_scaler.capacity));
  g_scaler.active = true;
  return true;
}

// The platform layer's bitmap queries.
const BitmapAccess kPlatformAccess = {&gdi_realize_palette, &gdi_get_bitmap_description, &gdi_get_dib_rows};
const BitmapAccess* g_access = &kPlatformAccess;

}  // namespace

void ImageSetBitmapAccess(const BitmapAccess* access) { g_access = access ? access : &kPlatformAccess; }
const BitmapAccess* ImageBitmapAccess() { return g_access; }

DeviceRaster* ImageAllocPixels(DeviceRaster* image) {
  if (!image || !side_ok(image->width) || !side_ok(image->height)) return nullptr;
  if (image->depth < 0 || image->depth > 32) return nullptr;
  int64_t p = image->depth == 15 ? 16 : image->depth;
  int64_t stride = ((p * image->width + 7) / 8 + 3) & ~int64_t{3};
  int64_t bytes = stride * image->height;
  uint8_t* pixels = nullptr;
  if (bytes > 0) {
    pixels = static_cast<uint8_t*>(DriverAlloc(static_cast<size_t>(bytes)));
    if (!pixels) return nullptr;
  }
  image->pixels = pixels;
  image->pitch = static_cast<int32_t>(stride);
  image->driver_raster = nullptr;
  image->flags = pixels ? 11 : 9;
  if (image->bits == 0) {
    // The format each depth takes by default; any other depth gets none.
    struct Format {
      int32_t depth, kind, bits;
      uint32_t red, green, blue;
    };
    static constexpr Format kFormats[] = {
        {8, kRasterKindColour, 8, 0, 0, 0},
        {15, kRasterKindPacked, 16, 0x7C00, 0x03E0, 0x001F},
        {16, kRasterKindPacked, 16, 0xF800, 0x07E0, 0x001F},
        {24, kRasterKindPacked, 24, 0xFF0000, 0x00FF00, 0x0000FF},
    };
    Format f{image->depth, 0, 0, 0, 0, 0};
    for (const Format& known : kFormats)
      if (known.depth == image->depth) f = known;
    image->kind = f.kind;
    image->bits = f.bits;
    image->red_mask = f.red;
    image->green_mask = f.green;
    image->blue_mask = f.blue;
    image->alpha_mask = 0;
  }
  return image;
}

DeviceRaster* ImageApplyMask(DeviceRaster* target, DeviceRaster* mask) {
  if (!target || !mask) return nullptr;
  ImageLocks locks;
  if (!locks.lock(target) || (mask != target && !locks.lock(mask))) return nullptr;
  target->flags |= kRasterTouched;
  mask->flags |= kRasterTouched;
  if (!target->pixels || !mask->pixels || target->width != mask->width ||
      target->height != mask->height)
    return nullptr;
  auto size_of = [](int32_t depth) { return BytesPerPixel(depth) ? BytesPerPixel(depth) : 4; };
  const int32_t tb = size_of(target->depth), mb = size_of(mask->depth);
  if (!geometry_ok(target, tb) || !geometry_ok(mask, mb)) return nullptr;
  for (int32_t r = 0; r < target->height; ++r) {
    uint8_t* t = row_at(target, r);
    const uint8_t* m = row_at(mask, r);
    for (int32_t c = 0; c < target->width; ++c, t += tb, m += mb) {
      bool dark;
      switch (mask->depth) {
        case 8: dark = m[0] < 128; break;
        case 15:
        case 16: dark = (m[0] & 0x1F) < 16; break;
        default: dark = m[1] < 128; break;
      }
      if (dark) std::memset(t, 0, static_cast<size_t>(tb));
    }
  }
  return target;
}

int32_t RowImport(uint8_t* row, int32_t width, int32_t height, int32_t bits, int32_t row_index,
                  DeviceRaster* image, int32_t flags) {
  if (!RowExpand(row, width, bits, row_index, image, flags)) return 0;
  return RowStore(row, width, height, bits, row_index, image, flags);
}

int32_t RowExpand(uint8_t* row, int32_t width, int32_t bits, int32_t, DeviceRaster* image,
                  int32_t flags) {
  if (!row || !image || width <= 0 || width > kImageMaxSide) return 0;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24) return 0;
  if (image->depth == 0) {
    bool wide = (flags & kImportScale) || bits > 8;
    image->depth = wide ? 24 : 8;
    image->kind = wide ? kRasterKindPacked : kRasterKindColour;
    image->bits = wide ? 24 : 8;
    image->red_mask = wide ? 0xFF0000u : 0;
    image->green_mask = wide ? 0x00FF00u : 0;
    image->blue_mask = wide ? 0x0000FFu : 0;
    image->alpha_mask = 0;
  }
  auto index_at = [&](int32_t i) -> uint8_t {
    switch (bits) {
      case 1: return (row[i >> 3] >> (7 - (i & 7))) & 1;
      case 4: return (i & 1) ? (row[i >> 1] & 0x0F) : (row[i >> 1] >> 4);
      default: return row[i];
    }
  };
  if (image->depth == 24) {
    if (bits == 24) {
      if (flags & kImportSwapRB)
        for (int32_t i = 0; i < width; ++i) {
          uint8_t t = row[3 * i];
          row[3 * i] = row[3 * i + 2];
          row[3 * i + 2] = t;
        }
      return 1;
    }
    if (!image->palette) return 0;
    // From the end backwards: a packed index never lies after the bytes it widens into.
    for (int32_t i = width - 1; i >= 0; --i) {
      const uint8_t* colour = image->palette + 3 * index_at(i);
      uint8_t r = colour[0], g = colour[1], b = colour[2];
      row[3 * i] = r;
      row[3 * i + 1] = g;
      row[3 * i + 2] = b;
    }
    return 1;
  }
  if (image->depth != 8 || bits == 24) return 0;
  if (bits == 8) return 1;
  for (int32_t i = width - 1; i >= 0; --i) row[i] = index_at(i);
  return 1;
}

int32_t RowStore(uint8_t* row, int32_t width, int32_t height, int32_t, int32_t row_index,
                 DeviceRaster* image, int32_t flags) {
  if (!row || !image || width <= 0 || height <= 0 || width > kImageMaxSide || height > kImageMaxSide)
    return 0;
  if (row_index < 0 || row_index >= height) return 0;
  const int32_t bpp = BytesPerPixel(image->depth);
  if (image->depth != 8 && image->depth != 24) return 0;

  if (flags & kImportScale) {
    if (image->depth != 24) return 0;
    if (!image->pixels) {
      if (!scaler_start(width, height, image)) return 0;
    } else if (!g_scaler.active || g_scaler.in_width != width || g_scaler.in_height != height ||
               image->width != g_scaler.out_width || image->height != g_scaler.out_height ||
               !geometry_ok(image, 3)) {
      return 0;
    }
    scale_columns(row);
    scale_rows(image, flags);
    if (row_index == height - 1) {
      if (g_scaler.position > 0) scaler_write_row(image, flags);
      g_scaler.active = false;
    }
    return 1;
  }

  if (!image->pixels) {
    int64_t stride = (static_cast<int64_t>(image->depth) * width / 8 + 3) & ~int64_t{3};
    void* pixels = DriverAllocZeroed(static_cast<size_t>(stride * height));
    if (!pixels) return 0;
    image->pixels = static_cast<uint8_t*>(pixels);
    image->width = width;
    image->height = height;
    image->pitch = static_cast<int32_t>(stride);
    image->flags |= kRasterTouched;
  } else if (image->width != width || image->height != height || !geometry_ok(image, bpp)) {
    return 0;
  }
  int32_t r = (flags & kImportBottomUp) ? height - 1 - row_index : row_index;
  std::memcpy(row_at(image, r), row, static_cast<size_t>(width) * bpp);
  return 1;
}

void ImageScalerFree() {
  DriverFree(g_scaler.sums);
  g_scaler = Scaler{};
}

DeviceRaster* ImageToPalette(DeviceRaster* source, DeviceRaster* destination, int32_t flags) {
  if (flags & kConvertChannel) return ImageChannelToIndex(source, destination, flags);
  return ImageToPaletteMatched(source, destination, flags);
}

DeviceRaster* ImageChannelToIndex(DeviceRaster* source, DeviceRaster* destination, int32_t) {
  if (!source || !destination || source == destination) return nullptr;
  const bool palette = is_palette_source(source);
  if (palette && !source->palette) return nullptr;
  if (!prepare_destination(source, destination, 8)) return nullptr;
  destination->flags |= kRasterTouched;
  source->flags |= kRasterTouched;
  if (source->width == 0 || source->height == 0) return destination;
  ImageLocks locks;
  if (!locks.lock(source) || !locks.lock(destination)) return nullptr;
  // Other sources are read as three bytes a pixel: their rows must hold that much.
  if (!geometry_ok(source, palette ? 1 : 3) || !geometry_ok(destination, 1)) return nullptr;
  for (int32_t r = 0; r < source->height; ++r) {
    const uint8_t* s = row_at(source, r);
    uint8_t* d = row_at(destination, r);
    for (int32_t c = 0; c < source->width; ++c)
      d[c] = palette ? source->palette[3 * s[c] + 2] : s[3 * c + 2];
  }
  return destination;
}

DeviceRaster* ImageToPaletteMatched(DeviceRaster* source, DeviceRaster* destination, int32_t flags) {
  if (!source || !destination || source == destination) return nullptr;
  const bool palette = is_palette_source(source);
  if (palette && !source->palette) return nullptr;
  if (!palette && source->depth != 24 && source->depth != 32) return nullptr;
  if (!prepare_destination(source, destination, 8)) return nullptr;
  destination->flags |= kRasterTouched;
  source->flags |= kRasterTouched;
  const int32_t width = source->width, height = source->height;
  if (width == 0 || height == 0) return destination;
  ImageLocks locks;
  if (!locks.lock(source) || !locks.lock(destination)) return nullptr;
  const int32_t sb = BytesPerPixel(source->depth);
  if (!geometry_ok(source, sb) || !geometry_ok(destination, 1)) return nullptr;

  const bool diffuse = flags & kConvertDiffuse;
  if (!diffuse && palette) {
    uint8_t map[256];
    for (int i = 0; i < 256; ++i) map[i] = static_cast<uint8_t>(nearest(source->palette + 3 * i));
    for (int32_t r = 0; r < height; ++r) {
      const uint8_t* s = row_at(source, r);
      uint8_t* d = row_at(destination, r);
      for (int32_t c = 0; c < width; ++c) d[c] = map[s[c]];
    }
    return destination;
  }

  // Two error rows of width + 2 entries of three channels; column c lives at entry c + 1.
  const size_t entries = static_cast<size_t>(width) + 2;
  int32_t* errors = nullptr;
  if (diffuse) {
    errors = static_cast<int32_t*>(DriverAllocZeroed(sizeof(int32_t) * 3 * 2 * entries));
    if (!errors) return nullptr;
  }
  int32_t* above = errors;
  int32_t* below = errors ? errors + 3 * entries : nullptr;

  for (int32_t r = 0; r < height; ++r) {
    const uint8_t* s = row_at(source, r);
    uint8_t* d = row_at(destination, r);
    const bool forward = (r & 1) == 0;
    const int32_t step = forward ? 1 : -1;
    int32_t carry[3] = {0, 0, 0};
    if (diffuse) std::memset(below, 0, sizeof(int32_t) * 3 * entries);
    for (int32_t n = 0; n < width; ++n) {
      const int32_t c = forward ? n : width - 1 - n;
      uint8_t rgb[3];
      if (palette) {
        std::memcpy(rgb, source->palette + 3 * s[c], 3);
      } else if (source->depth == 24) {
        std::memcpy(rgb, s + 3 * c, 3);
      } else {
        uint32_t p = read_pixel(s + 4 * c, 32);
        rgb[0] = channel32(p, source->red_mask);
        rgb[1] = channel32(p, source->green_mask);
        rgb[2] = channel32(p, source->blue_mask);
      }
      int32_t value[3];
      for (int k = 0; k < 3; ++k) {
        value[k] = rgb[k] * 256;
        if (diffuse) {
          value[k] += carry[k] + above[3 * (c + 1) + k];
          value[k] = value[k] < 0 ? 0 : value[k] > 65535 ? 65535 : value[k];
        }
      }
      const uint8_t query[3] = {static_cast<uint8_t>(value[0] >> 8), static_cast<uint8_t>(value[1] >> 8),
                                static_cast<uint8_t>(value[2] >> 8)};
      int32_t index = ((flags & kConvertTransparent) && !query[0] && !query[1] && !query[2])
                          ? 0
                          : nearest(query);
      d[c] = static_cast<uint8_t>(index);
      if (!diffuse) continue;
      const uint8_t chosen[3] = {PaletteRed[index], PaletteGreen[index], PaletteBlue[index]};
      for (int k = 0; k < 3; ++k) {
        int32_t component = (flags & kConvertGammaError) ? GammaDecodeTable[chosen[k]] : chosen[k];
        int32_t e = (value[k] - component * 256) >> 4;
        carry[k] = 7 * e;
        below[3 * (c + 1 + step) + k] += 3 * e;
        below[3 * (c + 1) + k] += 5 * e;
        below[3 * (c + 1 - step) + k] += e;
      }
    }
    if (diffuse) std::swap(above, below);
  }
  DriverFree(errors);
  return destination;
}

DeviceRaster* ImageConvertMasks(DeviceRaster* source, DeviceRaster* destination, int32_t flags) {
  if (!source || !destination || source == destination) return nullptr;
  const bool palette = is_palette_source(source);
  if (palette && !source->palette) return nullptr;
  const int32_t sb = BytesPerPixel(source->depth), db = BytesPerPixel(destination->depth);
  if (!sb || !db) return nullptr;
  if (!prepare_destination(source, destination, destination->depth)) return nullptr;
  destination->flags |= kRasterTouched;
  source->flags |= kRasterTouched;
  if (source->width == 0 || source->height == 0) return destination;
  ImageLocks locks;
  if (!locks.lock(source) || !locks.lock(destination)) return nullptr;
  if (!geometry_ok(source, sb) || !geometry_ok(destination, db)) return nullptr;

  const uint32_t smask[4] = {source->red_mask, source->green_mask, source->blue_mask, source->alpha_mask};
  const uint32_t dmask[4] = {destination->red_mask, destination->green_mask, destination->blue_mask,
                             destination->alpha_mask};
  int shigh[4], dhigh[4];
  for (int k = 0; k < 4; ++k) {
    shigh[k] = palette ? 7 : highest_bit(smask[k]);
    dhigh[k] = highest_bit(dmask[k]);
  }
  const uint32_t dalpha = dmask[3];
  const uint32_t lowest_blue = dmask[2] & (~dmask[2] + 1);
  const bool keep_zero = (flags & kConvertTransparent) && !palette;

  for (int32_t r = 0; r < source->height; ++r) {
    const uint8_t* s = row_at(source, r);
    uint8_t* d = row_at(destination, r);
    for (int32_t c = 0; c < source->width; ++c) {
      uint32_t result = 0, pixel = 0, blue_bits;
      if (palette) {
        const uint8_t* rgb = source->palette + 3 * s[c];
        for (int k = 0; k < 3; ++k) result |= move_bits(rgb[k], 7, dhigh[k]) & dmask[k];
        blue_bits = rgb[2];
      } else {
        pixel = read_pixel(s + static_cast<ptrdiff_t>(c) * sb, source->depth);
        for (int k = 0; k < 3; ++k) result += move_bits(pixel & smask[k], shigh[k], dhigh[k]) & dmask[k];
        blue_bits = pixel & smask[2];
      }
      if (keep_zero) {
        uint32_t a;
        bool clear;
        if (smask[3]) {
          a = move_bits(pixel & smask[3], shigh[3], dhigh[3]);
          clear = (pixel & smask[3]) == 0;
        } else {
          a = pixel ? 0xFFFFFFFFu : 0;
          clear = pixel == 0;
        }
        if (dalpha)
          result += a & dalpha;
        else if (clear)
          result = 0;
      } else {
        if (dalpha)
          result |= (flags & kConvertChannel) ? move_bits(blue_bits, shigh[2], dhigh[3]) & dalpha : dalpha;
        else if (result == 0)
          result = lowest_blue;
      }
      write_pixel(d + static_cast<ptrdiff_t>(c) * db, destination->depth, result);
    }
  }
  return destination;
}
