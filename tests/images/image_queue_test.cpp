// The conversion queue end to end: real JPEG files from cjpeg, our BMP files compared with
// djpeg's, bad input that must fail its job without stalling the queue, and the time slices.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "client/cache/image.h"
#include "engine/vxl21.h"
#include "platform/clock.h"
#include "tests/images/image_fixtures.h"

namespace {

uint32_t fake_now = 1000;
uint32_t fake_step = 1;
uint32_t fake_jump = 0;  // added once, after the next read
uint32_t fake_clock() {
  const uint32_t t = fake_now;
  fake_now += fake_step + fake_jump;
  fake_jump = 0;
  return t;
}

struct Call {
  intptr_t user;
  int32_t status;
};
std::vector<Call> calls;
void record(void* user, int32_t status) { calls.push_back({reinterpret_cast<intptr_t>(user), status}); }

// The names in the scratch folder, in order.
std::vector<std::string> names_in(const ScratchDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

int32_t side_value = 0;
int32_t side() { return side_value; }

class ImageQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    image_reset();
    calls.clear();
    fake_now = 1000;
    fake_step = 1;
    fake_jump = 0;
    side_value = 0;
    platform_set_clock(fake_clock);
    image_set_texture_side_source(side);
  }
  void TearDown() override {
    image_reset();
    image_set_texture_side_source(nullptr);
    platform_set_clock(nullptr);
  }
  void queue(const Bytes& jpeg, const std::string& path, int colors256, intptr_t user) {
    ASSERT_EQ(0, image_convert(jpeg.data(), jpeg.size(), path.c_str(), colors256, record,
                               reinterpret_cast<void*>(user)));
  }
  // Steps frames until the queue is empty; false when it does not empty in time.
  bool drain(int max_frames = 20000) {
    for (int i = 0; i < max_frames && image_busy(); i++) image_update();
    return !image_busy();
  }
  ScratchDir dir;
};

// --- byte identity with the reference decoder's BMP output --------------------------------

struct RefCase {
  const char* name;
  int width, height;
  bool grey;
  const char* options;
};

const RefCase kRefCases[] = {
    {"baseline_37x23", 37, 23, false, "-quality 80"},
    {"baseline_1x1", 1, 1, false, ""},
    {"baseline_3x1", 3, 1, false, ""},
    {"baseline_64x48", 64, 48, false, "-quality 95 -sample 1x1"},
    {"baseline_odd_129x67", 129, 67, false, "-quality 60"},
    {"progressive_50x33", 50, 33, false, "-progressive"},
    {"progressive_grey_41x17", 41, 17, true, "-progressive"},
    {"grey_30x30", 30, 30, true, ""},
    {"grey_from_colour_22x9", 22, 9, false, "-grayscale"},
    {"restart_rows_45x40", 45, 40, false, "-restart 1"},
    {"restart_blocks_77x31", 77, 31, false, "-restart 3B -optimize"},
};

class ImageReference : public ImageQueue, public ::testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(ImageReference, BmpIsByteIdenticalToReference) {
  const RefCase& c = kRefCases[std::get<0>(GetParam())];
  const bool eight_bit = std::get<1>(GetParam());
  const Bytes jpeg = make_jpeg(dir, c.name, c.width, c.height, c.grey, c.options);
  const Bytes want = reference_bmp(dir, dir.file(std::string(c.name) + ".jpg"), eight_bit);
  const std::string out = dir.file(std::string(c.name) + ".bmp");
  ASSERT_NO_FATAL_FAILURE(queue(jpeg, out, eight_bit, 5));
  ASSERT_TRUE(drain());
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ(0, calls[0].status);
  const Bytes got = read_file(out);
  ASSERT_EQ(want.size(), got.size());
  EXPECT_TRUE(want == got) << "first difference at byte "
                           << (std::mismatch(want.begin(), want.end(), got.begin()).first - want.begin());
}

