// Render-context operations that the device open builds on: the context entries, the frame
// state of BeginFrame, colour and pixel conversion, queries and controls, raster locks and
// shade-table sets.
#include "driver/core/context.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "driver/core/colour_match.h"
#include "driver/core/depth.h"
#include "driver/core/driver.h"
#include "driver/core/image.h"
#include "driver/core/palette.h"
#include "driver/core/shade.h"
#include "driver/spans/fixed.h"
#include "driver/spans/span_state.h"
#include "driver/spans/vertex_transform.h"
#include "platform/gdi.h"

int32_t ContextDepth = 0;
int32_t FramePitch = 0;
uint8_t** FrameRows = nullptr;
int32_t FrameLimitX = 0;
int32_t FrameLimitY = 0;
int32_t HandlerMask = 0xF;
const uint32_t* FrameDitherRows[4] = {};

namespace {

// The fourteen render-mode slots the driver uses.
constexpr int kModeSlots[14] = {0, 1, 4, 5, 8, 9, 12, 13, 14, 15, 20, 21, 22, 23};

struct Hsv {
  int32_t hue;  // 16.16 in [0, 6.0), -1 for grey
  int32_t saturation;
  int32_t value;
};

Hsv RgbToHsv(const DeviceColour& c) {
  int32_t r = c.red, g = c.green, b = c.blue;
  int32_t max = r, min = r;
  if (g > max) max = g;
  if (b > max) max = b;
  if (g < min) min = g;
  if (b < min) min = b;
  Hsv out{-1, 0, max};
  if (max - min < 0xCCC) return out;
  int32_t denominator = (max + 128) >> 8;
  out.saturation = denominator ? ((max - min) * 256) / denominator : 0;
  int32_t d = (max - min + 128) >> 8;
  if (d == 0) d = 1;
  int32_t hue;
  if (max == r)
    hue = ((g - b) * 256) / d;
  else if (max == g)
    hue = ((b - r) * 256) / d + 0x20000;
  else
    hue = ((r - g) * 256) / d + 0x40000;
  if (hue < 0) hue += 0x60000;
  if (hue >= 0x60000) hue -= 0x60000;
  out.hue = hue;
  return out;
}

// Index into ColourRampTable; level < 0 takes the colour's own brightness.
int32_t ramp_index(const DeviceColour& colour, int32_t level) {
  Hsv hsv = RgbToHsv(colour);
  int32_t s = ((FixedMulSat(hsv.saturation, 4 << 16) + 0x8000) >> 16) - 1;
  if (s > 3) s = 3;
  if (hsv.hue != -1 && s >= 0) {
    int32_t h = (FixedMulSat(hsv.hue, 6 << 16) >> 16) % 36;
    if (h < 0) h += 36;
    int32_t v = level >= 0 ? level : (hsv.value * 24) >> 16;
    if (s & 1) v = 31 - v;
    return (h * 4 + s) * 32 + v;
  }
  int32_t v = level >= 0 ? level : (hsv.value * 31) >> 16;
  return 4608 + v;
}

bool raster_in(const DeviceRaster* raster, const DeviceRect* rect) {
  return raster && rect && rect->x >= 0 && rect->y >= 0 && rect->w > 0 && rect->h > 0 &&
         rect->x <= raster->width - rect->w && rect->y <= raster->height - rect->h;
}

}  // namespace

int32_t ColourRampIndex(const DeviceColour* colour, int32_t level) {
  return colour ? ramp_index(*colour, level) : 0;
}

