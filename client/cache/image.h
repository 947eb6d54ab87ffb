#pragma once
// JPEG-to-BMP conversion queue. Jobs are converted first in, first out, in time slices of
// the per-frame "image" task so that decoding never stalls the 3D view.
#include <cstddef>
#include <cstdint>

// status 0: the BMP file is complete; 1: the conversion failed and no file is left.
using image_callback = void (*)(void* user, int32_t status);

// Copies the bytes and the path into a new job at the tail of the queue. With colors256 set
// the picture is quantised to 256 colours (textures). Returns 0, or -1 when out of memory
// (no job is queued and no callback will come).
int image_convert(const uint8_t* data, size_t count, const char* bmp_path, int32_t colors256,
                  image_callback callback, void* user);
// A picture the queue converted (an uncompressed 8- or 24-bit bitmap) read back into a new
// engine raster in the same slices, a batch of rows a step, so that no large picture holds
// the window in one piece. status 0 hands the raster over to the callee; 1 (no raster) when
// the file cannot be read or is no such picture. The read goes ahead of conversions still
// waiting. Returns 0, or -1 when out of memory (no callback will come).
struct VxRasterRec;
using image_raster_callback = void (*)(void* user, int32_t status, VxRasterRec* raster);
int image_read(const char* bmp_path, image_raster_callback callback, void* user);
// The per-frame task: converts and reads within the frame's time balance.
void image_update();
// True while jobs are queued.
bool image_busy();
// Abandons the open conversion (its file is removed) and drops every job without callbacks.
void image_reset();
// Shutdown: closes and removes the file of an open conversion.
void image_term();

// Where the device's texture side comes from (the display module's driver_texture_size).
// Small textures are resampled to that side; with no source (or side 0) nothing is resampled.
using image_side_fn = int32_t (*)();
void image_set_texture_side_source(image_side_fn fn);

// Queue length and time balance, for the animated logo and tests.
int32_t image_job_count();
int32_t image_balance();
