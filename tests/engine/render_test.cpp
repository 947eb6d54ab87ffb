// The engine drawing through the real display driver plug-in: opening devices, what reaches
// the render modes (clipping, facing, shading, materials, textures), frames presented into a
// window, handedness and picking.
#include <cmath>

#include "tests/engine/render_fixture.h"

namespace {

// ---- devices ---------------------------------------------------------------------------

TEST_F(RenderTest, DriverOpensInEveryOutputMode) {
  for (int mode = 1; mode <= 3; ++mode) {
    SCOPED_TRACE(mode);
    ASSERT_TRUE(start(mode)) << VxGetError();
    DeviceRecord* r = record();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->raster_depth, 8);
    EXPECT_EQ(r->texture_width_unit, 128);
    EXPECT_EQ(r->small_texture_width_unit, 16);
    EXPECT_EQ(r->device_open, nullptr);  // opened once
    int32_t v = -1;
    ASSERT_TRUE(VxGetDeviceInfo(VX_INFO_IMAGE_SURFACE, &v, 4));
    EXPECT_EQ(v, mode == 3 ? 1 : 0);
    ASSERT_TRUE(VxGetDeviceInfo(VX_INFO_FALLBACK, &v, 4));
    EXPECT_EQ(v, mode == 2 ? 1 : 0);
    EXPECT_FALSE(VxGetDeviceInfo(VX_INFO_FALLBACK, &v, 3));
    VxCamera* cam = camera(40, 30, {0, 0, 0}, {0, 0, 1});
    ASSERT_NE(cam, nullptr);
    VxShutdown();
    EXPECT_EQ(display_library_open_count(), 0);
    EXPECT_EQ(gdi_live_objects(), 0);
    EXPECT_EQ(gdi_canary_faults(), 0);
    ASSERT_TRUE(VxInitialize(nullptr));
  }
}

TEST_F(RenderTest, MissingOrUnsafeDriverNamesFail) {
  EXPECT_EQ(VxOpenDriver("VXDLNONE", 0), nullptr);
  EXPECT_EQ(VxGetError(), VX_E_NO_DEVICE);
  EXPECT_EQ(VxOpenDriver("../lib/VXDL8D21", 0), nullptr);
  VxDriver* d = VxOpenDriver("VXDL8D21", 0);
  ASSERT_NE(d, nullptr);
  EXPECT_FALSE(VxStartDriver(d, 0, 7, nullptr));
  ASSERT_TRUE(VxStartDriver(d, 0, 1, nullptr));
  EXPECT_NE(record(), nullptr);
  ASSERT_TRUE(VxCloseDriver(d));  // closes its device too
  EXPECT_EQ(record(), nullptr);
  EXPECT_FALSE(VxCloseDriver(d));
  EXPECT_EQ(display_library_open_count(), 0);
}

// The client's start-up sequence with its option block, falling back to the default start.
TEST_F(RenderTest, StartUpSequenceEndsWithAnOpenDevice) {
  int32_t block[4] = {1007, 0, 1004, 16};
  VxDriver* d = VxOpenDriver("VXDL8D21", 0);
  ASSERT_NE(d, nullptr);
  bool started = VxStartDriver(d, 0, 2, block);
  if (!started) {
    EXPECT_EQ(VxGetError(), VX_E_NO_DEVICE);
    EXPECT_EQ(record(), nullptr);
    ASSERT_TRUE(VxCloseDriver(d));
    started = VxStartDevice("MSWindows", 0, 2, block) || VxStartDeviceDefault("MSWindows", 0);
  }
  ASSERT_TRUE(started);
  DeviceRecord* r = record();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->texture_width_unit, 128);
  VxCamera* cam = camera(32, 24, {0, 0, 0}, {0, 0, 1});
  ASSERT_NE(cam, nullptr);
  ASSERT_TRUE(VxBeginCameraUpdate(cam));
  ASSERT_TRUE(VxEndCameraUpdate(cam));
  VxShutdown();
  EXPECT_EQ(display_library_open_count(), 0);
  EXPECT_EQ(gdi_live_objects(), 0);
  ASSERT_TRUE(VxInitialize(nullptr));
}

