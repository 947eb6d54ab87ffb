#pragma once
// Models, textures and the chunk cache against a real object server: the standard library's
// file server over a tree made with the real zip and cjpeg tools, real keyed databases, the
// real engine (no device) and the real download, unzip and image queues.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/cache/chunk.h"
#include "client/cache/database.h"
#include "client/cache/download.h"
#include "client/cache/http.h"
#include "client/cache/image.h"
#include "client/core/log.h"
#include "client/core/files.h"
#include "client/core/profile.h"
#include "client/scene/model.h"
#include "client/scene/scene.h"
#include "client/scene/texture.h"
#include "client/servers/attributes.h"
#include "engine/vxl21.h"
#include "platform/progdir.h"
#include "tests/support/test_util.h"

namespace model_test {

inline std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline int run(const std::string& command) { return std::system(command.c_str()); }

inline void write(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  testutil::write_file(path, bytes);
}

// "<dir>/<name>.zip" holding the one file member (made with the real zip tool).
inline void zip_member(const std::string& zip_path, const std::string& member_path,
                       const std::string& password = "") {
  std::filesystem::create_directories(std::filesystem::path(zip_path).parent_path());
  std::remove(zip_path.c_str());
  std::string cipher = password.empty() ? "" : "-P " + shell_quote(password) + " ";
  ASSERT_EQ(run("zip -q -j -Z deflate " + cipher + shell_quote(zip_path) + " " + shell_quote(member_path)), 0);
}

// A w x h JPEG of a colour gradient (a PPM through the real cjpeg).
inline void make_jpeg(const std::string& jpg_path, int w, int h) {
  std::string ppm = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      ppm += static_cast<char>(x * 255 / (w > 1 ? w - 1 : 1));
      ppm += static_cast<char>(y * 255 / (h > 1 ? h - 1 : 1));
      ppm += static_cast<char>(128);
    }
  std::string ppm_path = jpg_path + ".ppm";
  write(ppm_path, ppm);
  std::filesystem::create_directories(std::filesystem::path(jpg_path).parent_path());
  ASSERT_EQ(run("cjpeg -quality 90 -outfile " + shell_quote(jpg_path) + " " + shell_quote(ppm_path)), 0);
  std::remove(ppm_path.c_str());
}

// An 8-bit BMP whose left half is 0 (transparent) and right half 1 (opaque).
inline std::string mask_bmp(int w, int h) {
  std::string b;
  auto u16 = [&](unsigned v) { b += static_cast<char>(v & 255), b += static_cast<char>(v >> 8 & 255); };
  auto u32 = [&](unsigned v) { u16(v & 0xffff), u16(v >> 16); };
  int row = (w + 3) & ~3;
  unsigned off = 54 + 256 * 4;
  b += "BM";
  u32(off + row * h), u32(0), u32(off);
  u32(40), u32(w), u32(h), u16(1), u16(8), u32(0), u32(row * h), u32(0), u32(0), u32(256), u32(0);
  for (int i = 0; i < 256; ++i) b += std::string{static_cast<char>(i), static_cast<char>(i), static_cast<char>(i), 0};
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) b += static_cast<char>(x < w / 2 ? 0 : 1);
    b.append(static_cast<size_t>(row - w), '\0');
  }
  return b;
}

