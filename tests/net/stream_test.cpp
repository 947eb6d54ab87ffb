// Message streams over real loopback connections, against the scripted Python fake server
// or plain sockets opened here. Time-outs run on a fake clock.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "client/net/message.h"
#include "client/net/stream.h"
#include "client/net/tcp.h"
#include "tests/net/net_test_util.h"

using namespace nettest;

namespace {

int resets = 0;
void count_reset() { ++resets; }

// Polls until a message is complete (0) or an error other than 401 comes.
int next_message(stream* s, int* length, int limit_ms = testutil::kWaitMs) {
  int r = NET_NOT_YET;
  poll_until([&] {
    r = stream_receive_message(s, length);
    return r != NET_NOT_YET;
  }, limit_ms);
  return r;
}

std::string frame_hex(const std::vector<uint8_t>& body) {
  std::vector<uint8_t> f = {static_cast<uint8_t>(body.size() >> 8), static_cast<uint8_t>(body.size())};
  f.insert(f.end(), body.begin(), body.end());
  return hex(f);
}

class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override { resets = 0; }
  void TearDown() override { stream_destroy(s); }

  // The fake accepts the connection and sends `frames_hex`; the stream connects to it.
  void connect_to_sender(const std::string& frames_hex) {
    sender = std::make_unique<FakeServer>(R"([{"op":"accept"},{"op":"send","hex":")" + frames_hex + R"("}])");
    ASSERT_EQ(0, stream_create(loopback(), sender->port_net(), count_reset, &s));
  }

  FakeClock clock;
  stream* s = nullptr;
  std::unique_ptr<FakeServer> sender;
};

TEST_F(StreamTest, UniverseReplySplitAcrossWritesIsReadWhole) {
  // Reply 0, rc 0: "alpha", 127.0.0.1, port 6670; the frame arrives in four writes.
  FakeServer fake(R"([{"op":"accept"},{"op":"send_parts","parts":["00","0e0000","05616c7068617f0000","011a0e"],"gap_ms":60}])");
  ASSERT_NE(0, fake.port());
  ASSERT_EQ(0, stream_create(loopback(), fake.port_net(), count_reset, &s));
  int length = 0;
  ASSERT_EQ(0, next_message(s, &length));
  ASSERT_EQ(14, length);
  uint8_t rc = 9, code = 9;
  char name[256];
  int32_t address = 0;
  int16_t port = 0;
  EXPECT_EQ(0, stream_receive(s, rd::Byte{&rc}, rd::Byte{&code}, rd::String{name, sizeof name}, rd::Int32{&address},
                              rd::Int16{&port}));
  EXPECT_EQ(0, rc);
  EXPECT_EQ(0, code);
  EXPECT_STREQ("alpha", name);
  EXPECT_EQ(0x7f000001, address);
  EXPECT_EQ(6670, port);
  EXPECT_EQ(14, stream_message_position(s));
  EXPECT_EQ(0, resets);
}

TEST_F(StreamTest, SeveralFramesInOneWriteComeOutOneByOne) {
  std::string all = frame_hex({3, 0, 7}) + frame_hex({}) + frame_hex({4, 'h', 'i'});
  ASSERT_NO_FATAL_FAILURE(connect_to_sender(all));
  int length = -1;
  uint8_t code = 0;
  int16_t session = 0;
  ASSERT_EQ(0, next_message(s, &length));
  EXPECT_EQ(3, length);
  EXPECT_EQ(0, stream_receive(s, rd::Byte{&code}, rd::Int16{&session}));
  EXPECT_EQ(3, code);
  EXPECT_EQ(7, session);
  ASSERT_EQ(0, next_message(s, &length));
  EXPECT_EQ(0, length);
  ASSERT_EQ(0, next_message(s, &length));
  ASSERT_EQ(3, length);
  uint8_t raw[2];
  EXPECT_EQ(0, stream_receive(s, rd::Byte{&code}, rd::Raw{2, raw}));
  EXPECT_EQ(4, code);
  EXPECT_EQ('h', raw[0]);
  EXPECT_EQ('i', raw[1]);
  EXPECT_EQ(NET_NOT_YET, stream_receive_message(s, &length));
}