TEST_F(RenderTest, CamerasMadeBeforeTheDeviceGetFrames) {
  VxCamera* cam = camera(64, 48, {0, 0, 0}, {0, 0, 1});
  ASSERT_NE(cam, nullptr);
  ASSERT_TRUE(start(1));
  ASSERT_TRUE(VxSetCameraBackColor(cam, 0, 0, 1));
  ASSERT_TRUE(VxBeginCameraUpdate(cam));
  ASSERT_TRUE(VxEndCameraUpdate(cam));
  VxRaster* img = (VxRaster*)VxGetCameraImage(cam);
  ASSERT_NE(img, nullptr);
  const unsigned char* pal = VxGetRasterPalette(img);
  int index = VxGetRasterPixels(img)[10 * VxGetRasterStride(img) + 10];
  EXPECT_GT(pal[index * 4], 150);      // blue
  EXPECT_LT(pal[index * 4 + 2], 60);   // red
}

// The client writes on the frame through the image's device context before it is shown.
TEST_F(RenderTest, DibSectionImageIsAContextOnTheFrame) {
  ASSERT_TRUE(start(2));
  PlatformWindow* w = show_window(64, 48);
  VxCamera* cam = camera_in(w, 64, 48, {0, 0, 0});
  void* image = VxGetCameraImage(cam);
  ASSERT_NE(image, nullptr);
  ASSERT_TRUE(VxBeginCameraUpdate(cam));
  ASSERT_TRUE(VxEndCameraUpdate(cam));
  EXPECT_NE(gdi_set_pixel(static_cast<GdiDc*>(image), 5, 7, 0xFFFFFF), 0xFFFFFFFFu);
  ASSERT_TRUE(show_image(cam, w));
  // One white pixel in column 5 and nothing else changed. (The row is left out: the
  // platform's memory context counts the rows of a bottom-up section from the bottom.)
  int changed = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x)
      if (canvas->pixel(x, y) != canvas->pixel(0, 0)) {
        ++changed;
        EXPECT_EQ(x, 5);
        EXPECT_EQ(canvas->pixel(x, y) & 0xE0E0E0, 0xE0E0E0u);
      }
  EXPECT_EQ(changed, 1);
  EXPECT_NE(canvas->pixel(0, 0), 0x123456u);
}

// The half-size camera is shown stretched to the full camera's size.
TEST_F(RenderTest, HalfCameraIsShownAtTheFullSize) {
  ASSERT_TRUE(start(2));
  PlatformWindow* w = show_window(80, 60);
  VxCamera* half = camera_in(w, 20, 16, {1, 0, 0});
  VxHalfCameraControl pair{40, 32, half};
  EXPECT_FALSE(VxDeviceControl(VX_CONTROL_HALF_CAMERA, 0, &pair, 12));  // cut short
  ASSERT_TRUE(VxDeviceControl(VX_CONTROL_HALF_CAMERA, 0, &pair, sizeof pair));
  ASSERT_TRUE(VxBeginCameraUpdate(half));
  ASSERT_TRUE(VxEndCameraUpdate(half));
  ASSERT_TRUE(show_image(half, w));
  uint32_t red = canvas->pixel(0, 0);
  EXPECT_GT(red >> 16, 150u);
  EXPECT_EQ(canvas->pixel(39, 31), red);
  EXPECT_EQ(canvas->pixel(40, 0), 0x123456u);
  EXPECT_EQ(canvas->pixel(0, 32), 0x123456u);
}

// ---- what the render modes receive -------------------------------------------------------

bool inside_frame(const DeviceVertex& v, int x0, int y0, int x1, int y1) {
  return v.screen_x >= (x0 << 16) && v.screen_x <= (x1 << 16) && v.screen_y >= (y0 << 16) &&
         v.screen_y <= (y1 << 16) && (v.clip_flags & 0x3F) == 0 && v.depth > 0 && v.depth <= (32001 << 16);
}

