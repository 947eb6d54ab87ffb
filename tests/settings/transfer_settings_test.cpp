// Settings that reach the transfers at once: a proxy applied while a download is running,
// and the Disk Usage page over a cache whose files were last used at different times.
#include <sys/stat.h>

#include <cstdlib>

#include "client/cache/disk.h"
#include "client/cache/download.h"
#include "client/cache/http.h"
#include "client/net/proxy.h"
#include "client/shell/disk_page.h"
#include "client/shell/proxy_page.h"
#include "tests/settings/settings_fixture.h"
#include "tests/transfer/transfer_util.h"

namespace settingstest {
namespace {

using transfer_test::ServerProcess;

std::vector<std::string> throttled(const std::string& folder, int chunk, int pause_ms) {
  return {"python3", "-u", source_dir() + "/tests/fakes/throttled.py", folder,
          std::to_string(chunk), std::to_string(pause_ms)};
}

struct Result {
  int status = 0;
  int count = 0;
  std::string data;
};

void record(void* user, int status, uint8_t* data, int size) {
  auto* r = static_cast<Result*>(user);
  r->status = status;
  r->data = data ? std::string(reinterpret_cast<char*>(data), static_cast<size_t>(size)) : "";
  ++r->count;
}

class TransferSettings : public SettingsFixture {
 protected:
  void SetUp() override {
    transfer_test::clear_proxy_environment();
    SettingsFixture::SetUp();
  }
  // Frames of the two tasks until done() holds (a wall-clock limit).
  bool frames_until(const std::function<bool()>& done) {
    return testutil::poll_until([&] {
      http_update();
      download_update();
      return done();
    }, testutil::kWaitMs);
  }
};

TEST_F(TransferSettings, ProxyAppliedDuringADownloadCarriesItsNextAttempt) {
  testutil::TempDir www("tessel_www_");
  std::string body(6000, 'm');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 26);
  transfer_test::write_file(www.file("t/models/tree.zip"), body);
  // The object server is slow; the proxy in front of it quick.
  ServerProcess object_server(throttled(www.path(), 200, 100));
  ServerProcess proxy(throttled(www.path(), 4096, 0));
  ASSERT_GT(object_server.port(), 0);
  ASSERT_GT(proxy.port(), 0);

  ASSERT_TRUE(start("[general]\n"));
  download_set_path((object_server.base() + "/t").c_str());
  Result r;
  ASSERT_NE(nullptr, download_file("models", "tree.zip", 1, record, &r));
  ASSERT_TRUE(frames_until([] {
    char label[64];
    const char* state = nullptr;
    return download_line(0, nullptr, label, sizeof label, &state);
  }));
  EXPECT_EQ(0, r.count);

  std::string port = std::to_string(proxy.port());
  ScriptedDialogs::Script steps = {page(2), tick(PROXY_USE, true), type(PROXY_ADDRESS, "127.0.0.1"),
                                   type(PROXY_PORT, port), press(DIALOG_OK)};
  EXPECT_EQ(DIALOG_OK, open_sheet(steps));
  ASSERT_TRUE(frames_until([&] { return r.count > 0; }));
  EXPECT_EQ(419, r.status);
  EXPECT_EQ(body, r.data);

  // The proxy saw the request by its full address.
  Result seen;
  proxy_clear();
  http_proxy_changed();
  ASSERT_NE(nullptr, download_url((proxy.base() + "/_requests").c_str(), 0, record, &seen));
  ASSERT_TRUE(frames_until([&] { return seen.count > 0; }));
  const std::string& log = seen.data;
  EXPECT_NE(std::string::npos, log.find("http://" + object_server.base() + "/t/models/tree.zip")) << log;
}

TEST_F(TransferSettings, DiskUsagePageShowsTheTotalOfAnAgedCache) {
  ASSERT_TRUE(start("[disk]\nlimit=0\ndelete=0\n"));
  std::string cache = dir_.file("cache/art/old");
  std::filesystem::create_directories(cache);
  testutil::write_file(cache + "/kept.bin", std::string(3 * 1048576, 'k'));
  testutil::write_file(cache + "/stale.bin", std::string(1048576, 's'));
  ASSERT_EQ(0, std::system(("touch -d '10 days ago' '" + cache + "/stale.bin'").c_str()));

  // Files not used for 7 days go; the lowered setting makes the next run due at once.
  ScriptedDialogs::Script steps = {page(1), tick(DISK_DELETE, true), type(DISK_DELETE_DAYS, "7"),
                                   press(DIALOG_OK)};
  ASSERT_EQ(DIALOG_OK, open_sheet(steps));
  EXPECT_EQ("7", ini()["disk.delete"]);
  for (int i = 0; i < 1000 && (disk_phase() != 0 || disk_total() == 0); ++i) disk_update();
  EXPECT_FALSE(std::filesystem::exists(cache + "/stale.bin"));
  EXPECT_TRUE(std::filesystem::exists(cache + "/kept.bin"));

  std::string shown;
  open_sheet({page(1), [&](ScriptedView& v) { shown = v.control(DISK_TOTAL).text; },
              press(DIALOG_CANCEL)});
  ASSERT_GE(disk_total(), 3 * 1048576);
  EXPECT_EQ(msg_arg(63, static_cast<double>(disk_total()) / 1048576.0), shown);
}

}  // namespace
}  // namespace settingstest