TEST_F(StreamTest, ShortMessageIsRefusedNotReadIntoTheNext) {
  // A reply of code 5 whose string says 9 characters but the frame ends after 2; the next
  // frame must come out intact.
  std::string all = frame_hex({5, 9, 'a', 'b'}) + frame_hex({6, 0, 1});
  ASSERT_NO_FATAL_FAILURE(connect_to_sender(all));
  int length = 0;
  ASSERT_EQ(0, next_message(s, &length));
  ASSERT_EQ(4, length);
  uint8_t code = 0;
  char text[256] = "old";
  int32_t after = 77;
  EXPECT_EQ(NET_READ_PAST_END, stream_receive(s, rd::Byte{&code}, rd::String{text, sizeof text}, rd::Int32{&after}));
  EXPECT_EQ(5, code);
  EXPECT_STREQ("", text);
  EXPECT_EQ(0, after);
  ASSERT_EQ(0, next_message(s, &length));
  EXPECT_EQ(3, length);
  int16_t value = 0;
  EXPECT_EQ(0, stream_receive(s, rd::Byte{&code}, rd::Int16{&value}));
  EXPECT_EQ(6, code);
  EXPECT_EQ(1, value);
}

TEST_F(StreamTest, StringWithOnlyItsLengthByteGives421AndEmptyText) {
  ASSERT_NO_FATAL_FAILURE(connect_to_sender(frame_hex({7, 4})));
  int length = 0;
  ASSERT_EQ(0, next_message(s, &length));
  uint8_t code;
  char text[256] = "x";
  EXPECT_EQ(NET_READ_PAST_END, stream_receive(s, rd::Byte{&code}, rd::String{text, sizeof text}));
  EXPECT_STREQ("", text);
}

TEST_F(StreamTest, UnreadRestOfAMessageIsNotTakenAsTheNextFrame) {
  std::string all = frame_hex({1, 0, 5, 0, 5, 0, 5}) + frame_hex({2, 0x42});
  ASSERT_NO_FATAL_FAILURE(connect_to_sender(all));
  int length = 0;
  uint8_t code = 0, value = 0;
  ASSERT_EQ(0, next_message(s, &length));
  EXPECT_EQ(0, stream_receive(s, rd::Byte{&code}));  // the handler stops after the code
  ASSERT_EQ(0, next_message(s, &length));
  EXPECT_EQ(2, length);
  EXPECT_EQ(0, stream_receive(s, rd::Byte{&code}, rd::Byte{&value}));
  EXPECT_EQ(2, code);
  EXPECT_EQ(0x42, value);
}

TEST_F(StreamTest, RewindCountsRecordsFromTheBodyWithoutReadingPastIt) {
  // rc, code, then three records {int16}.
  ASSERT_NO_FATAL_FAILURE(connect_to_sender(frame_hex({0, 14, 0, 1, 0, 2, 0, 3}) + frame_hex({9})));
  int length = 0;
  ASSERT_EQ(0, next_message(s, &length));
  uint8_t rc, code;
  stream_receive(s, rd::Byte{&rc}, rd::Byte{&code});
  stream_message_rewind(s);
  std::vector<int> records;
  while (stream_message_position(s) < length - 2) {
    int16_t v = 0;
    ASSERT_EQ(0, stream_receive(s, rd::Int16{&v}));
    records.push_back(v);
  }
  EXPECT_EQ((std::vector<int>{1, 2, 3}), records);
  int16_t extra = 5;
  EXPECT_EQ(NET_READ_PAST_END, stream_receive(s, rd::Int16{&extra}));
  EXPECT_EQ(0, extra);
  ASSERT_EQ(0, next_message(s, &length));
  EXPECT_EQ(1, length);
  EXPECT_EQ(0, stream_error(s));
}

TEST_F(StreamTest, RingWrapsAroundWithoutLosingOrOverwritingBytes) {
  // 40 frames of 997 bytes (about 40 KB, five times the ring), each filled with its index,
  // all in one write: the ring is full most of the time and wraps mid-frame.
  std::string all;
  for (int i = 0; i < 40; ++i) {
    std::vector<uint8_t> body(997, static_cast<uint8_t>(i * 7 + 1));
    body[0] = static_cast<uint8_t>(i);
    all += frame_hex(body);
  }
  FakeServer fake(R"([{"op":"accept"},{"op":"send","hex":")" + all + R"("},{"op":"wait_stdin"}])");
  ASSERT_EQ(0, stream_create(loopback(), fake.port_net(), count_reset, &s));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let the whole burst queue up
  for (int i = 0; i < 40; ++i) {
    int length = 0;
    ASSERT_EQ(0, next_message(s, &length)) << "frame " << i;
    ASSERT_EQ(997, length);
    uint8_t body[997];
    ASSERT_EQ(0, stream_receive(s, rd::Raw{997, body}));
    ASSERT_EQ(i, body[0]);
    for (int k = 1; k < 997; ++k) ASSERT_EQ(static_cast<uint8_t>(i * 7 + 1), body[k]) << "frame " << i << " byte " << k;
    EXPECT_LE(s->count, NET_MAX_MESSAGE);
  }
  fake.release();
  EXPECT_EQ(0, resets);
}