TEST_F(RenderTest, PolygonsCrossingEverySideAndTheNearPlaneAreClipped) {
  ASSERT_TRUE(start(2));
  ASSERT_NO_FATAL_FAILURE(record_polygons());
  VxScene* s = VxCreateScene();
  VxCamera* cam = camera(100, 80, {0, 0, 0}, {0, 0, 1});
  // A cube around the eye (seen from inside: two-sided), a wide wall, a floor under the eye.
  VxClump* room = make_cube(4, 0, 0, 0.5f);
  VxMaterial* m = VxCreateMaterial();
  VxSetMaterialMode(m, VX_MATERIAL_TWO_SIDED);
  for (int i = 0; i < VxGetClumpNumPolygons(room); ++i) VxSetPolygonMaterial(VxGetClumpPolygon(room, i), m);
  VxAddClumpToScene(s, room);
  VxAddClumpToScene(s, make_square(50, 0, 0, 3));
  VxAddClumpToScene(s, make_square(2, 0, 0, 0.01f));  // straddles nothing: wholly before near
  ASSERT_TRUE(VxBeginCameraUpdate(cam));
  ASSERT_TRUE(VxRenderScene(s));
  ASSERT_TRUE(VxEndCameraUpdate(cam));
  ASSERT_FALSE(recorded().empty());
  bool left = false, right = false, top = false, bottom = false;
  for (const RecordedPolygon& p : recorded()) {
    ASSERT_GE(p.vertices.size(), 3u);
    for (const DeviceVertex& v : p.vertices) {
      ASSERT_TRUE(inside_frame(v, 0, 0, 100, 80)) << v.screen_x / 65536.0 << "," << v.screen_y / 65536.0;
      EXPECT_GE(v.view_z, 0.025f - 1e-6f);
      left |= v.screen_x == 0, right |= v.screen_x == (100 << 16);
      top |= v.screen_y == 0, bottom |= v.screen_y == (80 << 16);
    }
  }
  EXPECT_TRUE(left && right && top && bottom);
}

// Two faces that share an edge slanting out through the side of the view, nearly along it:
// each is cut where the edge leaves the view, and both cuts are the same point, or a crack
// of the back colour runs between them along the view's edge.
TEST_F(RenderTest, FacesSharingAnEdgeAreCutAtTheSamePoint) {
  ASSERT_TRUE(start(2));
  ASSERT_NO_FATAL_FAILURE(record_polygons());
  VxCamera* cam = camera(100, 80, {0, 0, 0}, {0, 0, 1});
  for (int k = 0; k < 8; ++k) {
    SCOPED_TRACE(k);
    // The view's left side is the plane x = z / 2; the edge runs from just outside it to
    // just inside.
    const float a[3] = {0.5f + 0.013f * (k + 1), 0.3f - 0.05f * k, 1}, b[3] = {2.5f - 0.011f * (k + 1), -0.2f, 5};
    VxBeginModel();
    VxBeginClump();
    VxSetModelMode(VX_MATERIAL_TWO_SIDED);
    VxAddVertex(a[0], a[1], a[2]);
    VxAddVertex(b[0], b[1], b[2]);
    VxAddVertex(0, 0, 3);  // inside
    VxAddVertex(3, 0, 3);  // outside on the left
    VxAddTriangle(1, 2, 3);
    VxAddTriangle(2, 1, 4);
    VxClump* c = VxEndClump();
    VxEndModel();
    draw(cam, {c});
    ASSERT_EQ(recorded().size(), 2u);
    int shared = 0;
    for (const DeviceVertex& v : recorded()[0].vertices)
      for (const DeviceVertex& w : recorded()[1].vertices)
        shared += v.screen_x == 0 && w.screen_x == 0 && v.screen_y == w.screen_y && v.depth == w.depth;
    EXPECT_EQ(shared, 1);
    VxDestroyClump(c);
  }
}

TEST_F(RenderTest, ClippingHoldsToASmallerViewport) {
  ASSERT_TRUE(start(1));
  ASSERT_NO_FATAL_FAILURE(record_polygons());
  VxCamera* cam = camera(100, 80, {0, 0, 0}, {0, 0, 1});
  ASSERT_TRUE(VxSetCameraViewport(cam, 10, 8, 60, 40));
  VxClump* wall = make_square(50, 0, 0, 3);
  ASSERT_TRUE(VxBeginCameraUpdate(cam));
  ASSERT_TRUE(VxRenderClump(wall));
  ASSERT_TRUE(VxEndCameraUpdate(cam));
  ASSERT_EQ(recorded().size(), 1u);
  for (const DeviceVertex& v : recorded()[0].vertices)
    EXPECT_TRUE(inside_frame(v, 10, 8, 70, 48)) << v.screen_x / 65536.0 << "," << v.screen_y / 65536.0 << " "
                                                << (int)v.clip_flags << " " << v.depth;
  // The wall covers the whole viewport: its corners are the viewport's.
  EXPECT_EQ(recorded()[0].vertices.size(), 4u);
}

