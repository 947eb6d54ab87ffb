// Rasters, the BMP reader, textures with their names, masks and references.
#include "engine/internal.h"
#include "platform/gdi.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace vx {

static uint32_t le32(const unsigned char* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
static uint16_t le16(const unsigned char* p) { return (uint16_t)(p[0] | p[1] << 8); }

VxRasterRec* raster_new(int width, int height, int depth) {
  if (width < 1 || height < 1 || width > kMaxRasterSide || height > kMaxRasterSide ||
      (depth != 8 && depth != 24))
    return failp<VxRasterRec>(VX_E_NO_MEMORY);
  auto* r = new VxRasterRec;
  r->width = width;
  r->height = height;
  r->depth = depth;
  r->stride = width * (depth / 8);
  r->pixels.assign((size_t)r->stride * height, 0);
  st().rasters.insert(r);
  return r;
}

void raster_free(VxRasterRec* r) {
  if (!r) return;
  st().rasters.erase(r);
  delete r;
}

VxRasterRec* raster_copy(const VxRasterRec* src) {
  VxRasterRec* r = raster_new(src->width, src->height, src->depth);
  if (!r) return nullptr;
  r->pixels = src->pixels;
  std::memcpy(r->palette, src->palette, sizeof r->palette);
  return r;
}

// An uncompressed 8- or 24-bit BMP. Every size in the header is checked against the bytes
// really there; the pixels start at the header's offset when that lies past the palette,
// else right after the palette.
VxRasterRec* raster_from_bmp(const unsigned char* d, size_t size) {
  if (!d || size < 54 || d[0] != 'B' || d[1] != 'M') return failp<VxRasterRec>(VX_E_BAD_FORMAT);
  uint32_t offbits = le32(d + 10);
  uint32_t info = le32(d + 14);
  if (info < 40 || info > size - 14) return failp<VxRasterRec>(VX_E_BAD_FORMAT);
  int32_t width = (int32_t)le32(d + 18), height = (int32_t)le32(d + 22);
  uint16_t bpp = le16(d + 28);
  uint32_t compression = le32(d + 30), used = le32(d + 46);
  if (compression != 0 || (bpp != 8 && bpp != 24)) return failp<VxRasterRec>(VX_E_BAD_FORMAT);
  bool top_down = height < 0;
  if (height == INT32_MIN) return failp<VxRasterRec>(VX_E_BAD_FORMAT);
  if (top_down) height = -height;
  if (width < 1 || height < 1 || width > kMaxRasterSide || height > kMaxRasterSide)
    return failp<VxRasterRec>(VX_E_BAD_FORMAT);
  size_t colours = 0;
  if (bpp == 8) {
    if (used > 256) return failp<VxRasterRec>(VX_E_BAD_FORMAT);
    colours = used ? used : 256;
  }
  size_t palette_at = 14 + (size_t)info;
  if (palette_at + colours * 4 > size) return failp<VxRasterRec>(VX_E_TRUNCATED);
  size_t pixels_at = palette_at + colours * 4;
  if (offbits > pixels_at && offbits < size) pixels_at = offbits;
  size_t row = ((size_t)width * (bpp / 8) + 3) & ~(size_t)3;
  if (pixels_at + row * (size_t)height > size) return failp<VxRasterRec>(VX_E_TRUNCATED);
  VxRasterRec* r = raster_new(width, height, bpp);
  if (!r) return nullptr;
  for (size_t i = 0; i < colours; ++i) std::memcpy(r->palette + i * 4, d + palette_at + i * 4, 4);
  for (int y = 0; y < height; ++y) {
    int src_row = top_down ? y : height - 1 - y;
    std::memcpy(&r->pixels[(size_t)y * r->stride], d + pixels_at + (size_t)src_row * row, r->stride);
  }
  return r;
}

bool read_file(const std::string& path, std::vector<unsigned char>& out, size_t limit) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return fail(VX_E_FILE_NOT_FOUND);
  struct stat sb;
  if (fstat(fileno(f), &sb) != 0) {
    std::fclose(f);
    return fail(VX_E_IO);
  }
  if (!S_ISREG(sb.st_mode) || (size_t)sb.st_size > limit) {
    std::fclose(f);
    return fail(S_ISREG(sb.st_mode) ? VX_E_NO_MEMORY : VX_E_FILE_NOT_FOUND);
  }
  out.resize((size_t)sb.st_size);
  size_t got = out.empty() ? 0 : std::fread(out.data(), 1, out.size(), f);
  std::fclose(f);
  if (got != out.size()) return fail(VX_E_IO);
  return true;
}