TEST_F(StreamTest, LargestFrameFitsTheRing) {
  std::vector<uint8_t> body(NET_MAX_MESSAGE, 0x33);
  body[NET_MAX_MESSAGE - 1] = 0x44;
  FakeServer fake(R"([{"op":"accept"},{"op":"send","hex":")" + frame_hex(body) + frame_hex({1}) + R"("},{"op":"wait_stdin"}])");
  ASSERT_EQ(0, stream_create(loopback(), fake.port_net(), count_reset, &s));
  int length = 0;
  ASSERT_EQ(0, next_message(s, &length));
  ASSERT_EQ(NET_MAX_MESSAGE, length);
  std::vector<uint8_t> got(NET_MAX_MESSAGE);
  ASSERT_EQ(0, stream_receive(s, rd::Raw{got.size(), got.data()}));
  EXPECT_EQ(body, got);
  ASSERT_EQ(0, next_message(s, &length));
  EXPECT_EQ(1, length);
  fake.release();
}

TEST_F(StreamTest, OversizedFrameResetsTheStreamInsteadOfParsingItsBody) {
  // Length 8097 whose body looks like small frames; none of them may come out.
  std::vector<uint8_t> body(8097, 0);
  for (size_t i = 0; i + 3 <= body.size(); i += 3) {
    body[i] = 0;
    body[i + 1] = 1;
    body[i + 2] = 0x99;
  }
  std::string over = "1fa1" + hex(body);
  FakeServer fake(R"([{"op":"accept"},{"op":"send","hex":")" + over + R"("},{"op":"accept"},{"op":"send","hex":")" +
                  frame_hex({0x21}) + R"("}])");
  ASSERT_EQ(0, stream_create(loopback(), fake.port_net(), count_reset, &s));
  clock.advance(5000);  // the connection is old enough to reconnect at once
  int length = 0;
  int r = next_message(s, &length);
  EXPECT_EQ(NET_MESSAGE_TOO_LONG, r);
  EXPECT_EQ(1, resets);
  // The new connection brings the next frame; nothing of the old body is seen.
  ASSERT_EQ(0, next_message(s, &length));
  ASSERT_EQ(1, length);
  uint8_t code = 0;
  stream_receive(s, rd::Byte{&code});
  EXPECT_EQ(0x21, code);
  EXPECT_EQ(1, resets);
}

TEST_F(StreamTest, PeerCloseGives416CallbackAndReconnectsInTheSameCall) {
  FakeServer fake(R"([{"op":"accept"},{"op":"close"},{"op":"accept"},{"op":"send","hex":")" + frame_hex({0x31}) +
                  R"("}])");
  ASSERT_EQ(0, stream_create(loopback(), fake.port_net(), count_reset, &s));
  clock.advance(STREAM_RETRY_SPACING + 1);
  int length = 0;
  EXPECT_EQ(NET_CLOSED, next_message(s, &length));
  EXPECT_EQ(1, resets);
  EXPECT_NE(nullptr, s->connection);  // the new attempt started in that call
  ASSERT_EQ(0, next_message(s, &length));
  uint8_t code = 0;
  stream_receive(s, rd::Byte{&code});
  EXPECT_EQ(0x31, code);
}

TEST_F(StreamTest, QuickSecondResetWaitsForTheRetrySpacing) {
  FakeServer fake(R"([{"op":"accept"},{"op":"close"},{"op":"accept"},{"op":"send","hex":")" + frame_hex({0x32}) +
                  R"("}])");
  ASSERT_EQ(0, stream_create(loopback(), fake.port_net(), count_reset, &s));
  int length = 0;
  EXPECT_EQ(NET_CLOSED, next_message(s, &length));
  EXPECT_EQ(1, resets);
  EXPECT_EQ(nullptr, s->connection);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(NET_NOT_YET, stream_receive_message(s, &length));
  EXPECT_EQ(nullptr, s->connection);
  clock.advance(STREAM_RETRY_SPACING);
  ASSERT_EQ(0, next_message(s, &length));
  uint8_t code = 0;
  stream_receive(s, rd::Byte{&code});
  EXPECT_EQ(0x32, code);
  EXPECT_EQ(1, resets);
}