// The band of rows chosen with control code 1200 (count < 0: all), as row addresses of the
// frame, taken at each frame's start.
static int32_t DrawnRowFirst = 0, DrawnRowCount = -1;
static void ApplyDrawnRows() {
  DrawnRowsFirst = 0;
  DrawnRowsSpan = UINTPTR_MAX;
  if (DrawnRowCount < 0) return;
  const int32_t height = FrameLimitY >> 16;
  const int32_t first = std::clamp(DrawnRowFirst, 0, height), end = std::clamp(DrawnRowFirst + DrawnRowCount, first, height);
  if (!FrameRows || end <= first) {
    DrawnRowsSpan = 0;
    return;
  }
  const uintptr_t a = reinterpret_cast<uintptr_t>(FrameRows[first]), b = reinterpret_cast<uintptr_t>(FrameRows[end - 1]);
  DrawnRowsFirst = std::min(a, b);
  DrawnRowsSpan = std::max(a, b) - DrawnRowsFirst + 1;
}

int32_t InstallContextOps(DeviceRecord* record, int32_t, int32_t, int32_t depth, int32_t) {
  DrawnRowCount = -1;
  ApplyDrawnRows();
  DepthBufferPitch = 0;
  DepthHeight = 0;
  ContextDepth = depth;
  record->raster_depth = depth;
  record->shade_levels = 32;
  record->begin_frame = &BeginFrame;
  record->fill_rect = &ContextFillRect;
  record->copy_rect = &RasterCopyRect;
  record->clear_depth_rect = &ContextClearZRect;
  record->convert_image = &ConvertImage;
  record->import_bitmap = &ImportBitmapNone;
  record->release = &ContextReleaseTables;
  record->colour_to_pixel = &ColourToPixel;
  record->pixel_to_colour = &PixelToColour;
  record->colour_pack = &ColourPack;
  record->get_info = &ContextGetInfo;
  record->control = &ContextControl;
  record->free_image_pixels = &ImageFreePixels;
  record->palette_changed = &PaletteUpdateDefault;
  record->colour_to_palette_index = &ColourToPaletteIndex;
  record->transform_vertices = &TransformVertices;
  record->lock_raster = &RasterLock;
  record->unlock_raster = &RasterUnlock;
  record->alloc_image_pixels = &ImageAllocPixels;
  record->apply_image_mask = &ImageApplyMask;
  record->shade_create = &ShadeTablesCreate;
  record->shade_destroy = &ShadeTablesDestroy;
  record->shade_select = &ShadeTablesSelect;
  for (int bank = 0; bank < kRenderModeBanks; ++bank)
    for (int slot : kModeSlots) record->render_modes[bank][slot] = &RenderModeNone;
  // QuotientTable and the default shade-table set for the depth.
  return ContextTablesCreate(depth) ? 1 : 0;
}

// The rasterisers' table writer, when they are linked in.
__attribute__((weak)) void RenderModeTableWrite(DeviceRecord* record, int32_t depth_on);

// Weak so that a render-mode module of its own may take its place.
__attribute__((weak)) int32_t InstallRenderModes(DeviceRecord* record) {
  record->clear_depth_rect =
      g_drv.depth_buffer_on && g_drv.saved_clear_depth ? g_drv.saved_clear_depth : &ZBufferClearNone;
  if (record->raster_depth == 1) return 1;
  if (record->raster_depth != 8) return 0;
  if (&RenderModeTableWrite != nullptr) {
    RenderModeTableWrite(record, g_drv.depth_buffer_on);
    return 1;
  }
  // Without the rasterisers every slot draws nothing.
  for (int bank = 0; bank < kRenderModeBanks; ++bank)
    for (int slot : kModeSlots) record->render_modes[bank][slot] = &RenderModeNone;
  return 1;
}

int32_t BeginFrame(DeviceCamera* camera, void*) {
  if (!camera) return 0;
  DeviceRaster* raster = camera->colour_raster;
  FramePitch = raster ? raster->pitch : 0;
  FrameRows = camera->row_table;
  FrameLimitX = camera->width << 16;
  FrameLimitY = camera->height << 16;
  HandlerMask = (camera->projection_flags & kCameraNoPerspectiveTexturing) ? 0xD : 0xF;
  int x = camera->target_x & 7, y = camera->target_y & 7;
  FrameDitherRows[0] = &DitherMatrices[0][x];
  FrameDitherRows[1] = &DitherMatrices[1][y];
  FrameDitherRows[2] = &DitherMatrices[2][x];
  FrameDitherRows[3] = &DitherMatrices[3][y];
  ApplyDrawnRows();
  return 1;
}

