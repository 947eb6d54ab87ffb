// Signs drawn with Qt's glyphs into textures on an object's tagged faces, the sign command of
// the action language making them, and balloons drawn into a memory frame.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstring>

#include "client/core/tick.h"
#include "client/scene/balloon.h"
#include "client/scene/behavior.h"
#include "client/scene/color.h"
#include "client/scene/model.h"
#include "client/scene/sign.h"
#include "client/ui/text_draw.h"
#include "engine/vxl21.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/gdi.h"
#include "platform/surface.h"
#include "platform/text.h"
#include "tests/support/qt_app.h"

namespace {

uint32_t fake_now = 100000;
uint32_t fake_clock() { return fake_now; }

QApplication& app() { return testutil::qt_app("sign_tests"); }

// Pixels of a texture's raster whose colour is c (0x00BBGGRR).
int pixels_of(VxTexture* t, uint32_t c) {
  VxRaster* r = t ? VxGetTextureRaster(t) : nullptr;
  if (!r) return -1;
  const unsigned char* pal = VxGetRasterPalette(r);
  unsigned char* px = VxGetRasterPixels(r);
  int n = 0;
  for (int y = 0; y < VxGetRasterHeight(r); ++y)
    for (int x = 0; x < VxGetRasterWidth(r); ++x) {
      const unsigned char* e = pal + 4 * px[y * VxGetRasterStride(r) + x];
      uint32_t v = e[2] | (e[1] << 8) | (e[0] << 16);
      n += v == c;
    }
  VxReleaseRasterPixels(r);
  return n;
}

class Signs : public ::testing::Test {
 protected:
  void SetUp() override {
    app();
    text_draw_qt_install();
    fake_now = 100000;
    platform_set_clock(fake_clock);
    tick_update();
    ASSERT_TRUE(VxInitialize(nullptr));
    ASSERT_EQ(1, color_init());
    sign_init();
  }
  void TearDown() override {
    sign_reset_for_test();
    for (model_instance* i : objects_) {
      if (i->sign) sign_release(i->sign);
      if (i->clump) VxDestroyClump(i->clump);
      delete i;
    }
    behavior_hook = {};
    model_hook = {};
    color_term();
    VxShutdown();
    text_set_backend(nullptr);
    platform_set_clock(nullptr);
  }
  // An object with faces given as {tag, vertex count, width, height}.
  struct Face {
    int tag, corners;
    float width, height;
  };
  model_instance* object(std::initializer_list<Face> faces) {
    VxBeginModel();
    VxBeginClump();
    for (const Face& f : faces) {
      VxSetModelTag(f.tag);
      int a = VxAddVertex(0, f.height, 0), b = VxAddVertex(f.width, f.height, 0);
      int c = VxAddVertex(f.width, 0, 0), d = VxAddVertex(0, 0, 0);
      if (f.corners == 4)
        VxAddQuad(a, b, c, d);
      else
        VxAddTriangle(a, b, c);
    }
    VxClump* clump = VxEndClump();
    VxEndModel();
    auto* i = new model_instance{};
    i->clump = clump;
    objects_.push_back(i);
    return i;
  }
  std::vector<VxTexture*> face_textures(model_instance* i) {
    std::vector<VxTexture*> out;
    VxForAllPolygonsInClumpWithArg(i->clump, [](VxPolygon* p, void* arg) {
      static_cast<std::vector<VxTexture*>*>(arg)->push_back(VxGetPolygonTexture(p));
    }, &out);
    return out;
  }
  void later(uint32_t ms) {
    fake_now += ms;
    tick_update();
  }
  std::vector<model_instance*> objects_;
};

}  // namespace

TEST_F(Signs, TheSignCommandPutsTheTextOnEveryTaggedFace) {
  ASSERT_NE(nullptr, behavior_hook.sign_create);
  model_instance* board = object({{100, 4, 2.0f, 1.0f}, {100, 4, 2.0f, 1.0f}, {0, 4, 2.0f, 1.0f}});
  behavior_hook.sign_create(board, "OPEN", "yellow", "");
  ASSERT_NE(nullptr, board->sign);
  EXPECT_EQ(1, sign_queue_length());
  sign_update();
  VxTexture* t = sign_texture(board->sign);
  ASSERT_NE(nullptr, t);
  std::vector<VxTexture*> faces = face_textures(board);
  EXPECT_EQ((std::vector<VxTexture*>{t, t, nullptr}), faces);
  // Yellow letters on the default blue, both clearly there.
  int letters = pixels_of(t, 0x00FFFF), ground = pixels_of(t, 0xFF0000);
  EXPECT_GT(letters, 20);
  EXPECT_GT(ground, letters);
  // A new sign on the same object replaces the old one and waits its 500 ms turn; a world's
  // control bytes show as marks.
  behavior_hook.sign_create(board, "CLOSED\x1b\r", nullptr, nullptr);
  EXPECT_STREQ("CLOSED??", sign_text(board->sign));
  EXPECT_EQ((std::vector<VxTexture*>{nullptr, nullptr, nullptr}), face_textures(board));
  later(100);
  sign_update();
  EXPECT_EQ(nullptr, sign_texture(board->sign));
  later(400);
  sign_update();
  ASSERT_NE(nullptr, sign_texture(board->sign));
  EXPECT_GT(pixels_of(sign_texture(board->sign), 0xFFFFFF), 20);
}

