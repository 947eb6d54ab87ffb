// The packer and the datagram reader against byte strings worked out by hand from the
// field encoding (big-endian, length-prefixed strings, 2-byte frame length).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "client/net/message.h"
#include "client/net/netcodes.h"

namespace {

std::vector<uint8_t> packed(const uint8_t* buf) {
  return std::vector<uint8_t>(buf, buf + message_packed_length());
}

// Golden frames, shared with the Python framing's own test.
const std::vector<uint8_t> kLookupAlpha = {0x00, 0x07, 0x18, 0x05, 'a', 'l', 'p', 'h', 'a'};
const std::vector<uint8_t> kWorldLogin = {0x05, 0x12, 0x34, 0x14, 0x12, 0x34, 0x56, 0x78};
const std::vector<uint8_t> kSetAttributes = {0x00, 0x06, 0x17, 0x00, 0x01, '7', 0x01, 0x00};
const std::vector<uint8_t> kWorldPosition = {0x00, 0x11, 0x08, 0xff, 0xff, 0xff, 0xff, 0x00, 0x00, 0x00, 0x02,
                                             0x00, 0x00, 0x03, 0xe8, 0x0e, 0x0f, 0x03, 0x00};

TEST(MessagePack, LookupWorldFrameMatchesHandMadeBytes) {
  uint8_t buf[NET_SEND_BUFFER];
  ASSERT_EQ(1, message_pack(pk::Buffer{buf, sizeof buf}, pk::Skip{2}, pk::Byte{24}, pk::String{"alpha"}));
  EXPECT_EQ(9, message_fill_length());
  EXPECT_EQ(kLookupAlpha, packed(buf));
}

TEST(MessagePack, WorldLoginHasNoLength) {
  uint8_t buf[NET_SEND_BUFFER];
  ASSERT_EQ(1, message_pack(pk::Buffer{buf, sizeof buf}, pk::Byte{5}, pk::Int16{0x1234}, pk::Byte{20},
                            pk::Int32{0x12345678}));
  EXPECT_EQ(kWorldLogin, packed(buf));
}

TEST(MessagePack, TaggedStringsAndEmptyText) {
  uint8_t buf[NET_SEND_BUFFER];
  ASSERT_EQ(1, message_pack(pk::Buffer{buf, sizeof buf}, pk::Skip{2}, pk::Byte{23}, pk::Tagged{0, "7"},
                            pk::Tagged{1, ""}));
  message_fill_length();
  EXPECT_EQ(kSetAttributes, packed(buf));
}

TEST(MessagePack, NegativeAndTruncatedIntegers) {
  uint8_t buf[NET_SEND_BUFFER];
  int32_t x = -1;
  ASSERT_EQ(1, message_pack(pk::Buffer{buf, sizeof buf}, pk::Skip{2}, pk::Byte{8}, pk::Int32{static_cast<uint32_t>(x)},
                            pk::Int32{2}, pk::Int32{1000}, pk::Int16{0x10e0f}, pk::Byte{0x103}, pk::Byte{0}));
  message_fill_length();
  EXPECT_EQ(kWorldPosition, packed(buf));
}

TEST(MessagePack, NullAndEmptyStringsAreOneZeroByte) {
  uint8_t buf[16];
  std::memset(buf, 0xAA, sizeof buf);
  ASSERT_EQ(1, message_pack(pk::Buffer{buf, sizeof buf}, pk::String{nullptr}, pk::String{""}, pk::Tagged{9, nullptr}));
  EXPECT_EQ((std::vector<uint8_t>{0x00, 0x00, 0x09, 0x00}), packed(buf));
}

TEST(MessagePack, MessageLargerThanBufferFailsAndStopsAtTheEnd) {
  uint8_t buf[NET_SEND_BUFFER + 8];
  std::memset(buf, 0x5A, sizeof buf);
  std::string text(200, 'x');
  int fitted = 0;
  int r = 1;
  uint8_t* out = buf;
  // Six strings of 201 bytes need 1206 bytes after the 3-byte head.
  r = message_pack(pk::Buffer{out, NET_SEND_BUFFER}, pk::Skip{2}, pk::Byte{7});
  for (int i = 0; i < 6 && r; ++i) {
    r = message_pack(pk::String{text.c_str()});
    if (r) ++fitted;
  }
  EXPECT_EQ(0, r);
  EXPECT_EQ(5, fitted);
  EXPECT_LE(message_packed_length(), NET_SEND_BUFFER);
  // Nothing was written past the buffer.
  for (size_t i = NET_SEND_BUFFER; i < sizeof buf; ++i) EXPECT_EQ(0x5A, buf[i]);
}

TEST(MessagePack, ExactFitSucceedsOneMoreByteFails) {
  uint8_t buf[6];
  EXPECT_EQ(1, message_pack(pk::Buffer{buf, sizeof buf}, pk::Int32{1}, pk::Int16{2}));
  EXPECT_EQ(0, message_pack(pk::Buffer{buf, sizeof buf}, pk::Int32{1}, pk::Int16{2}, pk::Byte{3}));
  EXPECT_EQ(0, message_pack(pk::Buffer{buf, sizeof buf}, pk::Skip{7}));
  EXPECT_EQ(6, message_packed_length());
  // A string needs its length byte too: 5 characters do not fit in 5 bytes.
  EXPECT_EQ(0, message_pack(pk::Buffer{buf, 5}, pk::String{"abcde"}));
  EXPECT_EQ(0, message_packed_length());
}

TEST(MessagePack, TextLongerThan255HasNoWireForm) {
  uint8_t buf[NET_SEND_BUFFER];
  std::string text255(255, 'a'), text256(256, 'b');
  EXPECT_EQ(1, message_pack(pk::Buffer{buf, sizeof buf}, pk::String{text255.c_str()}));
  EXPECT_EQ(255, buf[0]);
  EXPECT_EQ(256, message_packed_length());
  EXPECT_EQ(0, message_pack(pk::Buffer{buf, sizeof buf}, pk::String{text256.c_str()}));
  EXPECT_EQ(0, message_packed_length());
  EXPECT_EQ(0, message_pack(pk::Buffer{buf, sizeof buf}, pk::Tagged{1, text256.c_str()}));
}

TEST(MessagePack, RawBytesAndSkipLeaveReservedBytes) {
  uint8_t buf[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  const uint8_t addr[4] = {127, 0, 0, 1};
  ASSERT_EQ(1, message_pack(pk::Buffer{buf, sizeof buf}, pk::Skip{2}, pk::Byte{37}, pk::Raw{4, addr}));
  EXPECT_EQ((std::vector<uint8_t>{9, 9, 37, 127, 0, 0, 1}), packed(buf));
}

// ---- datagram reader ----

TEST(Unpack, ReadsEveryFieldKind) {
  const uint8_t dg[] = {0x02, 0xff, 0xfe, 0x00, 0x00, 0x01, 0x00, 0x03, 'b', 'o', 'b', 0x00, 0x05, 0xff, 0xff, 0xAB, 0xCD};
  uint8_t type = 0;
  int16_t s = 0;
  int32_t v = 0;
  char name[256];
  int16_t pair[2];
  uint8_t tail[2];
  ASSERT_EQ(1, unpack(ud::Input{dg, sizeof dg}, ud::Byte{&type}, ud::Int16{&s}, ud::Int32{&v}, ud::String{name, sizeof name},
                      ud::Int16s{2, pair}, ud::Raw{2, tail}, ud::Stop{}));
  EXPECT_EQ(2, type);
  EXPECT_EQ(-2, s);
  EXPECT_EQ(256, v);
  EXPECT_STREQ("bob", name);
  EXPECT_EQ(5, pair[0]);
  EXPECT_EQ(-1, pair[1]);
  EXPECT_EQ(0xAB, tail[0]);
  EXPECT_EQ(0xCD, tail[1]);
}

TEST(Unpack, StopIsOneOnlyAtTheExactEnd) {
  const uint8_t dg[] = {1, 2, 3};
  uint8_t a;
  EXPECT_EQ(0, unpack(ud::Input{dg, 3}, ud::Byte{&a}, ud::Stop{}));
  EXPECT_EQ(1, unpack(ud::Input{dg, 3}, ud::Skip{3}, ud::Stop{}));
  EXPECT_EQ(1, unpack(ud::Input{dg, 3}, ud::Byte{&a}, ud::End{}));
}

TEST(Unpack, ShortDatagramFailsAndFailingStringTakesNothing) {
  const uint8_t dg[] = {0x04, 'a', 'b', 'c'};  // says 4 characters, has 3
  char text[256] = "keep";
  int left = -1;
  EXPECT_EQ(0, unpack(ud::Input{dg, sizeof dg}, ud::String{text, sizeof text}));
  EXPECT_STREQ("keep", text);
  // The failed string consumed nothing: the length byte is still next.
  uint8_t first = 0;
  EXPECT_EQ(0, unpack(ud::Input{dg, sizeof dg}, ud::Mark{}, ud::Raw{5, text}));
  EXPECT_EQ(1, unpack(ud::Input{dg, sizeof dg}, ud::Skip{1}, ud::Left{&left}, ud::BackToMark{}, ud::Byte{&first}, ud::End{}));
  EXPECT_EQ(3, left);
  EXPECT_EQ(4, first);
  int32_t v;
  EXPECT_EQ(0, unpack(ud::Input{dg, 3}, ud::Int32{&v}));
  int32_t many[2];
  EXPECT_EQ(0, unpack(ud::Input{dg, sizeof dg}, ud::Int32s{2, many}));
}

TEST(Unpack, MarkBackAndCursor) {
  const uint8_t dg[] = {0x00, 0x07, 0x00, 0x09};
  int16_t a = 0, b = 0;
  const uint8_t* at = nullptr;
  ASSERT_EQ(1, unpack(ud::Input{dg, 4}, ud::Mark{}, ud::Int16{&a}, ud::BackToMark{}, ud::Skip{2}, ud::Cursor{&at},
                      ud::Int16{&b}, ud::Stop{}));
  EXPECT_EQ(7, a);
  EXPECT_EQ(9, b);
  EXPECT_EQ(dg + 2, at);
}

TEST(Unpack, StringLongerThanTheCallersBufferIsCutButConsumed) {
  uint8_t dg[1 + 20 + 1];
  dg[0] = 20;
  std::memset(dg + 1, 'z', 20);
  dg[21] = 0x7f;
  char small[8];
  uint8_t after = 0;
  ASSERT_EQ(1, unpack(ud::Input{dg, sizeof dg}, ud::String{small, sizeof small}, ud::Byte{&after}, ud::Stop{}));
  EXPECT_STREQ("zzzzzzz", small);
  EXPECT_EQ(0x7f, after);
}

}  // namespace

// A mark belongs to the input it was set in; a raw item that names bytes it does not have
// is refused before anything is copied.
TEST(MessageReaders, NewInputForgetsTheMarkAndRawWithoutDataIsRefused) {
  const uint8_t first[] = {1, 2, 3, 4};
  const uint8_t second[] = {9, 8};
  ASSERT_EQ(1, unpack(ud::Input{first, sizeof first}, ud::Skip{3}, ud::Mark{}, ud::End{}));
  const uint8_t* at = nullptr;
  uint8_t b = 0;
  ASSERT_EQ(1, unpack(ud::Input{second, sizeof second}, ud::Skip{1}, ud::BackToMark{}, ud::Cursor{&at},
                      ud::Byte{&b}, ud::End{}));
  EXPECT_EQ(second, at);
  EXPECT_EQ(9, b);
  uint8_t buf[16];
  EXPECT_EQ(0, message_pack(pk::Buffer{buf, sizeof buf}, pk::Byte{1}, pk::Raw{4, nullptr}));
  EXPECT_EQ(1, message_pack(pk::Buffer{buf, sizeof buf}, pk::Byte{1}, pk::Raw{0, nullptr}));
}