INSTANTIATE_TEST_SUITE_P(
    Files, ImageReference,
    ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(kRefCases))), ::testing::Bool()),
    [](const ::testing::TestParamInfo<std::tuple<int, bool>>& info) {
      return std::string(kRefCases[std::get<0>(info.param)].name) +
             (std::get<1>(info.param) ? "_8bit" : "_24bit");
    });

TEST_F(ImageQueue, DotsPerCentimetreBecomePixelsPerMetre) {
  Bytes jpeg = make_jpeg(dir, "dense", 20, 10, false, "");
  // JFIF segment right after SOI: units at 13, X density at 14, Y density at 16 (big-endian).
  ASSERT_EQ(0xE0, jpeg[3]);
  jpeg[13] = 2;
  jpeg[14] = 0, jpeg[15] = 28;
  jpeg[16] = 0, jpeg[17] = 40;
  write_file(dir.file("dense.jpg"), jpeg);
  ASSERT_NO_FATAL_FAILURE(queue(jpeg, dir.file("dense.bmp"), 0, 1));
  ASSERT_TRUE(drain());
  const Bytes got = read_file(dir.file("dense.bmp"));
  EXPECT_EQ(2800u, le32(got, 38));
  EXPECT_EQ(4000u, le32(got, 42));
  EXPECT_TRUE(got == reference_bmp(dir, dir.file("dense.jpg"), false));

  // Dots per inch are not converted.
  jpeg[13] = 1;
  ASSERT_NO_FATAL_FAILURE(queue(jpeg, dir.file("inch.bmp"), 0, 2));
  ASSERT_TRUE(drain());
  const Bytes inch = read_file(dir.file("inch.bmp"));
  EXPECT_EQ(0u, le32(inch, 38));
  EXPECT_EQ(0u, le32(inch, 42));
}

// --- bad input fails its own job and nothing else ----------------------------------------

Bytes huge_dimensions(Bytes jpeg) {
  // The baseline frame header: FF C0, length, precision, height, width.
  for (size_t i = 2; i + 9 < jpeg.size(); i++) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = 0xEA, jpeg[i + 6] = 0x60;  // 60000 rows
      jpeg[i + 7] = 0xEA, jpeg[i + 8] = 0x60;  // 60000 columns
      return jpeg;
    }
  }
  return {};
}

TEST_F(ImageQueue, BadJpegsFailWithStatusOneAndTheQueueGoesOn) {
  const Bytes good = make_jpeg(dir, "good", 33, 21, false, "");
  const Bytes truncated(good.begin(), good.begin() + good.size() / 2);
  const Bytes cmyk = make_cmyk_jpeg(16, 16);
  const Bytes huge = huge_dimensions(good);
  ASSERT_FALSE(huge.empty());
  const std::string text = "GIF89a this is not a JPEG file at all";
  const Bytes not_jpeg(text.begin(), text.end());
  const Bytes empty;

  const std::vector<const Bytes*> inputs = {&truncated, &good, &cmyk, &huge, &not_jpeg, &empty, &good};
  for (size_t i = 0; i < inputs.size(); i++)
    for (int colors256 = 0; colors256 < 2; colors256++)
      ASSERT_NO_FATAL_FAILURE(queue(*inputs[i], dir.file("out" + std::to_string(i) + "_" + std::to_string(colors256) + ".bmp"),
            colors256, static_cast<intptr_t>(i * 2 + colors256)));
  ASSERT_TRUE(drain());
  ASSERT_EQ(inputs.size() * 2, calls.size());
  for (size_t k = 0; k < calls.size(); k++) {
    const size_t i = k / 2;
    EXPECT_EQ(static_cast<intptr_t>(k), calls[k].user) << "callbacks out of order";
    const bool ok = inputs[i] == &good;
    EXPECT_EQ(ok ? 0 : 1, calls[k].status) << "input " << i;
    EXPECT_EQ(ok, file_there(dir.file("out" + std::to_string(i) + "_" + std::to_string(k % 2) + ".bmp")))
        << "input " << i;
  }
}