TEST_F(StreamTest, RefusedConnectDoesNotReconnectAtFrameRate) {
  uint16_t port = closed_port();
  int r = stream_create(loopback(), htons(port), count_reset, &s);
  if (r != 0) {
    // Refused at once by the connect call itself.
    EXPECT_EQ(NET_CONNECT_FAILED, r);
    EXPECT_EQ(nullptr, s);
    return;
  }
  // Many frames in the same second: at most one reset, and no new attempt.
  int length;
  int errors = 0;
  poll_until([&] {
    int e = stream_receive_message(s, &length);
    if (e != 0 && e != NET_NOT_YET) ++errors;
    return resets > 0;
  }, 3000);
  ASSERT_EQ(1, resets);
  EXPECT_EQ(1, errors);
  for (int i = 0; i < 200; ++i) stream_receive_message(s, &length);
  EXPECT_EQ(1, resets);
  // A second later one new attempt is made, which is refused again.
  clock.advance(STREAM_RETRY_SPACING);
  poll_until([&] {
    stream_receive_message(s, &length);
    return resets > 1;
  }, 3000);
  EXPECT_EQ(2, resets);
  for (int i = 0; i < 200; ++i) stream_receive_message(s, &length);
  EXPECT_EQ(2, resets);
}

TEST_F(StreamTest, SendsArriveFramedAtTheFake) {
  FakeServer fake(R"([{"op":"accept"},{"op":"wait_frames","count":2}])");
  ASSERT_EQ(0, stream_create(loopback(), fake.port_net(), count_reset, &s));
  uint8_t buf[NET_SEND_BUFFER];
  ASSERT_EQ(1, message_pack(pk::Buffer{buf, sizeof buf}, pk::Skip{2}, pk::Byte{24}, pk::String{"alpha"}));
  int n = message_fill_length();
  ASSERT_EQ(0, stream_send(s, buf, n));
  int length;
  // The first send may have been kept as pending: receiving retries it.
  poll_until([&] {
    stream_receive_message(s, &length);
    return s->pending == nullptr;
  });
  ASSERT_EQ(1, message_pack(pk::Buffer{buf, sizeof buf}, pk::Skip{2}, pk::Byte{32}));
  n = message_fill_length();
  ASSERT_EQ(0, stream_send(s, buf, n));
  ASSERT_TRUE(fake.expect_while("done 1", [&] { stream_receive_message(s, &length); }));
  std::vector<std::string> frames;
  for (auto& l : fake.seen)
    if (l.rfind("frame ", 0) == 0) frames.push_back(l.substr(6));
  ASSERT_EQ(2u, frames.size());
  EXPECT_EQ("1805616c706861", frames[0]);  // code 24, "alpha"
  EXPECT_EQ("20", frames[1]);              // heartbeat: code 32 alone
}

// Every sender packs into 1024 bytes: a longer message is refused with 426 and nothing of it
// goes, while one of exactly 1024 bytes arrives whole.
TEST_F(StreamTest, AMessageLongerThanTheSendBufferIsRefusedAndNothingOfItGoes) {
  FakeServer fake(R"([{"op":"accept"},{"op":"wait_frames","count":1}])");
  ASSERT_EQ(0, stream_create(loopback(), fake.port_net(), count_reset, &s));
  auto message = [](int total) {
    std::vector<uint8_t> m(static_cast<size_t>(total), 0x61);
    m[0] = static_cast<uint8_t>((total - 2) >> 8);
    m[1] = static_cast<uint8_t>(total - 2);
    m[2] = 7;
    return m;
  };
  std::vector<uint8_t> over = message(NET_SEND_BUFFER + 1), full = message(NET_SEND_BUFFER);
  EXPECT_EQ(NET_NO_FIT, stream_send(s, over.data(), static_cast<int>(over.size())));
  EXPECT_EQ(nullptr, s->pending);
  ASSERT_EQ(0, stream_send(s, full.data(), static_cast<int>(full.size())));
  int length;
  ASSERT_TRUE(fake.expect_while("done 1", [&] { stream_receive_message(s, &length); }));
  std::vector<std::string> frames;
  for (auto& l : fake.seen)
    if (l.rfind("frame ", 0) == 0) frames.push_back(l.substr(6));
  ASSERT_EQ(1u, frames.size());
  EXPECT_EQ(hex(std::vector<uint8_t>(full.begin() + 2, full.end())), frames[0]);
  EXPECT_EQ(0, resets);
}

TEST_F(StreamTest, NullStreamAndData) {
  int length = 5;
  EXPECT_EQ(NET_NO_STREAM, stream_receive_message(nullptr, &length));
  EXPECT_EQ(NET_NO_STREAM, stream_send(nullptr, "x", 1));
  uint8_t b;
  EXPECT_EQ(NET_NO_STREAM, stream_receive(nullptr, rd::Byte{&b}));
}

}  // namespace
