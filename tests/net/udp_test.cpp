// The peer channel's datagram socket over loopback.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "client/net/netcodes.h"
#include "client/net/udp.h"
#include "tests/net/net_test_util.h"

using namespace nettest;

namespace {

int bound_port(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

// Takes the given datagram port if it is free; -1 when someone has it.
int take_port(int port) {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

struct Receiver {
  int fd = -1;
  uint16_t port = 0;
  Receiver() {
    fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = loopback();
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    port = static_cast<uint16_t>(bound_port(fd));
  }
  ~Receiver() { close(fd); }
  std::vector<std::vector<uint8_t>> drain(int wait_ms) {
    std::vector<std::vector<uint8_t>> out;
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, wait_ms) > 0) {
      uint8_t buf[512];
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n < 0) break;
      out.emplace_back(buf, buf + n);
    }
    return out;
  }
};

TEST(Udp, FirstAndEveryThirdDatagramAreDropped) {
  udp_reset_send_count();
  int sock = -1;
  ASSERT_EQ(0, udp_create(&sock));
  Receiver rx;
  for (uint8_t i = 1; i <= 7; ++i) EXPECT_EQ(0, udp_send(sock, &i, 1, loopback(), htons(rx.port)));
  auto got = rx.drain(300);
  std::vector<uint8_t> values;
  for (auto& d : got) values.push_back(d.at(0));
  EXPECT_EQ((std::vector<uint8_t>{2, 3, 5, 6}), values);
  udp_destroy(sock);
}

TEST(Udp, ReceiveGivesSenderAddressAndPort) {
  int sock = -1;
  ASSERT_EQ(0, udp_create(&sock));
  int port = bound_port(sock);
  uint8_t buf[64];
  int count = -1;
  uint32_t address = 0;
  uint16_t from_port = 0;
  EXPECT_EQ(0, udp_receive(sock, buf, sizeof buf, &count, &address, &from_port));
  EXPECT_EQ(0, count);
  Receiver peer;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = loopback();
  to.sin_port = htons(static_cast<uint16_t>(port));
  const uint8_t dg[] = {2, 0, 0, 0, 1};
  ASSERT_EQ(5, sendto(peer.fd, dg, sizeof dg, 0, reinterpret_cast<sockaddr*>(&to), sizeof to));
  ASSERT_TRUE(poll_until([&] { return udp_receive(sock, buf, sizeof buf, &count, &address, &from_port) == 0 && count > 0; }));
  EXPECT_EQ(5, count);
  EXPECT_EQ(0, std::memcmp(buf, dg, 5));
  EXPECT_EQ(loopback(), address);
  EXPECT_EQ(peer.port, ntohs(from_port));
  udp_destroy(sock);
}

TEST(Udp, BindsTheFirstFreePortUpTo3100AndStaysUnboundWhenAllAreTaken) {
  // Other programs on this machine may hold some of these ports: only what this test took
  // itself is relied on.
  bool last_free_at_start = true;
  {
    int probe = take_port(UDP_LAST_PORT);
    if (probe < 0) last_free_at_start = false; else close(probe);
  }
  std::vector<int> held;
  for (int p = UDP_FIRST_PORT; p < UDP_LAST_PORT; ++p) {
    int fd = take_port(p);
    if (fd >= 0) held.push_back(fd);
  }
  int sock = -1;
  ASSERT_EQ(0, udp_create(&sock));
  int port = bound_port(sock);
  if (last_free_at_start && port != UDP_LAST_PORT && port != 0) {
    // Only a failure when 3100 is still free (another test may have taken it meanwhile).
    int probe = take_port(UDP_LAST_PORT);
    if (probe >= 0) {
      close(probe);
      ADD_FAILURE() << "bound port " << port << " with 3100 free";
    }
  }
  udp_destroy(sock);
  int last = take_port(UDP_LAST_PORT);
  if (last >= 0) held.push_back(last);
  ASSERT_EQ(0, udp_create(&sock));
  EXPECT_EQ(0, bound_port(sock));  // unbound, still created
  // An unbound socket still sends (the system gives it a port then).
  Receiver rx;
  udp_reset_send_count();
  uint8_t one = 1, two = 2;
  udp_send(sock, &one, 1, loopback(), htons(rx.port));
  EXPECT_EQ(0, udp_send(sock, &two, 1, loopback(), htons(rx.port)));
  auto got = rx.drain(300);
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(2, got[0][0]);
  udp_destroy(sock);
  for (int fd : held) close(fd);
}

}  // namespace