TEST_F(ImageQueue, EveryTruncationFailsWithoutReadingPastTheData) {
  const Bytes good = make_jpeg(dir, "cut", 24, 16, false, "-restart 1");
  for (size_t len = 0; len < good.size(); len += 5) {
    // The copy is exactly len bytes long, so a read past it shows under the sanitizers.
    ASSERT_NO_FATAL_FAILURE(queue(Bytes(good.begin(), good.begin() + len), dir.file("cut.bmp"), static_cast<int>(len % 2),
          static_cast<intptr_t>(len)));
  }
  ASSERT_NO_FATAL_FAILURE(queue(Bytes(good.begin(), good.end() - 1), dir.file("cut.bmp"), 0, -1));
  ASSERT_TRUE(drain());
  for (const Call& c : calls) EXPECT_EQ(1, c.status) << "length " << c.user;
  EXPECT_FALSE(file_there(dir.file("cut.bmp")));
}

TEST_F(ImageQueue, DamagedBytesNeverStallTheQueue) {
  const Bytes good = make_jpeg(dir, "fuzz", 40, 24, false, "-restart 1");
  std::mt19937 rng(1234);
  const int kCases = 150;
  for (int n = 0; n < kCases; n++) {
    Bytes bad = good;
    const int flips = 1 + static_cast<int>(rng() % 6);
    for (int f = 0; f < flips; f++) bad[2 + rng() % (bad.size() - 2)] = static_cast<uint8_t>(rng());
    ASSERT_NO_FATAL_FAILURE(queue(bad, dir.file("fuzz" + std::to_string(n) + ".bmp"), n % 2, n));
  }
  ASSERT_TRUE(drain(200000));
  ASSERT_EQ(static_cast<size_t>(kCases), calls.size());
  for (const Call& c : calls) {
    ASSERT_TRUE(c.status == 0 || c.status == 1);
    EXPECT_EQ(c.status == 0, file_there(dir.file("fuzz" + std::to_string(c.user) + ".bmp")));
  }
}

TEST_F(ImageQueue, DamagedRestartMarkerIsResynchronised) {
  Bytes jpeg = make_jpeg(dir, "rst", 64, 64, false, "-restart 1");
  // Replace the second restart marker's number so that the expected one is missing.
  int seen = 0;
  size_t at = 0;
  for (size_t i = 0; i + 1 < jpeg.size(); i++)
    if (jpeg[i] == 0xFF && jpeg[i + 1] >= 0xD0 && jpeg[i + 1] <= 0xD7 && ++seen == 2) {
      at = i + 1;
      break;
    }
  ASSERT_NE(0u, at);
  jpeg[at] = static_cast<uint8_t>(0xD0 + ((jpeg[at] - 0xD0 + 4) & 7));
  ASSERT_NO_FATAL_FAILURE(queue(jpeg, dir.file("rst.bmp"), 0, 1));
  ASSERT_TRUE(drain());
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ(0, calls[0].status);
  EXPECT_EQ(54u + 64u * 3u * 64u, read_file(dir.file("rst.bmp")).size());
}

TEST_F(ImageQueue, UnwritableBmpFailsInsteadOfBlockingTheQueue) {
  const Bytes good = make_jpeg(dir, "w", 8, 8, false, "");
  ASSERT_NO_FATAL_FAILURE(queue(good, dir.file("no/such/folder/w.bmp"), 0, 1));
  ASSERT_NO_FATAL_FAILURE(queue(good, dir.file("w.bmp"), 0, 2));
  ASSERT_TRUE(drain(100));
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ(1, calls[0].user);
  EXPECT_EQ(1, calls[0].status);
  EXPECT_EQ(2, calls[1].user);
  EXPECT_EQ(0, calls[1].status);
  EXPECT_TRUE(file_there(dir.file("w.bmp")));
}

// --- queue life cycle -----------------------------------------------------------------------

