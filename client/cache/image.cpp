#include "client/cache/image.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <jerror.h>
#include <jpeglib.h>

#include "client/cache/bmp.h"
#include "engine/vxl21.h"
#include "client/core/files.h"
#include "client/core/lists.h"
#include "client/core/log.h"
#include "client/scene/bitmap.h"
#include "platform/clock.h"

// The decoder reports fatal errors by calling our error exit, which jumps back to the frame
// that called into it. Everything here is plain data so that the jump skips no destructor.
//
// The decoder's start reads every scan of a progressive picture (and, for 256 colours, makes
// a whole first pass over it) before the first row comes out. It runs in the slices like the
// rows: the decoder's progress hook, called between one row of blocks and the next, jumps
// back out when the slice's time is up, and the next slice calls the start again, which goes
// on from where it stood (as it would after running out of input). A picture of more scans
// than a real one ever has is refused. Its rows go to the file a batch a step once all are
// decoded, and a picture is read back into the engine the same way.

namespace {

enum job_kind { JOB_CONVERT, JOB_READ };

struct image_job {
  image_job* next;
  uint8_t* data;
  size_t count;
  char* path;
  image_callback callback;
  void* user;
  int32_t colors256;
  int32_t done;
  int32_t kind;
  image_raster_callback raster_callback;
};

struct image_error_mgr {
  jpeg_error_mgr pub;
  jmp_buf jump;
};

image_job* queue_head = nullptr;
image_job* queue_tail = nullptr;
int32_t job_count = 0;

int32_t idle = 1;
// The BMP file is written to a fresh temporary beside its path (no link planted there is
// followed) and takes the path only once it is whole; a conversion that ends otherwise
// leaves the path as it was.
FILE* bmp_file = nullptr;
std::string bmp_temp;
jpeg_decompress_struct cinfo;
int32_t cinfo_created = 0;
image_error_mgr error_mgr;
jpeg_source_mgr source;
bmp_output output;
int32_t balance = 0;
int32_t in_update = 0;
image_side_fn texture_side = nullptr;

// Real progressive pictures have about ten scans; each scan costs a pass over the picture.
constexpr int kMaxScans = 100;
jpeg_progress_mgr progress;
int32_t starting = 0;      // the decoder's start has not finished yet
int32_t yield_armed = 0;   // yield_jump belongs to the start now running
jmp_buf yield_jump;
uint32_t slice_end = 0;    // the tick at which the current slice's time is up
int32_t slice_work = 0;    // progress steps taken in the current slice
int32_t too_many_scans = 0;
int32_t writing = 0;       // every row is decoded; the file's rows are being written

// A picture read back into an engine raster, a batch of rows a step.
struct picture_read {
  FILE* file;
  VxRaster* raster;
  uint8_t* rows;         // one step's rows as they lie in the file
  uint32_t width, height;
  int32_t top_down;
  size_t padded;         // bytes of a row in the file
  size_t stride;         // bytes of a row of the raster
  uint32_t next_row;     // rows of the file read so far
};
picture_read reading{};

// A JPEG that ends early (or lies about its lengths) asks for more bytes than the copy holds.
// Suspension is impossible with a memory source, so running out is fatal for the job.
void source_init(j_decompress_ptr) {}
boolean source_fill(j_decompress_ptr c) {
  ERREXIT(c, JERR_INPUT_EOF);
  return TRUE;
}
void source_skip(j_decompress_ptr c, long n) {
  if (n <= 0) return;
  jpeg_source_mgr* src = c->src;
  if (static_cast<unsigned long>(n) > src->bytes_in_buffer) {
    // Past the end: leave nothing, so that the next read ends the job.
    src->next_input_byte += src->bytes_in_buffer;
    src->bytes_in_buffer = 0;
    return;
  }
  src->next_input_byte += n;
  src->bytes_in_buffer -= static_cast<size_t>(n);
}
void source_term(j_decompress_ptr) {}

void error_exit(j_common_ptr c) {
  longjmp(reinterpret_cast<image_error_mgr*>(c->err)->jump, 1);
}
// Warnings (corrupt data the decoder can live with) are not printed anywhere.
void output_message(j_common_ptr) {}

// Between two steps of the decoder: the scan count is checked, and a start whose slice's
// time is up is left, to go on in the next slice (at least one step is taken per slice).
void on_progress(j_common_ptr c) {
  auto* d = reinterpret_cast<j_decompress_ptr>(c);
  if (d->input_scan_number > kMaxScans) {
    too_many_scans = 1;
    ERREXIT(c, JERR_NOT_COMPILED);
  }
  if (yield_armed && slice_work++ > 0 && !tick_before(platform_ticks(), slice_end)) {
    yield_armed = 0;
    longjmp(yield_jump, 1);
  }
}

int32_t slice_budget() {
  if (job_count < 10) return 70;
  if (job_count < 20) return 140;
  return 210;
}

void free_job(image_job* job) {
  free(job->data);
  free(job->path);
  free(job);
}

void close_read() {
  if (reading.file) fclose(reading.file);
  if (reading.raster) VxDestroyRaster(reading.raster);
  free(reading.rows);
  reading = picture_read{};
}

// Ends the open conversion or read, if any: the record is destroyed and the unfinished file
// removed.
void close_conversion() {
  close_read();
  starting = 0;
  writing = 0;
  yield_armed = 0;
  if (cinfo_created) {
    jpeg_destroy_decompress(&cinfo);
    cinfo_created = 0;
  }
  if (bmp_file) {
    file_discard_fresh(bmp_file, bmp_temp);
    bmp_file = nullptr;
  }
  idle = 1;
}

// Ends the head job; the callback comes last so that it may queue new jobs or reset. A read
// hands its raster over (none when it failed).
void finish_head(int32_t status, VxRaster* raster = nullptr) {
  image_job* job = queue_head;
  job->done = 1;
  idle = 1;
  job_count--;
  if (job->kind == JOB_READ) {
    if (job->raster_callback) job->raster_callback(job->user, status, raster);
    else if (raster) VxDestroyRaster(raster);
  } else if (job->callback) {
    job->callback(job->user, status);
  }
}

uint32_t get32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Opens the head job's picture for reading back: an uncompressed 8- or 24-bit bitmap whose
// sizes fit the file and an engine raster. False when it is none.
bool open_read(const image_job* job) {
  int fd = file_open_regular(file_path(job->path));
  if (fd < 0) return false;
  reading.file = fdopen(fd, "rb");
  if (!reading.file) {
    close(fd);
    return false;
  }
  struct stat st {};
  uint8_t head[54];
  if (fstat(fd, &st) != 0 || fread(head, 1, sizeof head, reading.file) != sizeof head || head[0] != 'B' ||
      head[1] != 'M')
    return false;
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  const uint32_t info = get32(head + 14), offbits = get32(head + 10), used = get32(head + 46);
  const int32_t w = static_cast<int32_t>(get32(head + 18)), h = static_cast<int32_t>(get32(head + 22));
  const uint32_t bits = head[28] | (head[29] << 8);
  const int32_t side = static_cast<int32_t>(bmp_max_side);
  if (info < 40 || info > size - 14 || get32(head + 30) != 0 || (bits != 8 && bits != 24) || w < 1 || w > side ||
      h == 0 || h < -side || h > side || (bits == 8 && used > 256))
    return false;
  reading.width = static_cast<uint32_t>(w);
  reading.height = static_cast<uint32_t>(h < 0 ? -h : h);
  reading.top_down = h < 0;
  reading.stride = static_cast<size_t>(w) * (bits / 8);
  reading.padded = bmp_padded(reading.stride);
  // The pixels follow the palette, or lie where the header says when that is further on.
  const uint64_t colours = bits == 8 ? (used ? used : 256) : 0;
  const uint64_t palette_at = 14 + static_cast<uint64_t>(info);
  uint64_t pixels_at = palette_at + colours * 4;
  if (offbits > pixels_at && offbits < size) pixels_at = offbits;
  if (pixels_at + static_cast<uint64_t>(reading.padded) * reading.height > size) return false;
  uint8_t palette[1024];
  if (colours && (fseek(reading.file, static_cast<long>(palette_at), SEEK_SET) != 0 ||
                  fread(palette, 4, colours, reading.file) != colours))
    return false;
  reading.raster = VxCreateRasterDepth(w, static_cast<int>(reading.height), static_cast<int>(bits));
  if (!reading.raster || (colours && !VxSetRasterPalette(reading.raster, palette, static_cast<int>(colours))))
    return false;
  reading.rows = static_cast<uint8_t*>(malloc(bmp_rows_per_step(reading.padded) * reading.padded));
  return reading.rows && fseek(reading.file, static_cast<long>(pixels_at), SEEK_SET) == 0;
}

// The next batch of rows into the raster; true when the read has ended (the raster is handed
// over, or the job failed).
bool read_step() {
  const size_t want = std::min<size_t>(bmp_rows_per_step(reading.padded), reading.height - reading.next_row);
  uint8_t* pixels = fread(reading.rows, reading.padded, want, reading.file) == want ? VxGetRasterPixels(reading.raster) : nullptr;
  if (!pixels) {
    close_read();
    finish_head(1);
    return true;
  }
  for (size_t i = 0; i < want; ++i, ++reading.next_row) {
    // Rows of the raster run top-down; those of the file bottom-up unless it says otherwise.
    const uint32_t row = reading.top_down ? reading.next_row : reading.height - 1 - reading.next_row;
    std::memcpy(pixels + static_cast<size_t>(row) * reading.stride, reading.rows + i * reading.padded, reading.stride);
  }
  VxReleaseRasterPixels(reading.raster);
  if (reading.next_row < reading.height) return false;
  VxRaster* raster = reading.raster;
  reading.raster = nullptr;
  close_read();
  finish_head(0, raster);
  return true;
}

void fail_head() {
  if (too_many_scans && queue_head)
    log_note("image: refused %s: more than %d scans", queue_head->path, kMaxScans);
  too_many_scans = 0;
  close_conversion();
  finish_head(1);
}

void start_head() {
  image_job* job = queue_head;
  if (job->done) {
    queue_head = job->next;
    if (!queue_head) queue_tail = nullptr;
    free_job(job);
    return;
  }
  if (job->kind == JOB_READ) {
    idle = 0;
    if (!open_read(job)) {
      close_read();
      finish_head(1);
    }
    return;
  }
  bmp_file = file_create_fresh(job->path, &bmp_temp);
  if (!bmp_file) {
    // A file that cannot be created would block every later job: fail this one.
    finish_head(1);
    return;
  }
  idle = 0;
  cinfo.err = jpeg_std_error(&error_mgr.pub);
  error_mgr.pub.error_exit = error_exit;
  error_mgr.pub.output_message = output_message;
  cinfo_created = 1;
  jpeg_create_decompress(&cinfo);
  source.init_source = source_init;
  source.fill_input_buffer = source_fill;
  source.skip_input_data = source_skip;
  // The decoder's own resynchronisation copes with a damaged restart marker.
  source.resync_to_restart = jpeg_resync_to_restart;
  source.term_source = source_term;
  source.next_input_byte = job->data;
  source.bytes_in_buffer = job->count;
  cinfo.src = &source;
  progress.progress_monitor = on_progress;
  cinfo.progress = &progress;
  too_many_scans = 0;
  jpeg_read_header(&cinfo, TRUE);
  if (job->colors256) {
    cinfo.quantize_colors = TRUE;
    cinfo.two_pass_quantize = TRUE;
    cinfo.desired_number_of_colors = 256;
  }
  bmp_output_create(&output, &cinfo, bmp_file);
  starting = 1;
}

// Runs the decoder's start until it has finished (true) or the slice's time is up (false).
bool resume_start() {
  if (setjmp(yield_jump)) return false;
  yield_armed = 1;
  jpeg_start_decompress(&cinfo);
  yield_armed = 0;
  bmp_output_start(&output, &cinfo);
  starting = 0;
  return true;
}

// One batch of rows decoded, or written to the file once all are decoded; true when the
// image has just been completed (or has failed).
bool convert_step() {
  if (!writing) {
    if (cinfo.output_scanline < cinfo.output_height) {
      // A memory source never suspends, so no rows means the decoder cannot go on.
      if (bmp_output_rows(&output, &cinfo) == 0) ERREXIT(&cinfo, JERR_INPUT_EOF);
      if (cinfo.output_scanline < cinfo.output_height) return false;
    }
    bmp_output_finish(&output, &cinfo);
    writing = 1;
    return false;
  }
  // The rows live in the decoder's memory until it is finished.
  if (!bmp_output_write(&output, &cinfo)) return false;
  writing = 0;
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  cinfo_created = 0;
  FILE* file = bmp_file;
  bmp_file = nullptr;
  if (!file_commit_fresh(file, bmp_temp, queue_head->path)) {
    finish_head(1);
    return true;
  }
  const int32_t side = texture_side ? texture_side() : 0;
  const int32_t half = side / 2;
  const uint32_t w = output.width, h = output.height;
  const bool strip = h % w == 0 && h > w;
  if (!strip && half > 0 && (w < static_cast<uint32_t>(half) || h < static_cast<uint32_t>(half)))
    bitmap_resample(queue_head->path, 2 * half);
  finish_head(0);
  return true;
}

void run_slice(uint32_t start) {
  if (setjmp(error_mgr.jump)) {
    fail_head();
    return;
  }
  slice_end = start + static_cast<uint32_t>(balance);
  slice_work = 0;
  while (queue_head && tick_before(platform_ticks(), slice_end)) {
    if (idle) {
      start_head();
    } else if (queue_head->kind == JOB_READ) {
      if (read_step()) return;
    } else if (starting) {
      if (!resume_start()) return;
    } else if (convert_step()) {
      return;
    }
  }
}

}  // namespace

