#pragma once
// The world's files on a loopback file server, the download queue and the image queue
// running as frames run them, and JPEG pictures made with cjpeg from known colours.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/cache/database.h"
#include "client/cache/download.h"
#include "client/cache/http.h"
#include "client/cache/image.h"
#include "client/core/files.h"
#include "tests/transfer/transfer_util.h"

namespace backdrop_test {

struct Rgb {
  int r, g, b;
};

// A JPEG of w x h whose left half is one colour and right half another.
inline std::string make_jpeg(int w, int h, Rgb left, Rgb right) {
  testutil::TempDir scratch("tessel_jpeg_");
  std::string ppm = scratch.file("in.ppm"), jpg = scratch.file("out.jpg");
  std::string bytes = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      Rgb c = x < w / 2 ? left : right;
      bytes += static_cast<char>(c.r);
      bytes += static_cast<char>(c.g);
      bytes += static_cast<char>(c.b);
    }
  testutil::write_file(ppm, bytes);
  std::string cmd = "cjpeg -quality 95 -outfile '" + jpg + "' '" + ppm + "'";
  if (std::system(cmd.c_str()) != 0) return "";
  return testutil::read_file(jpg);
}

// One file server for the whole run; each test gets its own object path on it.
class WorldFiles {
 public:
  static WorldFiles& get() {
    static WorldFiles files;
    return files;
  }
  std::string base() const { return server_->base(); }
  const std::string& root() const { return www_.path(); }
  // Requests the server has logged so far (its stderr goes to a file).
  int requests_for(const std::string& path) const {
    std::string log = testutil::read_file(log_);
    int n = 0;
    for (size_t at = log.find("GET " + path + " "); at != std::string::npos;
         at = log.find("GET " + path + " ", at + 1))
      ++n;
    return n;
  }

 private:
  WorldFiles() {
    transfer_test::clear_proxy_environment();
    log_ = www_.path() + ".log";
    std::string cmd = "exec python3 -u -m http.server 0 --bind 127.0.0.1 --directory '" +
                      www_.path() + "' 2>'" + log_ + "'";
    server_ = std::make_unique<transfer_test::ServerProcess>(std::vector<std::string>{"sh", "-c", cmd});
  }
  testutil::TempDir www_{"tessel_www_"};
  std::string log_;
  // Stopped at exit with the rest of the run's one instance (it is declared last, so it goes
  // before its folder).
  std::unique_ptr<transfer_test::ServerProcess> server_;
};

// The transfer side of a frame, from a program directory of its own.
class Transfers {
 public:
  // Object path "<server>/<tree>".
  void start(const std::string& home, const std::string& tree) {
    tree_ = tree;
    static const int engine = database_init();
    ASSERT_EQ(engine, 0);
    ASSERT_EQ(http_init(0), 0);
    download_init();
    object_path_ = WorldFiles::get().base() + "/" + tree;
    download_set_path(object_path_.c_str());
    (void)home;
  }
  void stop() {
    image_reset();
    download_reset();
    download_term();
    http_term();
  }
  // A file of the object tree on the server.
  void put(const std::string& rel, const std::string& bytes) {
    std::string path = WorldFiles::get().root() + "/" + tree_ + "/" + rel;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    testutil::write_file(path, bytes);
  }
  // Moves the file's modification time by seconds (negative: into the future).
  void age(const std::string& rel, int seconds) {
    std::string path = WorldFiles::get().root() + "/" + tree_ + "/" + rel;
    auto when = std::filesystem::last_write_time(path) - std::chrono::seconds(seconds);
    std::filesystem::last_write_time(path, when);
  }
  int requests(const std::string& rel) const {
    return WorldFiles::get().requests_for("/" + tree_ + "/" + rel);
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
  // Frames for a while, for things that must not happen.
  static void run_for(int ms) {
    testutil::poll_until([] {
      frame();
      return false;
    }, ms);
  }
  // Every queued download and conversion has ended.
  static bool idle() {
    char label[64];
    const char* state = nullptr;
    for (int i = 0; i < DOWNLOAD_SLOTS; ++i)
      if (download_line(i, [](const char*) { return 0; }, label, sizeof label, &state)) return false;
    return !image_busy();
  }
  const std::string& object_path() const { return object_path_; }

 private:
  std::string tree_;
  std::string object_path_;
};

}  // namespace backdrop_test