TEST_F(ImageQueue, ResetAbandonsTheOpenConversionWithoutCallbacks) {
  const Bytes big = make_jpeg(dir, "big", 300, 200, false, "");
  ASSERT_NO_FATAL_FAILURE(queue(big, dir.file("big.bmp"), 0, 1));
  ASSERT_NO_FATAL_FAILURE(queue(big, dir.file("big2.bmp"), 1, 2));
  const auto inputs = names_in(dir);
  image_update();  // 70 clock reads: the first image is open, far from done
  ASSERT_TRUE(image_busy());
  // Its file is written beside the path and takes it only once whole.
  ASSERT_EQ(inputs.size() + 1, names_in(dir).size());
  EXPECT_FALSE(file_there(dir.file("big.bmp")));
  image_reset();
  EXPECT_FALSE(image_busy());
  EXPECT_EQ(0, image_job_count());
  EXPECT_EQ(inputs, names_in(dir));
  image_update();
  EXPECT_TRUE(calls.empty());
  // The module is usable again.
  ASSERT_NO_FATAL_FAILURE(queue(make_jpeg(dir, "after", 5, 5, false, ""), dir.file("after.bmp"), 0, 3));
  ASSERT_TRUE(drain());
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ(0, calls[0].status);
}

TEST_F(ImageQueue, TermRemovesTheUnfinishedFile) {
  const Bytes big = make_jpeg(dir, "t", 200, 200, false, "");
  ASSERT_NO_FATAL_FAILURE(queue(big, dir.file("t.bmp"), 0, 1));
  const auto inputs = names_in(dir);
  image_update();
  ASSERT_EQ(inputs.size() + 1, names_in(dir).size());
  image_term();
  EXPECT_EQ(inputs, names_in(dir));
  EXPECT_FALSE(file_there(dir.file("t.bmp")));
  EXPECT_TRUE(calls.empty());
}

TEST_F(ImageQueue, ConversionIsSpreadOverFramesAndBusyUntilTheLastJob) {
  const Bytes big = make_jpeg(dir, "s", 160, 400, false, "");
  ASSERT_NO_FATAL_FAILURE(queue(big, dir.file("s1.bmp"), 0, 1));
  ASSERT_NO_FATAL_FAILURE(queue(big, dir.file("s2.bmp"), 0, 2));
  EXPECT_TRUE(image_busy());
  EXPECT_EQ(2, image_job_count());
  int frames = 0;
  while (calls.empty() && frames < 1000) {
    image_update();
    frames++;
  }
  // 400 rows at about one row per clock read and 70 reads a frame.
  EXPECT_GE(frames, 5);
  EXPECT_EQ(1, image_job_count());
  EXPECT_TRUE(image_busy());
  ASSERT_TRUE(drain());
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ(2, calls[1].user);
}

TEST_F(ImageQueue, JobsQueuedFromACallbackFollow) {
  static Bytes small;
  static std::string next_path;
  small = make_jpeg(dir, "cb", 6, 6, false, "");
  next_path = dir.file("cb2.bmp");
  image_convert(small.data(), small.size(), dir.file("cb1.bmp").c_str(), 0,
                [](void* user, int32_t status) {
                  record(user, status);
                  image_convert(small.data(), small.size(), next_path.c_str(), 0, record,
                                reinterpret_cast<void*>(2));
                },
                reinterpret_cast<void*>(1));
  ASSERT_TRUE(drain());
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ(0, calls[1].status);
  EXPECT_TRUE(file_there(next_path));
}

TEST_F(ImageQueue, CallerMayDropItsBytesAfterQueueing) {
  Bytes jpeg = make_jpeg(dir, "copy", 9, 9, false, "");
  const Bytes want = reference_bmp(dir, dir.file("copy.jpg"), false);
  std::string path = dir.file("copy.bmp");
  ASSERT_NO_FATAL_FAILURE(queue(jpeg, path, 0, 1));
  std::fill(jpeg.begin(), jpeg.end(), 0);
  path.assign(path.size(), 'x');
  ASSERT_TRUE(drain());
  EXPECT_TRUE(read_file(dir.file("copy.bmp")) == want);
}

