// The proxy text from a real settings file.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "client/core/profile.h"
#include "client/net/proxy.h"

namespace {

std::string settings_dir(const std::string& text) {
  auto dir = std::filesystem::temp_directory_path() /
             ("tessel_net_proxy_" + std::to_string(::getpid()) + "_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "tessel.ini") << text;
  return dir.string();
}

TEST(Proxy, AddressAndPortMakeTheText) {
  auto dir = settings_dir("[proxy]\naddress=gate.example\nport=8080\n");
  ASSERT_TRUE(profile_init(dir.c_str(), "/tessel.ini"));
  proxy_init();
  ASSERT_NE(nullptr, proxy_text());
  EXPECT_STREQ("gate.example:8080", proxy_text());
  EXPECT_EQ(8080, proxy_port());
  std::filesystem::remove_all(dir);
}

TEST(Proxy, AbsentPortIsTakenAs16Bits) {
  auto dir = settings_dir("[proxy]\naddress=gate\n");
  ASSERT_TRUE(profile_init(dir.c_str(), "/tessel.ini"));
  proxy_init();
  EXPECT_STREQ("gate:65535", proxy_text());
  std::filesystem::remove_all(dir);
}

TEST(Proxy, EmptyAddressMeansNoProxy) {
  auto dir = settings_dir("[proxy]\naddress=\nport=80\n");
  ASSERT_TRUE(profile_init(dir.c_str(), "/tessel.ini"));
  proxy_init();
  EXPECT_EQ(nullptr, proxy_text());
  EXPECT_EQ(nullptr, proxy_address());
  std::filesystem::remove_all(dir);
}

// A port that only begins with digits names no proxy, not the digits' port nor the default.
TEST(Proxy, APortThatIsNotWhollyANumberNamesNoProxy) {
  for (const char* port : {"8080abc", "3128 x", "80.5"}) {
    auto dir = settings_dir(std::string("[proxy]\naddress=gate\nport=") + port + "\n");
    ASSERT_TRUE(profile_init(dir.c_str(), "/tessel.ini"));
    proxy_init();
    EXPECT_EQ(nullptr, proxy_text()) << port;
    std::filesystem::remove_all(dir);
  }
}

}  // namespace