static std::string lower(std::string s) {
  for (char& c : s) c = (char)std::tolower((unsigned char)c);
  return s;
}

// Texture names compare without letter case and without extension. A name is a file of the
// search path's folders, never a path: one that holds a folder ("../x", "/tmp/x", "a\\b")
// names nothing, whatever its last part.
std::string texture_key(const char* name) {
  std::string s = name ? name : "";
  if (s.find_first_of("/\\") != std::string::npos) return "";
  size_t dot = s.find('.');
  if (dot != std::string::npos) s.resize(dot);
  return lower(s);
}

// "<key>.bmp" in any case, in the first folder of the search path that holds it.
static std::string find_named_file(const std::string& key) {
  if (key.empty()) return "";
  struct stat sb;
  for (const std::string& folder : st().search_path) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) continue;
    std::string found;
    while (dirent* e = readdir(dir)) {
      std::string n = lower(e->d_name);
      if (n == key + ".bmp") {
        found = folder + "/" + e->d_name;
        break;
      }
    }
    closedir(dir);
    if (!found.empty() && stat(found.c_str(), &sb) == 0 && S_ISREG(sb.st_mode)) return found;
  }
  return "";
}

std::string find_file(const char* name) {
  if (!name || !*name) return "";
  std::string given = name;
  struct stat sb;
  // A path the program built, or a BMP file name as it stands, is taken directly when it
  // exists.
  bool bmp = given.size() > 4 && lower(given.substr(given.size() - 4)) == ".bmp";
  if ((given.find('/') != std::string::npos || bmp) && stat(given.c_str(), &sb) == 0 &&
      S_ISREG(sb.st_mode))
    return given;
  // The search by name takes the path's last part.
  size_t slash = given.find_last_of("/\\");
  return find_named_file(texture_key(given.substr(slash == std::string::npos ? 0 : slash + 1).c_str()));
}

void texture_ref(VxTextureRec* t) { ++t->refs; }

void texture_unref(VxTextureRec* t) {
  if (--t->refs > 0) return;
  raster_free(t->raster);
  raster_free(t->mask);
  st().textures.erase(t);
  delete t;
}

static VxTextureRec* texture_new(VxRasterRec* raster) {
  auto* t = new VxTextureRec;
  t->raster = raster;
  st().textures.insert(t);
  return t;
}

static VxTextureRec* find_named(const std::string& key) {
  for (VxTextureRec* t : st().textures)
    if (t->registered && t->name == key) return t;
  return nullptr;
}

static void register_name(VxTextureRec* t, const std::string& key) {
  if (VxTextureRec* old = find_named(key)) old->registered = false;
  t->name = key;
  t->registered = true;
}

}  // namespace vx

using namespace vx;

static VxRasterRec* mask_fit(const VxRasterRec* t, const VxRasterRec* mask);

VxRaster* VxCreateRaster(int width, int height) { return VxCreateRasterDepth(width, height, 8); }

VxRaster* VxCreateRasterDepth(int width, int height, int depth) {
  if (!st().initialized) return failp<VxRaster>(VX_E_NOT_INITIALIZED);
  return raster_new(width, height, depth);
}