int32_t ContextGetInfo(int32_t code, void* out, int32_t out_size) {
  if (!out || out_size < 4) return 0;
  int32_t depth = ContextDepth;
  int32_t answer;
  switch (code) {
    case 1: answer = depth; break;
    case 2:
    case 3: answer = depth == 8 ? 1 : 0; break;
    case 5:
      if (depth != 8) return 0;
      answer = 256;
      break;
    case 8: answer = 0x41F80000; break;
    case 9: answer = 0x7FFFFF00; break;
    case 10: answer = 255; break;
    case 11:
      if (depth != 8) return 0;
      answer = 32;
      break;
    case 13: answer = 0; break;
    case 17: answer = RampSineCurve; break;
    case 18: std::memcpy(&answer, &RampKnee, 4); break;
    default: return 0;
  }
  std::memcpy(out, &answer, 4);
  return 1;
}

int32_t ContextControl(int32_t code, int32_t value, void* pointer, int32_t size) {
  bool size_ok = pointer && size >= 4;
  bool entry_ok = size_ok && ContextDepth == 8 && value >= 0 && value <= 255;
  switch (code) {
    case 1: {
      if (!pointer || size < 12 || ContextDepth != 8) return 0;
      float* f = static_cast<float*>(pointer);
      int32_t c[3];
      for (int i = 0; i < 3; ++i) {
        uint32_t bits;
        std::memcpy(&bits, &f[i], 4);
        if (bits > 0x80000000u) f[i] = 0.0f;
        c[i] = f[i] >= 1.0f ? 0xFFFF : static_cast<int32_t>(f[i] * 65536.0f);
      }
      DeviceColour colour{c[0], c[1], c[2]};
      return ramp_index(colour, value);
    }
    case 2:
      if (!size_ok || ContextDepth != 8 || !ColourRampTable || value <= 0 || value >= 4640) return 0;
      ColourRampTable[value] = *static_cast<uint8_t*>(pointer);
      return 1;
    case 8:
      RampSineCurve = value != 0;
      BuildShadeRamps();
      return 1;
    case 9:
      if (!size_ok) return 0;
      std::memcpy(&RampKnee, pointer, 4);
      BuildShadeRamps();
      return 1;
    case 10: {
      if (!entry_ok) return 0;
      auto* rgb = static_cast<uint8_t*>(pointer);
      PaletteRed[value] = rgb[0];
      PaletteGreen[value] = rgb[1];
      PaletteBlue[value] = rgb[2];
      return 1;
    }
    case 11: {
      if (!entry_ok) return 0;
      auto* rgb = static_cast<uint8_t*>(pointer);
      rgb[0] = PaletteRed[value];
      rgb[1] = PaletteGreen[value];
      rgb[2] = PaletteBlue[value];
      return 1;
    }
    case 12:
      if (ContextDepth != 8) return 0;
      BuildShadeRamps();
      return 1;
    case 13: {
      if (!entry_ok) return 0;
      int32_t usable = PaletteUsableGet(value) == 2 ? 1 : 0;
      std::memcpy(pointer, &usable, 4);
      return 1;
    }
    case 14: {
      if (!entry_ok) return 0;
      int32_t v;
      std::memcpy(&v, pointer, 4);
      PaletteUsableSet(value, v ? 2 : 1);
      return 1;
    }
    case kControlDrawnRows: {
      DeviceRect rows{0, 0, 0, -1};
      if (pointer) {
        if (size != static_cast<int32_t>(sizeof rows)) return 0;
        std::memcpy(&rows, pointer, sizeof rows);
        if (rows.y < 0 || rows.h < 0 || rows.h > INT32_MAX - rows.y) return 0;
      }
      DrawnRowFirst = rows.y;
      DrawnRowCount = rows.h;
      return 1;  // from the next frame's start
    }
    default: return 0;
  }
}