TEST_F(RenderTest, OnlyFrontFacesOfAClosedModelAreHandedOver) {
  ASSERT_TRUE(start(2));
  ASSERT_NO_FATAL_FAILURE(record_polygons());
  VxCamera* cam = camera(80, 80, {3, 2, -5}, {0, 0, 0});
  VxClump* cube = make_cube(1, 0, 0, 0);
  ASSERT_TRUE(VxBeginCameraUpdate(cam));
  ASSERT_TRUE(VxRenderClump(cube));
  ASSERT_TRUE(VxEndCameraUpdate(cam));
  ASSERT_EQ(recorded().size(), 3u);  // -z, +x and +y faces seen from (3, 2, -5)
  for (const RecordedPolygon& p : recorded()) {
    EXPECT_EQ(p.flag, 0);
    // Counter-clockwise on the screen with y down: the driver draws these as they are.
    int64_t area = 0;
    for (size_t i = 0; i < p.vertices.size(); ++i) {
      const DeviceVertex& a = p.vertices[i];
      const DeviceVertex& b = p.vertices[(i + 1) % p.vertices.size()];
      area += (int64_t)(a.screen_x >> 8) * (b.screen_y >> 8) - (int64_t)(b.screen_x >> 8) * (a.screen_y >> 8);
    }
    EXPECT_LT(area, 0);
  }
}

TEST_F(RenderTest, TwoSidedPolygonSeenFromBehindIsHandedOverReversed) {
  ASSERT_TRUE(start(2));
  ASSERT_NO_FATAL_FAILURE(record_polygons());
  VxCamera* cam = camera(80, 80, {0, 0, 6}, {0, 0, 0});  // behind the square's front
  VxClump* one = make_square(1, 0, 0, 3);
  VxClump* two = make_square(1, 0, 0, 3, VX_MATERIAL_TWO_SIDED);
  ASSERT_TRUE(VxBeginCameraUpdate(cam));
  ASSERT_TRUE(VxRenderClump(one));
  EXPECT_TRUE(recorded().empty());
  ASSERT_TRUE(VxRenderClump(two));
  ASSERT_TRUE(VxEndCameraUpdate(cam));
  ASSERT_EQ(recorded().size(), 1u);
  EXPECT_EQ(recorded()[0].flag, 1);
  EXPECT_EQ(recorded()[0].mode & 0x80, 0x80);
}

TEST_F(RenderTest, ShadeFollowsTheSceneLightAndSurface) {
  ASSERT_TRUE(start(2));
  ASSERT_NO_FATAL_FAILURE(record_polygons());
  VxScene* s = VxCreateScene();
  VxAddLightToScene(s, VxCreateLight(1, 0, 0, 1, 1.0f));  // shining north, into the faces
  VxCamera* cam = camera(80, 80, {0, 0, -4}, {0, 0, 0});
  VxClump* lit = make_square(1, 0.8f, 0, 0);  // faces south, toward the light's source
  VxAddClumpToScene(s, lit);
  ASSERT_TRUE(VxBeginCameraUpdate(cam));
  ASSERT_TRUE(VxRenderScene(s));
  ASSERT_EQ(recorded().size(), 1u);
  EXPECT_EQ(recorded()[0].shade, 31 << 16);
  for (const DeviceVertex& v : recorded()[0].vertices) EXPECT_EQ(v.shade, 31 << 16);
  // Turned away from the light: only the ambient share.
  VxRotateMatrix(VxScratchMatrix(), 0, 1, 0, 90, VX_REPLACE);
  VxTransformClump(lit, VxScratchMatrix(), VX_REPLACE);
  VxMaterial* m = VxCreateMaterial();
  VxSetMaterialMode(m, VX_MATERIAL_TWO_SIDED);
  VxSetMaterialSurface(m, 0.4f, 1, 0);
  VxSetPolygonMaterial(VxGetClumpPolygon(lit, 0), m);
  recorded().clear();
  ASSERT_TRUE(VxRenderScene(s));
  ASSERT_TRUE(VxEndCameraUpdate(cam));
  ASSERT_EQ(recorded().size(), 1u);
  EXPECT_EQ(recorded()[0].shade, (int32_t)std::lrint(0.4f * 0.25f * 31) << 16);
}

