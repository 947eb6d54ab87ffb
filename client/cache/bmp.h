#pragma once
// BMP output for the JPEG decoder: rows are gathered into one whole-image array and written
// as a Windows bitmap (14-byte file header, 40-byte info header, palette for 8-bit output,
// rows bottom-up, each padded to a multiple of 4 bytes) once the last row has arrived.
//
// Every failure goes through the decoder's error exit (ERREXIT), so the caller's error
// manager decides how a bad image ends. Memory comes from the decoder's image pool and is
// released by jpeg_destroy_decompress, also after an error exit.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

// Largest side and pixel count accepted before anything is allocated for an image.
constexpr uint32_t bmp_max_side = 16384;
constexpr uint64_t bmp_max_pixels = 16u * 1024u * 1024u;

// The most bytes of rows one step writes (or reads back): at least one row, however wide.
constexpr size_t bmp_step_bytes = 64 * 1024;
inline size_t bmp_rows_per_step(size_t padded_row) {
  return padded_row >= bmp_step_bytes ? 1 : bmp_step_bytes / padded_row;
}

struct bmp_output {
  FILE* file;
  int32_t eight_bit;       // greyscale or quantised output: one byte per pixel and a palette
  uint32_t width;
  uint32_t height;
  size_t row_width;        // pixels x components
  size_t padded_width;     // row_width rounded up to a multiple of 4
  uint8_t* image;          // height padded rows, top image row first
  JSAMPARRAY buffer;       // one decoder row
  uint32_t next_row;
  uint32_t rows_written;   // rows of the file written so far, from the bottom image row
  uint32_t file_size;      // of the file as written
};

// After jpeg_read_header and the caller's choice of quantisation: checks that the output
// colour space is greyscale or RGB and that the image is within the bounds above.
void bmp_output_create(bmp_output* out, j_decompress_ptr cinfo, FILE* file);
// After jpeg_start_decompress: takes the output geometry and allocates the image.
void bmp_output_start(bmp_output* out, j_decompress_ptr cinfo);
// Reads one batch of rows from the decoder and stores them; returns the rows read.
uint32_t bmp_output_rows(bmp_output* out, j_decompress_ptr cinfo);
// When every row has been read: writes the headers and the palette.
void bmp_output_finish(bmp_output* out, j_decompress_ptr cinfo);
// Then writes the next rows, bmp_rows_per_step at a time; true (with the file flushed) once
// every row is written.
bool bmp_output_write(bmp_output* out, j_decompress_ptr cinfo);

// The 54 header bytes for an image of this geometry (pixels per metre already converted).
void bmp_headers(uint8_t out[54], uint32_t width, uint32_t height, int32_t eight_bit,
                 uint32_t x_ppm, uint32_t y_ppm);
// Padded row bytes for a row of this many bytes.
inline size_t bmp_padded(size_t row_bytes) { return (row_bytes + 3) & ~static_cast<size_t>(3); }