// --- time balance ----------------------------------------------------------------------------

TEST_F(ImageQueue, OverrunDebtSkipsFramesUntilPaidBack) {
  const Bytes small = make_jpeg(dir, "debt", 4, 4, false, "");
  for (int i = 0; i < 5; i++) ASSERT_NO_FATAL_FAILURE(queue(small, dir.file("d" + std::to_string(i) + ".bmp"), 0, i));
  // One frame whose slice ends 370 ms after it began (budget 70): balance -300.
  fake_step = 0;
  fake_jump = 370;
  image_update();
  EXPECT_EQ(-300, image_balance());
  for (int expected : {-230, -160, -90, -20}) {
    image_update();
    EXPECT_EQ(expected, image_balance());
  }
  EXPECT_TRUE(calls.empty());
  image_update();  // 50 ms again; a frozen clock lets it finish one image
  EXPECT_EQ(50, image_balance());
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ(0, calls[0].status);
}

TEST_F(ImageQueue, BudgetGrowsWithQueueLengthAndDebtIsCapped) {
  const Bytes small = make_jpeg(dir, "b", 4, 4, false, "");
  auto fill = [&](int n) {
    image_reset();
    for (int i = 0; i < n; i++) ASSERT_NO_FATAL_FAILURE(queue(small, dir.file("b.bmp"), 0, i));
  };
  // A frame whose slice ends 1000 ms after it began leaves budget - 1000.
  for (auto [jobs, budget] : {std::pair{9, 70}, {10, 140}, {19, 140}, {20, 210}, {25, 210}}) {
    ASSERT_NO_FATAL_FAILURE(fill(jobs));
    fake_step = 0;
    fake_jump = 1000;
    image_update();
    EXPECT_EQ(budget - 1000, image_balance()) << jobs << " jobs";
    // The debt is capped at 500 before the next budget is added.
    image_update();
    EXPECT_EQ(budget - 500, image_balance()) << jobs << " jobs";
  }
  // A small positive balance is raised to the budget; an empty queue does no work.
  image_reset();
  image_update();
  EXPECT_EQ(70, image_balance());
}

TEST_F(ImageQueue, SliceEndsWhenTheBudgetIsSpent) {
  const Bytes big = make_jpeg(dir, "slice", 64, 300, false, "");
  ASSERT_NO_FATAL_FAILURE(queue(big, dir.file("slice.bmp"), 0, 1));
  fake_step = 10;  // every clock read costs 10 ms: about seven steps fit in 70 ms
  image_update();
  EXPECT_TRUE(calls.empty());
  EXPECT_LE(image_balance(), 0);
  EXPECT_GT(image_balance(), -20);
}

// --- progressive pictures of many scans ----------------------------------------------------

// A cjpeg scan script: the DC of every component, then each AC coefficient of each component
// in a scan of its own (1 + 63 x components scans).
std::string many_scans_script(const ScratchDir& dir, int components) {
  std::string script = "0";
  for (int c = 1; c < components; c++) script += "," + std::to_string(c);
  script += ": 0-0, 0, 0;\n";
  for (int c = 0; c < components; c++)
    for (int k = 1; k < 64; k++) script += std::to_string(c) + ": " + std::to_string(k) + "-" + std::to_string(k) + ", 0, 0;\n";
  const std::string path = dir.file("scans" + std::to_string(components) + ".txt");
  write_file(path, Bytes(script.begin(), script.end()));
  return path;
}