TEST_F(Signs, FacesWithoutShapeStayBlank) {
  model_instance* flat = object({{100, 4, 2.0f, 0.0f}});
  model_instance* thin = object({{100, 4, 0.0f, 1.0f}});
  model_instance* corner = object({{100, 3, 1.0f, 1.0f}});
  sign_create(flat, "a", nullptr, nullptr);
  sign_create(thin, "b", nullptr, nullptr);
  sign_create(corner, "c", nullptr, nullptr);
  for (int i = 0; i < 3; ++i) {
    later(SIGN_INTERVAL);
    sign_update();
  }
  EXPECT_EQ(0, sign_queue_length());
  EXPECT_EQ(nullptr, sign_texture(flat->sign));
  EXPECT_EQ(nullptr, sign_texture(thin->sign));
  EXPECT_EQ(nullptr, sign_texture(corner->sign));
}

TEST_F(Signs, LongTextOnANarrowFaceGrowsInHeightUntilItFits) {
  int w1 = 0, h1 = 0, w2 = 0, h2 = 0;
  sign_fit("Hi", 4.0, &w1, &h1);
  sign_fit("A much longer text that has to wrap over several lines of the sign", 0.5, &w2, &h2);
  EXPECT_GT(h2, h1);
  EXPECT_EQ(0, w1 % 2);
  EXPECT_EQ(0, w2 % 2);
  // The area found holds the wrapped text.
  GdiDc* dc = gdi_create_compatible_dc(nullptr);
  GdiFont* f = gdi_create_font(36, 600, "Arial");
  gdi_select_font(dc, f);
  GdiRect r{0, 0, w2, 0};
  gdi_draw_text(dc, "A much longer text that has to wrap over several lines of the sign", -1, &r,
                kDtCalcRect | kDtWordBreak | kDtCenter | kDtNoPrefix);
  EXPECT_LE(r.bottom - r.top, h2);
  gdi_delete_dc(dc);
  gdi_delete_font(f);
  // No width at all: the search still ends.
  int w3 = 0, h3 = 0;
  sign_fit("text", 0.0, &w3, &h3);
  EXPECT_GT(h3, 0);
}

TEST_F(Signs, BalloonTextDrawsIntoAnEightBitFrameInItsNearestColour) {
  // A memory frame with a grey palette stands in for the camera image.
  struct {
    BitmapInfoHeader h;
    RgbQuad colours[256];
  } info{};
  info.h = BitmapInfoHeader{40, 120, -80, 1, 8, 0, 0, 0, 0, 256, 0};
  for (int i = 0; i < 256; ++i) info.colours[i] = RgbQuad{uint8_t(i), uint8_t(i), uint8_t(i), 0};
  GdiDc* dc = gdi_create_compatible_dc(nullptr);
  uint8_t* bits = nullptr;
  GdiObject* bmp = gdi_create_dib_section(dc, &info, kDibRgbColours, &bits, nullptr, 0);
  ASSERT_NE(nullptr, bmp);
  std::memset(bits, 128, 120 * 80);
  gdi_select_object(dc, bmp);
  balloon_init(nullptr);
  balloon* b = balloon_create();
  balloon_set_text(b, "%s: %s", "bob", "hello");
  EXPECT_STREQ("bob: hello", balloon_text(b));
  // A peer's control bytes are drawn as marks of their own, never passed to the glyph drawer.
  balloon_set_text(b, "%s: %s", "bob", "hi\x1b[2J\b\x7f");
  EXPECT_STREQ("bob: hi?[2J??", balloon_text(b));
  balloon_set_text(b, "%s: %s", "bob", "hello");
  EXPECT_EQ(0, balloon_manual_draw(dc));  // nothing deferred
  GdiRect box{20, 8, 100, 72};
  GdiFont* f = gdi_create_font(-11, 400, "Arial");
  gdi_select_font(dc, f);
  gdi_set_text_colour(dc, 0xFFFFFF);
  gdi_draw_text(dc, balloon_text(b), -1, &box, kDtCenter | kDtWordBreak | kDtNoClip | kDtNoPrefix);
  int white = 0;
  for (int i = 0; i < 120 * 80; ++i) white += bits[i] == 255;
  EXPECT_GT(white, 15);
  balloon_destroy(b);
  EXPECT_EQ(0, balloon_count());
  balloon_term();
  gdi_delete_font(f);
  gdi_delete_dc(dc);
  gdi_delete_object(bmp);
}

TEST_F(Signs, TextOnAWindowContextReachesItsSurface) {
  // The viewport's own paint draws waiting balloons this way.
  CanvasSurface canvas(100, 40, 0x000000);
  PlatformWindow* window = window_create_plain(0, 0, &canvas);
  ASSERT_NE(nullptr, window);
  GdiDc* dc = gdi_get_dc(window);
  ASSERT_NE(nullptr, dc);
  GdiFont* f = gdi_create_font(-11, 400, "Arial");
  gdi_select_font(dc, f);
  gdi_set_text_colour(dc, 0x00FFFF);  // yellow
  GdiRect box{0, 0, 100, 40};
  EXPECT_GT(gdi_draw_text(dc, "hello", -1, &box, kDtCenter | kDtWordBreak | kDtNoPrefix), 0);
  int lit = 0, left_half = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 100; ++x)
      if (canvas.pixel(x, y) == 0xFFFF00) {
        ++lit;
        left_half += x < 50;
      }
  EXPECT_GT(lit, 15);
  // Centred: about as much on either side of the middle.
  EXPECT_GT(left_half, lit / 4);
  EXPECT_LT(left_half, lit * 3 / 4);
  gdi_release_dc(window, dc);
  gdi_delete_font(f);
  window_destroy(window);
}