// The system's interpreter when there is one: a version-manager shim costs a second a start.
inline std::string python() {
  return std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

// The file server, with its request log kept for the 304 checks.
class ObjectServer : public testutil::ChildProcess {
 public:
  ObjectServer(const std::string& dir, const std::string& log)
      : ChildProcess({"sh", "-c", "exec " + python() + " -u -m http.server 0 --bind 127.0.0.1 --directory " +
                                      shell_quote(dir) + " 2>>" + shell_quote(log)}) {
    // Its "port" line comes once it listens.
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(testutil::kWaitMs);
    while (port_ == 0 && !ended() && std::chrono::steady_clock::now() < end) {
      std::string l = line(1000);
      size_t at = l.find(" port ");
      if (at != std::string::npos) port_ = std::atoi(l.c_str() + at + 6);
    }
  }
  int port() const { return port_; }

 private:
  int port_ = 0;
};

class ModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) unsetenv(v);
    www_ = home_.file("www");
    std::filesystem::create_directories(www_ + "/w/models");
    std::filesystem::create_directories(www_ + "/w/textures");
    server_log_ = home_.file("server.log");
    server_ = std::make_unique<ObjectServer>(www_, server_log_);
    ASSERT_GT(server_->port(), 0);
    file_term();
    platform_set_program_dir(home_.path());
    write(home_.file("tessel.ini"), "[general]\n");
    profile_init(home_.path().c_str(), "/tessel.ini");
    log_init();  // the trace log beside the settings, not in the working folder every test shares
    static const int engine = database_init();
    ASSERT_EQ(engine, 0);
    ASSERT_TRUE(VxInitialize(nullptr));
    ASSERT_NE(scene_init(), nullptr);
    ASSERT_EQ(http_init(0), 0);
    download_init();
    download_set_path(object_path().c_str());
    chunk_reset();
    ASSERT_EQ(model_init(), 1);
  }
  void TearDown() override {
    model_term();
    download_reset();
    image_reset();
    texture_reset();
    chunk_term();
    download_term();
    http_term();
    scene_term();
    VxShutdown();
    attributes_clear();
    file_term();
  }

  std::string object_path() const { return "127.0.0.1:" + std::to_string(server_->port()) + "/w"; }
  std::string cache_dir() const { return download_get_path(); }

  // A model script served as models/<name>.zip (the member keeps the name).
  void serve_model(const std::string& file, const std::string& text, const std::string& folder = "models",
                   const std::string& password = "") {
    std::string member = home_.file("src/" + file);
    write(member, text);
    std::string base = file.substr(0, file.rfind('.'));
    ASSERT_NO_FATAL_FAILURE(zip_member(www_ + "/w/" + folder + "/" + base + ".zip", member, password));
  }
  void serve_raw(const std::string& rel, const std::string& bytes) { write(www_ + "/w/" + rel, bytes); }
  void serve_texture(const std::string& name, int w = 16, int h = 16) {
    ASSERT_NO_FATAL_FAILURE(make_jpeg(www_ + "/w/textures/" + name + ".jpg", w, h));
  }
  void serve_mask(const std::string& name, int w = 16, int h = 16) {
    std::string member = home_.file("src/" + name + ".bmp");
    write(member, mask_bmp(w, h));
    ASSERT_NO_FATAL_FAILURE(zip_member(www_ + "/w/textures/" + name + ".zip", member));
  }

  static void frame() {
    http_update();
    download_update();
    image_update();
  }
  static bool run_until(const std::function<bool()>& done, int limit_ms = testutil::kWaitMs) {
    return testutil::poll_until([&] {
      frame();
      return done();
    }, limit_ms);
  }
  // Frames until nothing is queued or converting any more.
  static void settle(int limit_ms = testutil::kWaitMs) {
    int quiet = 0;
    testutil::poll_until([&] {
      frame();
      quiet = image_busy() ? 0 : quiet + 1;
      return quiet > 150;
    }, limit_ms);
  }
  std::string server_log() const { return testutil::read_file(server_log_); }

  testutil::TempDir home_{"tessel_model_"};
  std::string www_;
  std::string server_log_;
  std::unique_ptr<ObjectServer> server_;
};

// Textured polygons in the clump and its parts.
inline int textured_polygons(VxClump* clump) {
  if (!clump) return 0;
  int n = 0;
  for (int i = 0; i < VxGetClumpNumPolygons(clump); ++i)
    if (VxGetPolygonTexture(VxGetClumpPolygon(clump, i))) ++n;
  for (VxClump* c = VxGetFirstChildClump(clump); c; c = VxGetNextSiblingClump(c)) n += textured_polygons(c);
  return n;
}

inline int all_polygons(VxClump* clump) {
  if (!clump) return 0;
  int n = VxGetClumpNumPolygons(clump);
  for (VxClump* c = VxGetFirstChildClump(clump); c; c = VxGetNextSiblingClump(c)) n += all_polygons(c);
  return n;
}

// A model script: a textured quad (with an optional mask), an untextured triangle after
// "texture null", and an optional axis alignment.
inline std::string quad_script(const std::string& texture, const std::string& mask = "",
                               const std::string& align = "", float height = 2) {
  std::string h = std::to_string(height);
  std::string s = "# made for the tests\nclumpbegin\n";
  if (!align.empty()) s += "  axisalignment " + align + "\n";
  s += "  vertex -1 0 0 uv 0 1\n  vertex 1 0 0 uv 1 1\n  vertex 1 " + h + " 0 uv 1 0\n  vertex -1 " + h +
       " 0 uv 0 0\n";
  if (!texture.empty()) s += "  texture " + texture + (mask.empty() ? "" : " mask " + mask) + "\n";
  s += "  quad 1 2 3 4\n  texture null\n  colour 0 1 0\n  triangle 1 3 2\nclumpend\n";
  return s;
}

}  // namespace model_test