int32_t ColourToPixel(const DeviceColour* colour) {
  if (!colour) return 0;
  const DeviceColour& c = *colour;
  switch (ContextDepth) {
    case 1:
    case 2:
    case 4:
      return static_cast<int32_t>((static_cast<uint32_t>(c.red >> 8) << 24) |
                                  (static_cast<uint32_t>(c.green >> 8) << 16) |
                                  (static_cast<uint32_t>(c.blue >> 8) << 8));
    case 8: {
      uint32_t high = (c.red & 0xF800) | ((c.green & 0xFC00) >> 5) | ((c.blue & 0xF800) >> 11);
      return static_cast<int32_t>((high << 16) | (static_cast<uint32_t>(ramp_index(c, -1)) & 0xFFFF));
    }
    case 15: return ((c.red & 0xF800) >> 1) | ((c.green & 0xF800) >> 6) | ((c.blue & 0xF800) >> 11);
    case 16: return (c.red & 0xF800) | ((c.green & 0xFC00) >> 5) | ((c.blue & 0xF800) >> 11);
    default: return 0;
  }
}

int32_t PixelToColour(int32_t pixel, DeviceColour* out) {
  if (!out) return 0;
  uint32_t p = static_cast<uint32_t>(pixel);
  switch (ContextDepth) {
    case 8:
      out->red = static_cast<int32_t>((p >> 16) & 0xF800);
      out->green = static_cast<int32_t>(((p >> 21) & 0x3F) * 1024);
      out->blue = static_cast<int32_t>((p & 0x1F0000) >> 5);
      break;
    case 15:
      out->red = static_cast<int32_t>((p & 0x7C00) * 2);
      out->green = static_cast<int32_t>((p & 0x3E0) << 6);
      out->blue = static_cast<int32_t>((p & 0x1F) << 11);
      break;
    case 16:
      out->red = static_cast<int32_t>(p & 0xF800);
      out->green = static_cast<int32_t>((p & 0x7E0) << 5);
      out->blue = static_cast<int32_t>((p & 0x1F) << 11);
      break;
    default: break;
  }
  return 1;
}

int32_t ColourPack(int32_t colour, int32_t byte) {
  return static_cast<int32_t>((static_cast<uint32_t>(colour) & 0xFFFFFF) * 256u +
                              static_cast<uint32_t>(byte));
}

int32_t RasterLock(DeviceRaster* raster) {
  if (raster && (raster->kind == kRasterKindDepth3 || raster->kind == kRasterKindDepth))
    raster->pixels = reinterpret_cast<uint8_t*>(DepthBuffer);
  return 1;
}

int32_t RasterUnlock(DeviceRaster* raster) {
  if (raster && (raster->kind == kRasterKindDepth3 || raster->kind == kRasterKindDepth))
    raster->pixels = nullptr;
  return 1;
}

int32_t PaletteUpdateDefault(DeviceCamera* camera) {
  if (ContextDepth == 8) BackgroundIndexUpdate(camera);
  return 1;
}

ShadeTableSet* ShadeTablesCreate(const DeviceColour* colour) {
  if (!colour) return nullptr;
  if (!(kDriverInfo.flags & 0x1000) && (colour->red || colour->green || colour->blue)) return nullptr;
  return ShadeSetCreate(colour);
}

int32_t ShadeTablesDestroy(ShadeTableSet* set) { return ShadeSetDestroy(set); }

int32_t ShadeTablesSelect(ShadeTableSet* set) {
  ShadeSetSelect(set);
  return 1;
}

int32_t RenderModeNone(DevicePolygon*, int32_t) { return 0; }