static VxRasterRec* read_found(const std::string& path) {
  if (path.empty()) return failp<VxRasterRec>(VX_E_FILE_NOT_FOUND);
  std::vector<unsigned char> bytes;
  if (!read_file(path, bytes, 64u << 20)) return nullptr;
  return raster_from_bmp(bytes.data(), bytes.size());
}

// A path the program built, or a name.
static VxRasterRec* read_raster(const char* name) {
  if (!st().initialized) return failp<VxRasterRec>(VX_E_NOT_INITIALIZED);
  return read_found(find_file(name));
}

// A name a model or a download gave: only a file of the search path.
static VxRasterRec* read_named_raster(const char* name) {
  if (!st().initialized) return failp<VxRasterRec>(VX_E_NOT_INITIALIZED);
  return read_found(find_named_file(texture_key(name)));
}

VxRaster* VxReadRaster(const char* name, int) { return read_raster(name); }

VxRaster* VxReadMaskRaster(const char* name) {
  VxRasterRec* src = read_named_raster(name);
  if (!src) return nullptr;
  VxRasterRec* m = raster_new(src->width, src->height, 8);
  if (!m) {
    raster_free(src);
    return nullptr;
  }
  for (int y = 0; y < src->height; ++y)
    for (int x = 0; x < src->width; ++x) {
      const unsigned char* p;
      if (src->depth == 8)
        p = src->palette + 4 * src->pixels[(size_t)y * src->stride + x];
      else
        p = &src->pixels[(size_t)y * src->stride + 3 * x];
      m->pixels[(size_t)y * m->stride + x] = (p[0] | p[1] | p[2]) ? 255 : 0;
    }
  raster_free(src);
  return m;
}

int VxDestroyRaster(VxRaster* raster) {
  if (!live(raster)) return fail(VX_E_BAD_ARGUMENT);
  for (VxTextureRec* t : st().textures)
    if (t->raster == raster || t->mask == raster) return fail(VX_E_STATE);  // owned
  for (VxCameraRec* c : st().cameras) {
    if (c->backdrop == raster) c->backdrop = nullptr;
    if (c->image == raster) return fail(VX_E_STATE);
  }
  raster_free(raster);
  return 1;
}

int VxGetRasterWidth(const VxRaster* r) { return live(r) ? r->width : fail(VX_E_BAD_ARGUMENT); }
int VxGetRasterHeight(const VxRaster* r) { return live(r) ? r->height : fail(VX_E_BAD_ARGUMENT); }
int VxGetRasterDepth(const VxRaster* r) { return live(r) ? r->depth : fail(VX_E_BAD_ARGUMENT); }
int VxGetRasterStride(const VxRaster* r) { return live(r) ? r->stride : fail(VX_E_BAD_ARGUMENT); }

unsigned char* VxGetRasterPixels(VxRaster* raster) {
  if (!live(raster)) return failp<unsigned char>(VX_E_BAD_ARGUMENT);
  ++raster->locks;
  return raster->pixels.data();
}

int VxReleaseRasterPixels(VxRaster* raster) {
  if (!live(raster) || raster->locks <= 0) return fail(VX_E_BAD_ARGUMENT);
  --raster->locks;
  ++raster->version;  // the caller may have drawn into it: texels made from it are stale
  return 1;
}

const unsigned char* VxGetRasterPalette(const VxRaster* raster) {
  if (!live(raster) || raster->depth != 8) return failp<const unsigned char>(VX_E_BAD_ARGUMENT);
  return raster->palette;
}

int VxSetRasterPalette(VxRaster* raster, const unsigned char* entries, int count) {
  if (!live(raster) || raster->depth != 8 || count < 0 || count > 256 || (count && !entries))
    return fail(VX_E_BAD_ARGUMENT);
  std::memcpy(raster->palette, entries, (size_t)count * 4);
  ++raster->version;
  return 1;
}

