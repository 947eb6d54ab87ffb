#include "client/cache/bmp.h"

#include <cstring>

#include <jerror.h>

#include "client/core/log.h"

namespace {

void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

void write_or_fail(j_decompress_ptr cinfo, FILE* file, const void* data, size_t size) {
  if (size > 0 && fwrite(data, 1, size, file) != size) ERREXIT(cinfo, JERR_FILE_WRITE);
}

}  // namespace

void bmp_headers(uint8_t out[54], uint32_t width, uint32_t height, int32_t eight_bit,
                 uint32_t x_ppm, uint32_t y_ppm) {
  const uint32_t palette = eight_bit ? 256u * 4u : 0u;
  const size_t padded = bmp_padded(static_cast<size_t>(width) * (eight_bit ? 1u : 3u));
  std::memset(out, 0, 54);
  out[0] = 'B';
  out[1] = 'M';
  put32(out + 2, static_cast<uint32_t>(54u + palette + padded * height));
  put32(out + 10, 54u + palette);
  put32(out + 14, 40);
  put32(out + 18, width);
  put32(out + 22, height);
  put16(out + 26, 1);
  put16(out + 28, eight_bit ? 8 : 24);
  put32(out + 38, x_ppm);
  put32(out + 42, y_ppm);
  put32(out + 46, eight_bit ? 256 : 0);
}

void bmp_output_create(bmp_output* out, j_decompress_ptr cinfo, FILE* file) {
  std::memset(out, 0, sizeof *out);
  out->file = file;
  if (cinfo->out_color_space != JCS_GRAYSCALE && cinfo->out_color_space != JCS_RGB)
    ERREXIT(cinfo, JERR_CONVERSION_NOTIMPL);
  // The header's dimensions are untrusted: bound them before the decoder allocates
  // its own whole-image arrays (progressive data, two-pass quantisation) or we ours.
  const uint64_t w = cinfo->image_width, h = cinfo->image_height;
  if (w == 0 || h == 0 || w > bmp_max_side || h > bmp_max_side || w * h > bmp_max_pixels)
    ERREXIT1(cinfo, JERR_IMAGE_TOO_BIG, static_cast<unsigned>(w > h ? w : h));
}

void bmp_output_start(bmp_output* out, j_decompress_ptr cinfo) {
  out->eight_bit = cinfo->quantize_colors || cinfo->out_color_space == JCS_GRAYSCALE;
  if (!out->eight_bit && cinfo->out_color_components != 3) ERREXIT(cinfo, JERR_CONVERSION_NOTIMPL);
  if (out->eight_bit && !cinfo->quantize_colors && cinfo->out_color_components != 1)
    ERREXIT(cinfo, JERR_CONVERSION_NOTIMPL);
  if (cinfo->quantize_colors && cinfo->actual_number_of_colors > 256)
    ERREXIT1(cinfo, JERR_QUANT_MANY_COLORS, 256);
  const uint64_t w = cinfo->output_width, h = cinfo->output_height;
  if (w == 0 || h == 0 || w > bmp_max_side || h > bmp_max_side || w * h > bmp_max_pixels)
    ERREXIT1(cinfo, JERR_IMAGE_TOO_BIG, static_cast<unsigned>(w > h ? w : h));
  out->width = static_cast<uint32_t>(w);
  out->height = static_cast<uint32_t>(h);
  out->row_width = static_cast<size_t>(w) * (out->eight_bit ? 1u : 3u);
  out->padded_width = bmp_padded(out->row_width);
  const uint32_t palette = out->eight_bit ? 1024u : 0u;
  out->file_size = static_cast<uint32_t>(54u + palette + out->padded_width * out->height);

  // The pool hands out at most about 1e9 bytes at once, far above the bounds above.
  const size_t bytes = out->padded_width * out->height;
  out->image = static_cast<uint8_t*>(
      (*cinfo->mem->alloc_large)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, bytes));
  // The decoder writes out_color_components samples per pixel into this row.
  out->buffer = (*cinfo->mem->alloc_sarray)(
      reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
      static_cast<JDIMENSION>(w * static_cast<uint64_t>(cinfo->output_components)), 1);
  out->next_row = 0;
}

uint32_t bmp_output_rows(bmp_output* out, j_decompress_ptr cinfo) {
  if (out->next_row >= out->height) return 0;
  const JDIMENSION got = jpeg_read_scanlines(cinfo, out->buffer, 1);
  if (got == 0) return 0;
  const uint8_t* src = out->buffer[0];
  uint8_t* dst = out->image + static_cast<size_t>(out->next_row) * out->padded_width;
  // Rows are filled as they come; only the padding needs clearing.
  std::memset(dst + out->row_width, 0, out->padded_width - out->row_width);
  if (out->eight_bit) {
    std::memcpy(dst, src, out->row_width);
  } else {
    for (uint32_t x = 0; x < out->width; x++, src += 3, dst += 3) {
      dst[0] = src[2];
      dst[1] = src[1];
      dst[2] = src[0];
    }
  }
  out->next_row++;
  return got;
}

void bmp_output_finish(bmp_output* out, j_decompress_ptr cinfo) {
  uint32_t x_ppm = 0, y_ppm = 0;
  if (cinfo->density_unit == 2) {
    x_ppm = static_cast<uint32_t>(cinfo->X_density) * 100u;
    y_ppm = static_cast<uint32_t>(cinfo->Y_density) * 100u;
  }
  if (trace_switches[TRACE_GENERAL])
    log_write("BMP file size: %d (%d x %d)", static_cast<int>(out->file_size),
              static_cast<int>(out->width), static_cast<int>(out->height));
  uint8_t headers[54];
  bmp_headers(headers, out->width, out->height, out->eight_bit, x_ppm, y_ppm);
  write_or_fail(cinfo, out->file, headers, sizeof headers);

  if (out->eight_bit) {
    uint8_t palette[1024];
    std::memset(palette, 0, sizeof palette);
    if (cinfo->quantize_colors) {
      const int n = cinfo->actual_number_of_colors;
      for (int i = 0; i < n && i < 256; i++) {
        if (cinfo->out_color_components == 3) {
          palette[i * 4 + 0] = cinfo->colormap[2][i];
          palette[i * 4 + 1] = cinfo->colormap[1][i];
          palette[i * 4 + 2] = cinfo->colormap[0][i];
        } else {
          palette[i * 4 + 0] = palette[i * 4 + 1] = palette[i * 4 + 2] = cinfo->colormap[0][i];
        }
      }
    } else {
      for (int i = 0; i < 256; i++)
        palette[i * 4 + 0] = palette[i * 4 + 1] = palette[i * 4 + 2] = static_cast<uint8_t>(i);
    }
    write_or_fail(cinfo, out->file, palette, sizeof palette);
  }
  out->rows_written = 0;
}

bool bmp_output_write(bmp_output* out, j_decompress_ptr cinfo) {
  const size_t step = bmp_rows_per_step(out->padded_width);
  for (size_t n = 0; n < step && out->rows_written < out->height; ++n) {
    const uint32_t row = out->height - 1 - out->rows_written++;
    write_or_fail(cinfo, out->file, out->image + static_cast<size_t>(row) * out->padded_width,
                  out->padded_width);
  }
  if (out->rows_written < out->height) return false;
  if (fflush(out->file) != 0 || ferror(out->file)) ERREXIT(cinfo, JERR_FILE_WRITE);
  return true;
}
