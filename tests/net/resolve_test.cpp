// Name look-ups on the worker thread, delivered when polled.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "client/net/resolve.h"
#include "tests/net/net_test_util.h"

using namespace nettest;

namespace {

class ResolveTest : public ::testing::Test {
 protected:
  void SetUp() override { resolve_init(); }
  void TearDown() override { resolve_term(); }
  FakeClock clock;
  static bool settle(const uint32_t& address) {
    return poll_until([&] {
      resolve_poll();
      return address != RESOLVE_PENDING;
    }, 15000);
  }
};

TEST_F(ResolveTest, NumericAddressIsStoredAtOnce) {
  uint32_t address = 5;
  EXPECT_EQ(nullptr, resolve("10.1.2.3", &address));
  EXPECT_EQ(inet_addr("10.1.2.3"), address);
}

TEST_F(ResolveTest, LocalhostTwoCallersOneLookupThenCached) {
  uint32_t first = 7, second = 7, later = 7;
  resolve_waiter* w1 = resolve("localhost", &first);
  ASSERT_NE(nullptr, w1);
  EXPECT_EQ(RESOLVE_PENDING, first);
  resolve_waiter* w2 = resolve("localhost", &second);
  ASSERT_NE(nullptr, w2);
  // Nothing is stored from the worker thread: only a poll delivers.
  ASSERT_TRUE(settle(first));
  EXPECT_EQ(htonl(INADDR_LOOPBACK), first);
  EXPECT_EQ(first, second);
  EXPECT_TRUE(w1->delivered);
  EXPECT_EQ(nullptr, resolve("localhost", &later));
  EXPECT_EQ(first, later);
}

TEST_F(ResolveTest, CancelledWaiterIsNotWritten) {
  uint32_t kept = 1, cancelled = 1;
  resolve_waiter* a = resolve("localhost", &kept);
  resolve_waiter* b = resolve("localhost", &cancelled);
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, b);
  b->cancelled = true;
  ASSERT_TRUE(settle(kept));
  EXPECT_EQ(htonl(INADDR_LOOPBACK), kept);
  EXPECT_EQ(RESOLVE_PENDING, cancelled);
}

TEST_F(ResolveTest, UnknownNameFailsAndTheFailureIsNotKeptForever) {
  const char* name = "no-such-host.invalid";
  uint32_t address = 3;
  ASSERT_NE(nullptr, resolve(name, &address));
  ASSERT_TRUE(settle(address));
  EXPECT_EQ(RESOLVE_FAILED, address);
  // Asked again soon: the remembered failure, at once.
  uint32_t again = 3;
  EXPECT_EQ(nullptr, resolve(name, &again));
  EXPECT_EQ(RESOLVE_FAILED, again);
  // Later a new look-up starts.
  clock.advance(RESOLVE_FAILURE_KEEP);
  uint32_t fresh = 3;
  EXPECT_NE(nullptr, resolve(name, &fresh));
  EXPECT_EQ(RESOLVE_PENDING, fresh);
  ASSERT_TRUE(settle(fresh));
  EXPECT_EQ(RESOLVE_FAILED, fresh);
}

TEST_F(ResolveTest, EmptyNameFails) {
  uint32_t address = 0;
  EXPECT_EQ(nullptr, resolve("", &address));
  EXPECT_EQ(RESOLVE_FAILED, address);
}

}  // namespace