// The bitmap read through the open device's import entry, as the window system hands it
// over: a bitmap of the DIB's format is made and the driver reads its rows back into an
// image of its own. Without scaling: the engine resamples textures itself. 0 when the
// bitmap or the image cannot be made.
static VxRasterRec* import_through_device(DeviceRecord* r, void* dc, const VxDib& b) {
  struct {
    BitmapInfoHeader h;
    RgbQuad colours[256];
  } info{};
  info.h.size = sizeof info.h;
  info.h.width = b.width;
  info.h.height = -b.height;  // top down
  info.h.planes = 1;
  info.h.bit_count = (uint16_t)b.bits_per_pixel;
  if (b.bits_per_pixel == 8 && b.palette_count > 0) {
    std::memcpy(info.colours, b.palette, (size_t)b.palette_count * 4);
    info.h.colours_used = (uint32_t)b.palette_count;
  }
  uint8_t* bits = nullptr;
  GdiObject* bitmap = gdi_create_dib_section(nullptr, &info, kDibRgbColours, &bits, nullptr, 0);
  if (!bitmap || !bits) {
    if (bitmap) gdi_delete_object(bitmap);
    return failp<VxRasterRec>(VX_E_NO_MEMORY);
  }
  const int row = b.width * (b.bits_per_pixel / 8);
  const size_t pitch = ((size_t)b.width * b.bits_per_pixel + 31) / 32 * 4;
  for (int y = 0; y < b.height; ++y) {
    int src = b.bottom_up ? b.height - 1 - y : y;
    std::memcpy(bits + (size_t)y * pitch, b.bits + (size_t)src * b.stride, row);
  }
  uint8_t palette[256 * 3] = {};
  DeviceRaster image{};
  image.palette = palette;
  const DeviceBitmapRef ref{static_cast<GdiDc*>(dc), bitmap};
  const bool read = r->import_bitmap(&ref, 0, &image) != 0 && image.pixels && image.width == b.width &&
                    image.height == b.height && image.depth == b.bits_per_pixel;
  gdi_delete_object(bitmap);
  VxRasterRec* out = read ? raster_new(b.width, b.height, b.bits_per_pixel) : nullptr;
  if (out) {
    for (int y = 0; y < b.height; ++y) {
      const uint8_t* from = image.pixels + (ptrdiff_t)y * image.pitch;
      unsigned char* to = &out->pixels[(size_t)y * out->stride];
      if (b.bits_per_pixel == 8) {
        std::memcpy(to, from, (size_t)row);
      } else {
        for (int x = 0; x < b.width; ++x) {  // the driver's order is red first
          to[3 * x] = from[3 * x + 2];
          to[3 * x + 1] = from[3 * x + 1];
          to[3 * x + 2] = from[3 * x];
        }
      }
    }
    // Entries the bitmap had, with their fourth byte as given; the others stay 0.
    for (int i = 0; b.bits_per_pixel == 8 && i < b.palette_count; ++i) {
      out->palette[i * 4] = palette[i * 3 + 2];
      out->palette[i * 4 + 1] = palette[i * 3 + 1];
      out->palette[i * 4 + 2] = palette[i * 3];
      out->palette[i * 4 + 3] = b.palette[i * 4 + 3];
    }
  }
  if (r->free_image_pixels) r->free_image_pixels(&image);
  if (!read) return failp<VxRasterRec>(VX_E_NO_MEMORY);
  return out;
}