TEST_F(RenderTest, MaterialsChooseTheRenderModeAndColourRow) {
  ASSERT_TRUE(start(2));
  ASSERT_NO_FATAL_FAILURE(record_polygons());
  VxCamera* cam = camera(80, 80, {0, 0, -4}, {0, 0, 0});
  VxClump* glass = make_square(1, 0, 0, 0, VX_MATERIAL_DEPTH_BIAS, 0.5f);
  VxClump* red = make_square(1, 0, 0, 0);
  VxMaterial* m = VxCreateMaterial();
  VxSetMaterialColor(m, 1, 0, 0);
  VxSetPolygonMaterial(VxGetClumpPolygon(red, 0), m);
  VxClump* green = make_square(1, 0, 0, 0);
  VxSetMaterialColor(m, 0, 1, 0);
  VxSetPolygonMaterial(VxGetClumpPolygon(green, 0), m);
  ASSERT_TRUE(VxBeginCameraUpdate(cam));
  VxRenderClump(glass), VxRenderClump(red), VxRenderClump(green);
  ASSERT_TRUE(VxEndCameraUpdate(cam));
  ASSERT_EQ(recorded().size(), 3u);
  EXPECT_EQ(recorded()[0].slot, 14);  // translucent: the stipple mode
  EXPECT_EQ(recorded()[0].opacity, 128);
  EXPECT_EQ(recorded()[0].mode, 0x40);
  EXPECT_EQ(recorded()[1].slot, 12);
  EXPECT_EQ(recorded()[1].opacity, 255);
  EXPECT_EQ(recorded()[1].colour & 0x1F, 0u);  // a row offset
  EXPECT_NE(recorded()[1].colour, recorded()[2].colour);
}

TEST_F(RenderTest, TexturesAreResampledAndMatchedToThePalette) {
  ASSERT_TRUE(start(2));
  ASSERT_NO_FATAL_FAILURE(record_polygons());
  // 32 x 32 red and blue halves, and a 8 x 8 one with a masked corner.
  VxRaster* big = VxCreateRasterDepth(32, 32, 24);
  unsigned char* px = VxGetRasterPixels(big);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      unsigned char* p = px + y * VxGetRasterStride(big) + x * 3;
      p[0] = x < 16 ? 0 : 255, p[1] = 0, p[2] = x < 16 ? 255 : 0;  // blue, green, red
    }
  VxReleaseRasterPixels(big);
  VxTexture* tb = VxCreateTexture(big);
  VxRaster* small = VxCreateRasterDepth(8, 8, 24);
  px = VxGetRasterPixels(small);
  for (int i = 0; i < 8 * 8 * 3; ++i) px[(i / 3) / 8 * VxGetRasterStride(small) + i % 24] = 200;
  VxReleaseRasterPixels(small);
  VxTexture* ts = VxCreateTexture(small);
  VxRaster* mask = VxCreateRaster(8, 8);
  px = VxGetRasterPixels(mask);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) px[y * VxGetRasterStride(mask) + x] = (x < 4 && y < 4) ? 0 : 1;
  VxReleaseRasterPixels(mask);
  ASSERT_TRUE(VxMaskTexture(ts, mask));
  VxCamera* cam = camera(80, 80, {0, 0, -4}, {0, 0, 0});
  VxClump* a = make_square(1, 0, 0, 0);
  VxSetPolygonTexture(VxGetClumpPolygon(a, 0), tb);
  VxClump* b = make_square(1, 0, 0, 0);
  VxSetPolygonTexture(VxGetClumpPolygon(b, 0), ts);
  ASSERT_TRUE(VxBeginCameraUpdate(cam));
  VxRenderClump(a), VxRenderClump(b);
  ASSERT_TRUE(VxEndCameraUpdate(cam));
  ASSERT_EQ(recorded().size(), 2u);
  const RecordedPolygon& pa = recorded()[0];
  EXPECT_EQ(pa.slot, 20);
  EXPECT_EQ(pa.mode & 0x0F, 3);  // lit, perspective, 128 x 128
  ASSERT_NE(pa.texels, nullptr);
  unsigned char pal[256 * 4];
  ASSERT_TRUE(VxGetPaletteEntries(0, 256, pal));
  int left = pa.texels[64 * 128 + 10], right = pa.texels[64 * 128 + 100];
  EXPECT_GT(pal[left * 4], 180);        // red
  EXPECT_LT(pal[left * 4 + 2], 80);
  EXPECT_GT(pal[right * 4 + 2], 180);   // blue
  EXPECT_LT(pal[right * 4], 80);
  const RecordedPolygon& pb = recorded()[1];
  EXPECT_EQ(pb.mode & 0x0F, 11);  // small texture
  ASSERT_NE(pb.texels, nullptr);
  EXPECT_EQ(pb.texels[0], 0);            // masked: transparent
  EXPECT_EQ(pb.texels[7 * 16 + 7], 0);
  EXPECT_NE(pb.texels[8 * 16 + 8], 0);
  EXPECT_NE(pb.texels[15 * 16 + 15], 0);
  // The texture's vertex coordinates arrive in 16.16.
  bool full_u = false;
  for (const DeviceVertex& v : pa.vertices) full_u |= v.u == 65536;
  EXPECT_TRUE(full_u);
}