// Every scan is a pass over the whole picture, before the first row comes out: that work is
// spread over the frames like the rows (the stepped clock moves 1 ms a step, 70 steps a
// frame), the picture still comes out right, and one of more scans than a real picture has
// is refused without holding up the next.
TEST_F(ImageQueue, ScansAreDecodedAcrossFramesAndTooManyAreRefused) {
  const Bytes grey = make_jpeg(dir, "scans64", 64, 512, true, "-scans " + many_scans_script(dir, 1));
  for (int colors256 = 0; colors256 < 2; colors256++) {
    calls.clear();
    const std::string out = dir.file("scans64_" + std::to_string(colors256) + ".bmp");
    ASSERT_NO_FATAL_FAILURE(queue(grey, out, colors256, 1));
    int frames = 0;
    while (calls.empty() && frames < 20000) {
      image_update();
      frames++;
      ASSERT_GT(image_balance(), -20) << "frame " << frames << " overran its slice";
    }
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(0, calls[0].status);
    // 64 scans of 64 rows of blocks take 4096 steps before the first of the 512 rows.
    EXPECT_GE(frames, 40) << "colors256 " << colors256;
    EXPECT_TRUE(read_file(out) == reference_bmp(dir, dir.file("scans64.jpg"), colors256 != 0));
  }

  calls.clear();
  const Bytes colour = make_jpeg_of_scans(48, 48, 190);
  ASSERT_NO_FATAL_FAILURE(queue(colour, dir.file("scans190.bmp"), 1, 1));
  ASSERT_NO_FATAL_FAILURE(queue(make_jpeg(dir, "next", 8, 8, false, ""), dir.file("next.bmp"), 1, 2));
  ASSERT_TRUE(drain());
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ(1, calls[0].status);
  EXPECT_FALSE(file_there(dir.file("scans190.bmp")));
  EXPECT_EQ(0, calls[1].status);

  // The refusal comes once the bound is passed, not after the decoder has worked through
  // every scan: a picture of 190 scans costs no more frames than one of 110.
  int frames_to_refusal[2] = {0, 0};
  const int counts[2] = {110, 190};
  for (int i = 0; i < 2; i++) {
    calls.clear();
    const Bytes many = make_jpeg_of_scans(64, 512, counts[i]);
    ASSERT_NO_FATAL_FAILURE(queue(many, dir.file("many.bmp"), 0, 1));
    while (calls.empty() && frames_to_refusal[i] < 20000) {
      image_update();
      frames_to_refusal[i]++;
    }
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(1, calls[0].status) << counts[i] << " scans";
  }
  EXPECT_GT(frames_to_refusal[0], 20);
  EXPECT_LE(frames_to_refusal[1], frames_to_refusal[0] + 2) << frames_to_refusal[0] << " frames for 110 scans";
}

// --- pictures read back into the engine -------------------------------------------------------

struct ReadBack {
  int calls = 0;
  int32_t status = -1;
  VxRaster* raster = nullptr;
};
void read_back(void* user, int32_t status, VxRaster* raster) {
  auto* r = static_cast<ReadBack*>(user);
  ++r->calls;
  r->status = status;
  r->raster = raster;
}