int image_convert(const uint8_t* data, size_t count, const char* bmp_path, int32_t colors256,
                  image_callback callback, void* user) {
  if (trace_switches[TRACE_GENERAL]) log_write("image_convert (%s)", bmp_path ? bmp_path : "");
  if (!bmp_path || (!data && count > 0)) return -1;
  image_job* job = static_cast<image_job*>(calloc(1, sizeof(image_job)));
  if (!job) return -1;
  job->data = static_cast<uint8_t*>(malloc(count > 0 ? count : 1));
  job->path = strdup(bmp_path);
  if (!job->data || !job->path) {
    free_job(job);
    return -1;
  }
  if (count > 0) std::memcpy(job->data, data, count);
  job->count = count;
  job->callback = callback;
  job->user = user;
  job->colors256 = colors256;
  list_append(queue_head, queue_tail, job);
  job_count++;
  return 0;
}

int image_read(const char* bmp_path, image_raster_callback callback, void* user) {
  if (trace_switches[TRACE_GENERAL]) log_write("image_read (%s)", bmp_path ? bmp_path : "");
  if (!bmp_path) return -1;
  image_job* job = static_cast<image_job*>(calloc(1, sizeof(image_job)));
  if (!job) return -1;
  job->path = strdup(bmp_path);
  if (!job->path) {
    free_job(job);
    return -1;
  }
  job->kind = JOB_READ;
  job->raster_callback = callback;
  job->user = user;
  // Next after the job at the head (and the reads already waiting there), so that a file
  // that conversions share is read before the next one writes it.
  image_job* at = queue_head;
  while (at && at->next && at->next->kind == JOB_READ && !at->next->done) at = at->next;
  if (!at) {
    list_append(queue_head, queue_tail, job);
  } else {
    job->next = at->next;
    at->next = job;
    if (queue_tail == at) queue_tail = job;
  }
  job_count++;
  return 0;
}

void image_update() {
  if (trace_frames()) log_write("image_update");
  // A callback that steps the queue itself would reuse the jump buffer in use.
  if (in_update) return;
  const int32_t budget = slice_budget();
  if (balance < 0) {
    if (balance < -500) balance = -500;
    balance += budget;
    if (balance < 0) return;
  } else if (balance < budget) {
    balance = budget;
  }
  if (!queue_head) return;
  in_update = 1;
  const uint32_t start = platform_ticks();
  run_slice(start);
  balance += static_cast<int32_t>(start - platform_ticks());
  in_update = 0;
}

bool image_busy() { return job_count > 0; }

void image_reset() {
  if (!idle || bmp_file || cinfo_created) close_conversion();
  while (queue_head) {
    image_job* next = queue_head->next;
    free_job(queue_head);
    queue_head = next;
  }
  queue_tail = nullptr;
  job_count = 0;
  idle = 1;
  balance = 0;
}

void image_term() {
  if (trace_switches[TRACE_GENERAL]) log_write("image_term");
  if (!idle || bmp_file || cinfo_created) close_conversion();
}

void image_set_texture_side_source(image_side_fn fn) { texture_side = fn; }

int32_t image_job_count() { return job_count; }

int32_t image_balance() { return balance; }