int32_t ImportBitmapNone(const DeviceBitmapRef*, int32_t, DeviceRaster*) { return 0; }

int32_t ContextFillRect(DeviceCamera* camera, const DeviceRect* rect) {
  if (!camera || !FrameRows || !raster_in(camera->colour_raster, rect)) return 0;
  for (int32_t r = 0; r < rect->h; ++r) {
    uint8_t* row = FrameRows[rect->y + r];
    if (ContextDepth == 8) {
      std::memset(row + rect->x, camera->background_index & 0xFF, static_cast<size_t>(rect->w));
    } else {
      auto v = static_cast<uint16_t>(camera->background_pixel);
      for (int32_t c = 0; c < rect->w; ++c) std::memcpy(row + 2 * (rect->x + c), &v, 2);
    }
  }
  return 1;
}

int32_t ContextClearZRect(const DeviceRect* rect) {
  if (!DepthBuffer || !rect || rect->x < 0 || rect->y < 0 || rect->w <= 0 || rect->h <= 0) return 0;
  if (rect->x + rect->w > DepthBufferPitch / 2 || rect->y + rect->h > DepthHeight) return 0;
  for (int32_t r = 0; r < rect->h; ++r)
    std::memset(reinterpret_cast<uint8_t*>(DepthBuffer) + (rect->y + r) * DepthBufferPitch + 2 * rect->x,
                0, static_cast<size_t>(rect->w) * 2);
  return 1;
}

DeviceRaster* ImageFreePixels(DeviceRaster* image) {
  if (image && image->pixels) {
    DriverFree(image->pixels);
    image->pixels = nullptr;
  }
  return image;
}

int32_t ContextReleaseTables() {
  FreeContextTables();
  return 1;
}

DeviceRaster* ConvertImage(DeviceRaster* source, DeviceRaster* destination, int32_t flags) {
  if (!source || !destination) return nullptr;
  if (ContextDepth != 8) return ImageConvertMasks(source, destination, flags);
  if (!(flags & kConvertTransparent) ||
      (source->bits == 24 && source->red_mask == 0xFF0000u && source->green_mask == 0xFF00u &&
       source->blue_mask == 0xFFu && source->alpha_mask == 0))
    return ImageToPalette(source, destination, flags);
  // Anything else goes through 24-bit red, green, blue first.
  DeviceRaster wide = *source;
  wide.kind = kRasterKindPacked;
  wide.bits = 24;
  wide.depth = 24;
  wide.red_mask = 0xFF0000u;
  wide.green_mask = 0xFF00u;
  wide.blue_mask = 0xFFu;
  wide.alpha_mask = 0;
  wide.pixels = nullptr;
  wide.flags &= ~kRasterLockFirst;
  DeviceRaster* result = nullptr;
  if (ImageConvertMasks(source, &wide, flags)) result = ImageToPalette(&wide, destination, flags);
  ImageFreePixels(&wide);
  return result;
}