// The driver's polygon record holds 255 vertices: a larger polygon arrives as several fans
// around its first vertex that together cover every triangle once.
TEST_F(RenderTest, LargePolygonsArriveAsFansTheRecordHolds) {
  ASSERT_TRUE(start(2));
  ASSERT_NO_FATAL_FAILURE(record_polygons());
  VxCamera* cam = camera(80, 80, {0, 0, -4}, {0, 0, 0});
  const int n = 600;
  VxBeginModel();
  VxBeginClump();
  std::vector<int> numbers;
  for (int i = 0; i < n; ++i) {
    double a = -2 * 3.14159265358979 * i / n;  // clockwise in x: counter-clockwise seen from -z
    numbers.push_back(VxAddVertex((VxReal)(0.5 * std::cos(a)), (VxReal)(0.5 * std::sin(a)), 0));
  }
  ASSERT_NE(VxAddPolygon(n, numbers.data()), nullptr);
  VxClump* disc = VxEndClump();
  VxEndModel();
  ASSERT_TRUE(VxBeginCameraUpdate(cam));
  ASSERT_TRUE(VxRenderClump(disc));
  ASSERT_TRUE(VxEndCameraUpdate(cam));
  ASSERT_GE(recorded().size(), 3u);
  int triangles = 0;
  const DeviceVertex first = recorded()[0].vertices[0];
  for (const RecordedPolygon& p : recorded()) {
    ASSERT_LE(p.vertices.size(), 255u);
    EXPECT_EQ(p.vertices[0].screen_x, first.screen_x);
    EXPECT_EQ(p.vertices[0].screen_y, first.screen_y);
    triangles += (int)p.vertices.size() - 2;
  }
  EXPECT_EQ(triangles, n - 2);
  for (size_t i = 1; i < recorded().size(); ++i) {  // each fan starts where the last one ended
    const DeviceVertex& end = recorded()[i - 1].vertices.back();
    EXPECT_EQ(recorded()[i].vertices[1].screen_x, end.screen_x);
    EXPECT_EQ(recorded()[i].vertices[1].screen_y, end.screen_y);
  }
}

// The world's x grows to the west: a user looking north sees +x on the left.
TEST_F(RenderTest, PlusXAppearsOnTheLeftLookingNorth) {
  ASSERT_TRUE(start(2));
  ASSERT_NO_FATAL_FAILURE(record_polygons());
  VxCamera* cam = camera(100, 100, {0, 0, 0}, {0, 0, 1});
  VxClump* west = make_square(0.5f, 1.5f, 0, 5);
  ASSERT_TRUE(VxBeginCameraUpdate(cam));
  ASSERT_TRUE(VxRenderClump(west));
  ASSERT_TRUE(VxEndCameraUpdate(cam));
  ASSERT_EQ(recorded().size(), 1u);
  for (const DeviceVertex& v : recorded()[0].vertices) EXPECT_LT(v.screen_x, 50 << 16);
  VxScreenVertex sv{};
  ASSERT_TRUE(VxProjectClumpVertex(west, 1, cam, &sv));
  EXPECT_TRUE(sv.visible);
  EXPECT_LT(sv.x, 50);
}

// ---- frames in a window ------------------------------------------------------------------

class RenderModes : public RenderTest, public ::testing::WithParamInterface<int> {};