// A large converted picture is read back into an engine raster a batch of rows a step, over
// many frames, each within its time (every clock read costs 10 ms here: six steps a frame);
// the raster holds the file's rows top-down and its palette. A file that is no such picture
// gives none.
TEST_F(ImageQueue, APictureIsReadIntoTheEngineInSlices) {
  ASSERT_TRUE(VxInitialize(nullptr));
  for (int colors256 = 1; colors256 >= 0; colors256--) {
    const std::string out = dir.file("tall" + std::to_string(colors256) + ".bmp");
    ASSERT_NO_FATAL_FAILURE(queue(make_jpeg(dir, "tall", 256, 2048, false, ""), out, colors256, 1));
    ASSERT_TRUE(drain());
    const Bytes bmp = read_file(out);
    ASSERT_GE(bmp.size(), 54u);
    const uint32_t w = le32(bmp, 18), h = le32(bmp, 22), bytes = colors256 ? 1 : 3;
    const size_t padded = (w * bytes + 3) & ~size_t{3}, pixels = le32(bmp, 10);
    ReadBack got;
    ASSERT_EQ(0, image_read(out.c_str(), read_back, &got));
    EXPECT_TRUE(image_busy());
    fake_step = 10;
    int frames = 0;
    while (got.calls == 0 && frames < 1000) {
      image_update();
      frames++;
      ASSERT_GT(image_balance(), -20) << "frame " << frames << " overran its slice";
    }
    fake_step = 1;
    ASSERT_EQ(1, got.calls);
    ASSERT_EQ(0, got.status);
    ASSERT_NE(nullptr, got.raster);
    // 2048 rows of 256 (or 768) bytes, 64 KB a step: 8 (or 24) steps, six a frame.
    EXPECT_GE(frames, colors256 ? 2 : 4) << "colors256 " << colors256;
    ASSERT_EQ(static_cast<int>(w), VxGetRasterWidth(got.raster));
    ASSERT_EQ(static_cast<int>(h), VxGetRasterHeight(got.raster));
    ASSERT_EQ(colors256 ? 8 : 24, VxGetRasterDepth(got.raster));
    const int stride = VxGetRasterStride(got.raster);
    const uint8_t* p = VxGetRasterPixels(got.raster);
    bool same = true;
    for (uint32_t y = 0; y < h && same; y++)
      same = std::equal(p + static_cast<size_t>(y) * stride, p + static_cast<size_t>(y + 1) * stride,
                        bmp.begin() + static_cast<std::ptrdiff_t>(pixels + (h - 1 - y) * padded));
    VxReleaseRasterPixels(got.raster);
    EXPECT_TRUE(same) << "colors256 " << colors256;
    if (colors256) {
      EXPECT_TRUE(std::equal(VxGetRasterPalette(got.raster), VxGetRasterPalette(got.raster) + 1024, bmp.begin() + 54));
    }
    VxDestroyRaster(got.raster);
  }
  write_file(dir.file("bad.bmp"), Bytes(100, 'B'));
  ReadBack bad;
  ASSERT_EQ(0, image_read(dir.file("bad.bmp").c_str(), read_back, &bad));
  ASSERT_TRUE(drain());
  EXPECT_EQ(1, bad.calls);
  EXPECT_EQ(1, bad.status);
  EXPECT_EQ(nullptr, bad.raster);
  VxShutdown();
}

// --- small textures --------------------------------------------------------------------------

TEST_F(ImageQueue, SmallTexturesAreResampledToTheDeviceSide) {
  side_value = 64;  // h = 32
  struct Case {
    int w, h;
    bool resampled;
  } cases[] = {{16, 24, true}, {16, 64, false}, {40, 40, false}, {40, 20, true}, {8, 8, true}, {32, 32, false}};
  int n = 0;
  for (const Case& c : cases) {
    const std::string name = "tex" + std::to_string(n++);
    ASSERT_NO_FATAL_FAILURE(queue(make_jpeg(dir, name, c.w, c.h, false, ""), dir.file(name + ".bmp"), 1, n));
  }
  ASSERT_TRUE(drain());
  n = 0;
  for (const Case& c : cases) {
    const Bytes bmp = read_file(dir.file("tex" + std::to_string(n++) + ".bmp"));
    ASSERT_GE(bmp.size(), 54u);
    EXPECT_EQ(c.resampled ? 64u : static_cast<uint32_t>(c.w), le32(bmp, 18)) << c.w << "x" << c.h;
    EXPECT_EQ(c.resampled ? 64u : static_cast<uint32_t>(c.h), le32(bmp, 22)) << c.w << "x" << c.h;
    EXPECT_EQ(bmp.size(), le32(bmp, 2));
  }
}

TEST_F(ImageQueue, TrueColourPicturesAreNeverResampled) {
  side_value = 256;
  ASSERT_NO_FATAL_FAILURE(queue(make_jpeg(dir, "pic", 20, 12, false, ""), dir.file("pic.bmp"), 0, 1));
  ASSERT_TRUE(drain());
  EXPECT_TRUE(read_file(dir.file("pic.bmp")) == reference_bmp(dir, dir.file("pic.jpg"), false));
}

}  // namespace