VxRaster* VxCreateRasterFromBitmap(const VxBitmapSource* source, int) {
  if (!st().initialized) return failp<VxRaster>(VX_E_NOT_INITIALIZED);
  if (!source || !source->bitmap || !source->bitmap->bits) return failp<VxRaster>(VX_E_BAD_ARGUMENT);
  const VxDib& b = *source->bitmap;
  if (b.bits_per_pixel != 8 && b.bits_per_pixel != 24) return failp<VxRaster>(VX_E_BAD_FORMAT);
  if (b.width < 1 || b.height < 1 || b.width > kMaxRasterSide || b.height > kMaxRasterSide)
    return failp<VxRaster>(VX_E_BAD_ARGUMENT);
  int row = b.width * (b.bits_per_pixel / 8);
  if (b.stride < row) return failp<VxRaster>(VX_E_BAD_ARGUMENT);
  if (b.bits_per_pixel == 8 && (b.palette_count < 0 || b.palette_count > 256 ||
                                (b.palette_count > 0 && !b.palette)))
    return failp<VxRaster>(VX_E_BAD_ARGUMENT);
  DeviceRecord* r = device_record();
  if (r && r->import_bitmap) return import_through_device(r, source->dc, b);
  // The null device: the rows as they stand.
  VxRasterRec* out = raster_new(b.width, b.height, b.bits_per_pixel);
  if (!out) return nullptr;
  for (int y = 0; y < b.height; ++y) {
    int src = b.bottom_up ? b.height - 1 - y : y;
    std::memcpy(&out->pixels[(size_t)y * out->stride], b.bits + (size_t)src * b.stride, row);
  }
  if (b.bits_per_pixel == 8 && b.palette_count > 0)
    std::memcpy(out->palette, b.palette, (size_t)b.palette_count * 4);
  return out;
}

VxTexture* VxCreateTexture(VxRaster* raster) {
  if (!live(raster)) return failp<VxTexture>(VX_E_BAD_ARGUMENT);
  for (VxTextureRec* t : st().textures)
    if (t->raster == raster || t->mask == raster) return failp<VxTexture>(VX_E_STATE);
  return texture_new(raster);
}

// A caller cannot give back more references than it was handed: one destroy too many would
// otherwise take away the reference a polygon still holds.
int VxDestroyTexture(VxTexture* texture) {
  if (!live(texture)) return fail(VX_E_BAD_ARGUMENT);
  if (texture->handles <= 0) return fail(VX_E_STATE);
  --texture->handles;
  texture_unref(texture);
  return 1;
}

int VxAddTextureReference(VxTexture* texture) {
  if (!live(texture)) return fail(VX_E_BAD_ARGUMENT);
  ++texture->handles;
  texture_ref(texture);
  return 1;
}

VxTexture* VxReadTexture(const char* path) {
  VxRasterRec* r = read_raster(path);
  if (!r) return nullptr;
  return texture_new(r);
}

VxTexture* VxReadNamedTexture(const char* name) {
  if (!st().initialized) return failp<VxTexture>(VX_E_NOT_INITIALIZED);
  std::string key = texture_key(name);
  if (key.empty()) return failp<VxTexture>(VX_E_BAD_ARGUMENT);
  if (VxTextureRec* t = find_named(key)) {
    VxAddTextureReference(t);
    return t;
  }
  VxRasterRec* r = read_named_raster(name);
  if (!r) return nullptr;
  VxTextureRec* t = texture_new(r);
  if (!t) return nullptr;
  register_name(t, key);
  return t;
}

VxTexture* VxFindNamedTexture(const char* name) {
  std::string key = texture_key(name);
  if (key.empty()) return failp<VxTexture>(VX_E_BAD_ARGUMENT);
  VxTextureRec* t = find_named(key);
  if (!t) return failp<VxTexture>(VX_E_NOT_FOUND);
  return t;
}

int VxAddNamedTexture(const char* name, VxTexture* texture) {
  std::string key = texture_key(name);
  if (key.empty() || !live(texture)) return fail(VX_E_BAD_ARGUMENT);
  register_name(texture, key);
  return 1;
}

const char* VxGetTextureName(const VxTexture* texture) {
  if (!live(texture)) return failp<const char>(VX_E_BAD_ARGUMENT);
  return texture->name.c_str();
}

VxRaster* VxGetTextureRaster(const VxTexture* texture) {
  if (!live(texture)) return failp<VxRaster>(VX_E_BAD_ARGUMENT);
  return texture->raster;
}