int32_t ImportBitmap(const DeviceBitmapRef* bitmap, int32_t flags, DeviceRaster* image) {
  if (!bitmap || !image || !g_drv.services) return 0;
  const BitmapAccess* access = ImageBitmapAccess();
  image->flags |= kRasterLockFirst;
  flags |= kImportBottomUp;
  if (access->realize_palette) access->realize_palette(bitmap->dc);
  BitmapDescription description{};
  if (!access->describe || !access->dib_rows || !access->describe(bitmap->bitmap, &description))
    return 0;
  const int32_t width = description.width, height = description.height;
  if (width <= 0 || height <= 0 || width > kImageMaxSide || height > kImageMaxSide) return 0;
  const int32_t bits = description.planes * description.bits_pixel;
  const int32_t cls = bits <= 1 ? 1 : bits <= 4 ? 4 : bits <= 8 ? 8 : 24;
  if (cls == 24) flags |= kImportSwapRB;
  const DeviceRecord& d = g_drv.services->device;
  if (cls == 8) {
    bool standard = d.texture_width_unit > 0 && d.texture_height_unit > 0 &&
                    width == d.texture_width_unit && height % d.texture_height_unit == 0;
    bool small = d.small_texture_width_unit != 0 && d.small_texture_height_unit > 0 &&
                 width == d.small_texture_width_unit && height % d.small_texture_height_unit == 0;
    if (standard || small) flags &= ~kImportScale;
  }

  const size_t colours = cls == 24 ? 0 : size_t{1} << cls;
  const size_t info_bytes = sizeof(BitmapInfoHeader) + 4 * colours;
  auto* info = static_cast<uint8_t*>(DriverAlloc(info_bytes));
  if (!info) return 0;
  std::memset(info, 0, info_bytes);
  BitmapInfoHeader header{};
  header.size = sizeof(BitmapInfoHeader);
  header.width = width;
  header.height = height;
  header.planes = 1;
  header.bit_count = static_cast<uint16_t>(cls);
  std::memcpy(info, &header, sizeof header);
  access->dib_rows(bitmap->dc, bitmap->bitmap, 0, 1, nullptr, info, kDibRgbColours);

  const size_t row_bytes = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
  auto* row = static_cast<uint8_t*>(DriverAlloc(row_bytes));
  bool ok = row != nullptr;
  if (ok && cls < 24) {
    // Indexed rows widen through the image's palette: without one they cannot be kept.
    if (!image->palette) {
      ok = false;
    } else {
      for (size_t i = 0; i < colours; ++i) {
        RgbQuad q;
        std::memcpy(&q, info + sizeof(BitmapInfoHeader) + 4 * i, 4);
        image->palette[3 * i] = q.red;
        image->palette[3 * i + 1] = q.green;
        image->palette[3 * i + 2] = q.blue;
      }
    }
  }
  for (int32_t r = 0; ok && r < height; ++r) {
    ok = access->dib_rows(bitmap->dc, bitmap->bitmap, static_cast<uint32_t>(r), 1, row, info,
                          kDibRgbColours) != 0 &&
         RowImport(row, width, height, cls, r, image, flags) != 0;
  }
  DriverFree(row);
  DriverFree(info);
  ImageScalerFree();
  return ok ? (height | (width << 16)) : 0;
}

int32_t RasterCopyRect(DeviceCamera* camera, const DeviceRect* rect, int32_t x, int32_t y) {
  if (!camera || !rect || !camera->row_table) return 0;
  DeviceRaster* raster = camera->colour_raster;
  if (!raster || !raster->pixels || (camera->row_flags & kCameraRebuildRows)) return 0;
  const int32_t bpp = ContextDepth == 8 ? 1 : 2;
  const DeviceRect to{x, y, rect->w, rect->h};
  if (!raster_in(raster, rect) || !raster_in(raster, &to)) return 0;
  const int64_t pitch = raster->pitch;
  if ((pitch < 0 ? -pitch : pitch) < static_cast<int64_t>(raster->width) * bpp) return 0;
  const size_t bytes = static_cast<size_t>(rect->w) * bpp;
  auto source_row = [&](int32_t r) {
    return raster->pixels + static_cast<ptrdiff_t>(rect->y + r) * pitch + static_cast<ptrdiff_t>(rect->x) * bpp;
  };
  auto frame_row = [&](int32_t r) { return camera->row_table[y + r] + static_cast<ptrdiff_t>(x) * bpp; };
  // Overlapping copies inside one frame run away from the rows they overwrite.
  const bool upward = rect->h > 0 && frame_row(0) > source_row(0);
  for (int32_t n = 0; n < rect->h; ++n) {
    const int32_t r = upward ? rect->h - 1 - n : n;
    std::memmove(frame_row(r), source_row(r), bytes);
  }
  return 1;
}