TEST_P(RenderModes, BackgroundAndBackdropReachTheWindow) {
  ASSERT_TRUE(start(GetParam())) << VxGetError();
  PlatformWindow* w = show_window(120, 90);
  VxCamera* cam = camera(64, 48, {0, 0, 0}, {0, 0, 1});
  ASSERT_TRUE(VxSetCameraWindow(cam, w));
  ASSERT_TRUE(VxSetCameraBackColor(cam, 0, 0, 0.7f));
  // A backdrop 16 wide, two colours, placed at rows 10..19 and scrolled by 4 columns.
  VxRaster* bd = VxCreateRasterDepth(16, 10, 24);
  unsigned char* px = VxGetRasterPixels(bd);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 16; ++x) {
      unsigned char* p = px + y * VxGetRasterStride(bd) + x * 3;
      p[0] = 0, p[1] = x < 8 ? 255 : 0, p[2] = x < 8 ? 0 : 255;  // green, then red
    }
  VxReleaseRasterPixels(bd);
  ASSERT_TRUE(VxSetCameraBackdrop(cam, bd));
  ASSERT_TRUE(VxSetCameraBackdropOffset(cam, -4, 0));
  ASSERT_TRUE(VxSetCameraBackdropViewport(cam, 0, 10, 64, 10));
  ASSERT_TRUE(VxBeginCameraUpdate(cam));
  ASSERT_TRUE(VxEndCameraUpdate(cam));
  ASSERT_TRUE(show_image(cam, w));
  uint32_t back = canvas->pixel(5, 5);
  EXPECT_LT(back >> 16, 60u);
  EXPECT_GT(back & 0xFF, 120u);
  EXPECT_EQ(canvas->pixel(63, 47), back);
  EXPECT_EQ(canvas->pixel(64, 0), 0x123456u);  // beside the camera: untouched
  // Column x shows backdrop column (x + 4) mod 16.
  uint32_t g = canvas->pixel(0, 12), r = canvas->pixel(4, 12);
  EXPECT_GT((g >> 8) & 0xFF, 150u);
  EXPECT_GT(r >> 16, 150u);
  EXPECT_EQ(canvas->pixel(3, 19), g);
  EXPECT_EQ(canvas->pixel(12, 15), g);  // wrapped
  EXPECT_EQ(canvas->pixel(3, 20), back);
  EXPECT_EQ(gdi_canary_faults(), 0);
}

INSTANTIATE_TEST_SUITE_P(OutputModes, RenderModes, ::testing::Values(1, 2, 3));

// ---- picking -----------------------------------------------------------------------------

TEST_F(RenderTest, PickGivesPolygonAndTopLevelClumpNotBackground) {
  ASSERT_TRUE(start(2));
  VxScene* s = VxCreateScene();
  VxCamera* cam = camera(100, 100, {0, 0, -5}, {0, 0, 0});
  VxClump* body = make_cube(1, 0, 0, 0);
  VxClump* arm = make_cube(0.5f, 0, 0, 0);
  VxTranslateMatrix(VxScratchMatrix(), 1.5f, 0, 0, VX_REPLACE);  // west: left on the screen
  VxTransformClump(arm, VxScratchMatrix(), VX_REPLACE);
  ASSERT_TRUE(VxAddChildToClump(body, arm));
  VxAddClumpToScene(s, body);
  // Render once so that picking runs against the device's cameras as drawn.
  ASSERT_TRUE(VxBeginCameraUpdate(cam));
  ASSERT_TRUE(VxRenderScene(s));
  ASSERT_TRUE(VxEndCameraUpdate(cam));
  VxPickRecord pick{};
  // The arm's near face centre projects left of the middle.
  int ax = 50 - (int)std::lrint(1.5f / (4.75f * 0.5f) * 50);
  ASSERT_TRUE(VxPickScene(s, ax, 50, cam, &pick));
  ASSERT_EQ(pick.type, VX_PICK_POLYGON);
  VxPolygon* hit = (VxPolygon*)pick.object;
  bool in_arm = false;
  for (int i = 0; i < VxGetClumpNumPolygons(arm); ++i) in_arm |= VxGetClumpPolygon(arm, i) == hit;
  EXPECT_TRUE(in_arm);
  EXPECT_EQ(VxGetPolygonClump(hit), body);
  ASSERT_TRUE(VxPickScene(s, 50, 50, cam, &pick));
  ASSERT_EQ(pick.type, VX_PICK_POLYGON);
  EXPECT_EQ(VxGetPolygonClump((VxPolygon*)pick.object), body);
  EXPECT_NEAR(pick.distance, 4.5f, 0.01f);
  ASSERT_TRUE(VxPickScene(s, 95, 50, cam, &pick));  // east of everything: background
  EXPECT_EQ(pick.type, VX_PICK_NOTHING);
  EXPECT_EQ(pick.object, nullptr);
}

}  // namespace