VxRaster* VxGetTextureMask(const VxTexture* texture) {
  if (!live(texture)) return failp<VxRaster>(VX_E_BAD_ARGUMENT);
  return texture->mask;
}

int VxSetTextureRaster(VxTexture* texture, VxRaster* raster) {
  if (!live(texture) || !live(raster)) return fail(VX_E_BAD_ARGUMENT);
  if (texture->raster == raster) return 1;
  for (VxTextureRec* t : st().textures)
    if (t->raster == raster || t->mask == raster) return fail(VX_E_STATE);
  // A new picture of another size keeps its mask, refitted: a mask of the old size would
  // no longer match the pixels it covers, and the texture could not be stored and read back.
  if (texture->mask && (texture->mask->width != raster->width ||
                        texture->mask->height != raster->height)) {
    VxRasterRec* m = mask_fit(raster, texture->mask);
    if (!m) return 0;
    raster_free(texture->mask);
    texture->mask = m;
  }
  raster_free(texture->raster);
  texture->raster = raster;
  texture->frame = 0;
  ++texture->version;  // a new picture may lie where the old one was freed
  return 1;
}

// The mask at the texture's size, nearest pixel when the sizes differ; 0 when out of memory.
static VxRasterRec* mask_fit(const VxRasterRec* t, const VxRasterRec* mask) {
  VxRasterRec* m = raster_new(t->width, t->height, 8);
  if (!m) return nullptr;
  int bpp = mask->depth / 8;
  for (int y = 0; y < t->height; ++y) {
    int sy = (int)((int64_t)y * mask->height / t->height);
    for (int x = 0; x < t->width; ++x) {
      int sx = (int)((int64_t)x * mask->width / t->width);
      const unsigned char* p = &mask->pixels[(size_t)sy * mask->stride + (size_t)sx * bpp];
      bool on = bpp == 1 ? p[0] != 0 : (p[0] | p[1] | p[2]) != 0;
      m->pixels[(size_t)y * m->stride + x] = on ? 255 : 0;
    }
  }
  return m;
}

int VxMaskTexture(VxTexture* texture, const VxRaster* mask) {
  if (!live(texture) || !live(mask) || !texture->raster) return fail(VX_E_BAD_ARGUMENT);
  VxRasterRec* m = mask_fit(texture->raster, mask);
  if (!m) return 0;
  raster_free(texture->mask);
  texture->mask = m;
  ++texture->version;
  return 1;
}

int VxSetSearchPath(const char* folder, int mode) {
  if (!folder || !*folder || (mode != 1 && mode != 2)) return fail(VX_E_BAD_ARGUMENT);
  std::string f = folder;
  for (char& c : f)
    if (c == '\\') c = '/';
  if (mode == 1) st().search_path.clear();
  if (st().search_path.size() >= 16) return fail(VX_E_NO_MEMORY);
  st().search_path.push_back(f);
  return 1;
}

static int frames_of(const VxTextureRec* t) {
  if (!t->raster || t->raster->height <= t->raster->width) return 1;
  return t->raster->height % t->raster->width == 0 ? t->raster->height / t->raster->width : 1;
}

int VxForEachFrameObject(int (*fn)(VxFrameObject*)) {
  if (!fn) return fail(VX_E_BAD_ARGUMENT);
  std::vector<VxTextureRec*> list;
  for (VxTextureRec* t : st().textures)
    if (frames_of(t) > 1) list.push_back(t);
  for (VxTextureRec* t : list)
    if (live(t)) fn(t);
  return 1;
}

int VxStepFrame(VxFrameObject* object) {
  if (!live(object)) return fail(VX_E_BAD_ARGUMENT);
  object->frame = (object->frame + 1) % frames_of(object);
  return 1;
}

int VxGetTextureFrame(const VxTexture* texture) {
  if (!live(texture)) return fail(VX_E_BAD_ARGUMENT);
  return texture->frame;
}
