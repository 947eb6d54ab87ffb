// Sequence files byte by byte, damaged files, track evaluation, players and nodes.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>
#include <string>

#include "Zembrel/Pose/Anim/anim.h"
#include "Zembrel/Pose/Anim/seqnode.h"
#include "tests/anim/seq_writer.h"

namespace {

using animtest::SeqWriter;

// Written out by hand: format 1, F = 30, one named track "head" (rotations) with keys at
// frames 0 (identity) and 10 (a half turn about y), no root tracks.
const unsigned char kWave[] = {
    0x00, 0x00, 0x00, 0x01,                                      // format word
    0x00, 0x1E,                                                  // F = 30
    0x00, 0x00, 0x00, 0x01,                                      // N = 1
    0x00, 0x04, 'w',  'a',  'v',  'e',                           // sequence name
    0x00, 0x03, 'x',  0x00, 'z',                                 // second text, cut at the NUL
    0x00, 0x04, 'h',  'e',  'a',  'd',                           // track name
    0x00, 0x00, 0x00, 0x10,                                      // value size 16
    0x00, 0x00, 0x00, 0x02,                                      // K = 2
    0x00, 0x00, 0x00, 0x00, 0x3F, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // frame 0: (1, 0, 0, 0)
    0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x3F, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // frame 10: (0, 0, 1, 0)
    0x00, 0x00, 0x00, 0x00,                                      // M = 0
};

std::string wave_bytes() { return std::string(reinterpret_cast<const char*>(kWave), sizeof kWave); }

class SeqTest : public ::testing::Test {
 protected:
  void SetUp() override { AnimReset("/nonexistent"); }
};

TEST_F(SeqTest, ReadsHandWrittenFileExactly) {
  std::istringstream in(wave_bytes());
  SeqFile f;
  f.Read(in);
  EXPECT_EQ(f.format, 1);
  EXPECT_EQ(f.frames, 30);
  EXPECT_STREQ(f.name.c_str(), "wave");
  EXPECT_STREQ(f.text.c_str(), "x");
  ASSERT_EQ(f.named.size(), 1u);
  const SeqTrack& t = f.named[0];
  EXPECT_STREQ(t.name.c_str(), "head");
  EXPECT_EQ(t.value_size, 16);
  ASSERT_EQ(t.keys.size(), 2u);
  EXPECT_EQ(t.keys[1].frame, 10);
  EXPECT_EQ(t.keys[0].value.w, 1.0f);
  EXPECT_EQ(t.keys[1].value.y, 1.0f);
  EXPECT_TRUE(f.root.empty());

  // Evaluated: the head channel halfway, mirrored (x and y negated).
  std::istringstream in2(wave_bytes());
  SequenceHandle s(new Sequence(&in2));
  ChannelSetHandle c = s->Evaluate(5, true);
  ASSERT_EQ(c->values.size(), 1u);
  EXPECT_EQ(c->values[0].id, AnimJointNameNumber(4));
  EXPECT_EQ(c->values[0].type, 6);
  EXPECT_NEAR(c->values[0].value[0], std::sqrt(0.5f), 1e-6f);
  EXPECT_NEAR(c->values[0].value[2], -std::sqrt(0.5f), 1e-6f);
}

TEST_F(SeqTest, WriterMatchesTheHandWrittenBytes) {
  SeqWriter w;
  w.i32(1).i16(30).i32(1).str("wave").str(std::string("x\0z", 3));
  w.named("head", 16, {{0, {1, 0, 0, 0}}, {10, {0, 0, 1, 0}}}).i32(0);
  EXPECT_EQ(w.bytes(), wave_bytes());
}

TEST_F(SeqTest, EveryTruncationKeepsAPrefixWithoutCrashing) {
  std::string full = wave_bytes();
  for (size_t n = 0; n < full.size(); ++n) {
    std::istringstream in(full.substr(0, n));
    SeqFile f;
    f.Read(in);
    EXPECT_LE(f.named.size(), 1u);
    if (!f.named.empty()) {
      EXPECT_LE(f.named[0].keys.size(), 2u);
    }
  }
  // Cut inside the second key: the first key stays.
  std::istringstream in(full.substr(0, full.size() - 10));
  SeqFile f;
  f.Read(in);
  ASSERT_EQ(f.named.size(), 1u);
  EXPECT_EQ(f.named[0].keys.size(), 1u);
  EXPECT_STREQ(f.named[0].name.c_str(), "head");
}

TEST_F(SeqTest, MutatedFilesReadAndEvaluateSafely) {
  SeqWriter w;
  w.header(40, 3).named("head", 16, {{0, {1, 0, 0, 0}}, {20, {0, 1, 0, 0}}});
  w.named("s", 4, {{0, {1}}, {40, {2}}}).named("v", 12, {{5, {1, 2, 3}}}).i32(4);
  for (int i = 0; i < 3; ++i) w.body(4, {{0, {1}}, {10, {2}}});
  w.body(16, {{0, {1, 0, 0, 0}}});
  const std::string base = w.bytes();
  std::mt19937 rng(1234);
  for (int round = 0; round < 3000; ++round) {
    std::string bytes = base;
    int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
      size_t at = rng() % bytes.size();
      switch (rng() % 3) {
        case 0: bytes[at] = static_cast<char>(rng()); break;
        case 1: bytes[at] = static_cast<char>(rng() % 2 ? 0x7F : 0xFF); break;
        default: bytes.resize(at); break;
      }
      if (bytes.empty()) break;
    }
    std::istringstream in(bytes);
    SequenceHandle s(new Sequence(&in));
    for (int16_t frame : {int16_t{-32768}, int16_t{0}, int16_t{7}, int16_t{39}, int16_t{32767}}) {
      ChannelSetHandle c = s->Evaluate(frame, round % 2 == 0);
      ASSERT_TRUE(c);
      ASSERT_LE(c->values.size(), s->File().named.size() + 2);
    }
    RefHandle<TimePlayer> p(new TimePlayer(s, PLAY_LOOP));
    p->Advance(0, AnimTime(0, static_cast<uint32_t>(rng() % 100000)));
    ASSERT_TRUE(p->Evaluate());
  }
}

TEST_F(SeqTest, VectorKeyCutAfterItsFrameIsDropped) {
  SeqWriter w;
  w.header(10, 1).str("v").i32(12).i32(2).i32(0).f32(1).f32(2).f32(3).i32(5);
  std::istringstream in(w.bytes());
  SeqFile f;
  f.Read(in);
  ASSERT_EQ(f.named.size(), 1u);
  ASSERT_EQ(f.named[0].keys.size(), 1u);
  EXPECT_EQ(f.named[0].keys[0].value.z, 3);
  EXPECT_TRUE(f.root.empty());
}

TEST_F(SeqTest, AbsurdCountsAndLengthsAreRefused) {
  {  // Two billion tracks announced, one present.
    SeqWriter w;
    w.header(10, 0x7FFFFFFF).named("head", 4, {{0, {2}}});
    std::istringstream in(w.bytes());
    SeqFile f;
    f.Read(in);
    EXPECT_EQ(f.named.size(), 2u);  // the second was started and its name read failed
    EXPECT_EQ(f.named[0].keys.size(), 1u);
    std::istringstream again(w.bytes());
    SequenceHandle s(new Sequence(&again));
    EXPECT_EQ(s->Evaluate(0, false)->values.size(), 2u);
  }
  {  // A huge key count over one key.
    SeqWriter w;
    w.header(10, 2).str("a").i32(4).i32(0x7FFFFFFF).i32(0).f32(1);
    std::istringstream in(w.bytes());
    SeqFile f;
    f.Read(in);
    ASSERT_EQ(f.named.size(), 1u);
    EXPECT_EQ(f.named[0].keys.size(), 1u);
  }
  {  // A negative string length ends the reading.
    SeqWriter w;
    w.header(10, 2).named("a", 4, {{0, {1}}}).i16(-5).str("tail").i32(4).i32(1).i32(0).f32(2).i32(0);
    std::istringstream in(w.bytes());
    SeqFile f;
    f.Read(in);
    ASSERT_EQ(f.named.size(), 2u);
    EXPECT_TRUE(f.named[1].keys.empty());
    EXPECT_TRUE(f.named[1].name.empty());
  }
  {  // Negative root count, F <= 0, N <= 0.
    SeqWriter w;
    w.header(10, 1).named("a", 4, {{0, {1}}}).i32(-3);
    std::istringstream in(w.bytes());
    SeqFile f;
    f.Read(in);
    EXPECT_TRUE(f.root.empty());
    for (auto [frames, n] : {std::pair<int16_t, int32_t>{0, 1}, {-4, 1}, {5, 0}, {5, -1}}) {
      SeqWriter z;
      z.header(frames, n).named("a", 4, {{0, {1}}}).i32(0);
      std::istringstream zi(z.bytes());
      SeqFile zf;
      zf.Read(zi);
      EXPECT_TRUE(zf.named.empty());
      EXPECT_TRUE(zf.name.empty());
    }
  }
  {  // A 300-byte name is cut at 255; an empty string is an empty name.
    SeqWriter w;
    w.header(10, 1, std::string(300, 'n'), "").named("", 4, {{0, {1}}}).i32(0);
    std::istringstream in(w.bytes());
    SeqFile f;
    f.Read(in);
    EXPECT_EQ(f.name.size(), 255u);
    ASSERT_EQ(f.named.size(), 1u);
    EXPECT_TRUE(f.named[0].name.empty());
  }
}

// A header that lies about its counts: keys without values claimed by the fifty million over a
// megabyte of frame numbers, and a rotation track claiming as many over three keys. No track
// holds more keys than the file's frames (or its bytes) allow, and reading ends at the lie.
TEST_F(SeqTest, KeyAndTrackCountsAreHeldToWhatTheFileAndItsFramesAllow) {
  auto read = [](const SeqWriter& w, size_t keys) {
    std::istringstream in(w.bytes());
    SeqFile f;
    f.Read(in);
    EXPECT_EQ(f.named.size(), 1u);
    if (f.named.empty()) return f;
    EXPECT_EQ(f.named[0].keys.size(), keys);
    EXPECT_LE(f.named[0].keys.capacity(), keys);
    EXPECT_TRUE(f.root.empty());
    return f;
  };
  SeqWriter w;
  w.header(30, 50000000).str("t").i32(0).i32(50000000);
  for (int32_t i = 0; i < 250000; ++i) w.i32(i);
  read(w, 31);
  SeqWriter r;
  r.header(300, 1).str("r").i32(16).i32(50000000);
  for (int32_t i = 0; i < 3; ++i) r.i32(i * 10).f32(1).f32(0).f32(0).f32(0);
  r.i32(0);
  EXPECT_EQ(read(r, 3).named.at(0).name, AnimName("r"));
}

TEST_F(SeqTest, TrackValuesAtFrames) {
  SeqWriter w;
  w.header(40, 3)
      .named("s", 4, {{0, {2}}, {10, {4}}, {20, {0}}})
      .named("odd", 8, {{0, {}}, {5, {}}})  // no value bytes: identity carried along
      .named("back", 4, {{10, {1}}, {6, {9}}})  // out of order
      .i32(0);
  std::istringstream in(w.bytes());
  SeqFile f;
  f.Read(in);
  ASSERT_EQ(f.named.size(), 3u);
  SeqTrack& s = f.named[0];
  EXPECT_FLOAT_EQ(s.ValueAt(5).w, 3);
  EXPECT_FLOAT_EQ(s.ValueAt(10).w, 4);
  EXPECT_FLOAT_EQ(s.ValueAt(15).w, 2);
  EXPECT_FLOAT_EQ(s.ValueAt(2).w, 2.4f);  // backwards from the cursor
  EXPECT_FLOAT_EQ(s.ValueAt(-3).w, 2);     // before the first key
  EXPECT_FLOAT_EQ(s.ValueAt(35).w, 0);     // after the last
  EXPECT_EQ(f.named[1].ValueAt(3).w, 1);
  EXPECT_EQ(f.named[1].keys[1].value.w, 1);
  EXPECT_FLOAT_EQ(f.named[2].ValueAt(5).w, 1);  // a negative frame difference: key b
  EXPECT_FLOAT_EQ(f.named[2].ValueAt(7).w, 9);
  SeqTrack empty;
  EXPECT_EQ(empty.ValueAt(3).w, 1);
}

TEST_F(SeqTest, RootTracksAndChannelOrder) {
  auto build = [](int roots) {
    SeqWriter w;
    w.header(30, 3).named("zzz-custom", 4, {{0, {7}}}).named("head", 16, {{0, {1, 0, 0, 0}}});
    w.named("pelvis", 12, {{0, {1, 2, 3}}});
    w.i32(roots);
    const float v[4] = {1.5f, 2.5f, 3.5f, 0};
    for (int i = 0; i < roots && i < 3; ++i) w.body(4, {{0, {v[i]}}});
    if (roots > 3) w.body(16, {{0, {0, 0, 1, 0}}});
    return w;
  };
  SeqWriter four = build(4);
  std::istringstream in(four.bytes());
  SequenceHandle s(new Sequence(&in));
  ChannelSetHandle keep = s->Evaluate(0, true);
  ASSERT_EQ(keep->values.size(), 5u);
  for (size_t i = 1; i < keep->values.size(); ++i) EXPECT_LT(keep->values[i - 1].id, keep->values[i].id);
  EXPECT_EQ(keep->values[0].id, 1);
  EXPECT_FLOAT_EQ(keep->values[0].value[2], -1);  // y mirrored
  EXPECT_EQ(keep->values[1].id, 2);
  EXPECT_FLOAT_EQ(keep->values[1].value[0], 1.5f);
  EXPECT_FLOAT_EQ(keep->values[1].value[2], -3.5f);
  EXPECT_EQ(s->Evaluate(0, false)->values[1].value[2], 0);
  EXPECT_EQ(keep->values[2].id, AnimJointNameNumber(1));  // pelvis: a vector track is type 0
  EXPECT_EQ(keep->values[2].type, 0);
  EXPECT_EQ(keep->values[3].id, AnimJointNameNumber(4));
  EXPECT_EQ(keep->values[4].id, AnimInternName("zzz-custom"));
  EXPECT_EQ(keep->values[4].type, 3);

  SeqWriter three = build(3);
  std::istringstream in3(three.bytes());
  SequenceHandle s3(new Sequence(&in3));
  ChannelSetHandle c = s3->Evaluate(0, true);
  ASSERT_EQ(c->values.size(), 5u);
  EXPECT_EQ(c->values[0].value[0], 1);  // identity
  EXPECT_EQ(c->values[1].value[0], 0);
  EXPECT_EQ(c->values[1].value[2], 0);
}

SequenceHandle scalar_sequence(int16_t frames) {
  SeqWriter w;
  w.header(frames, 1).named("s", 4, {{0, {0}}, {frames, {static_cast<float>(frames)}}}).i32(0);
  std::istringstream in(w.bytes());
  return SequenceHandle(new Sequence(&in));
}

TEST_F(SeqTest, TimePlayerHoldsEndsAndLoops) {
  SequenceHandle s = scalar_sequence(45);
  RefHandle<TimePlayer> hold(new TimePlayer(s, PLAY_HOLD));
  AnimTime d = hold->Duration();
  EXPECT_EQ(d.seconds, 1u);
  EXPECT_EQ(d.millis, 500u);
  EXPECT_TRUE(hold->Advance(0, AnimTime(1, 500)));
  EXPECT_EQ(hold->Frame(), 45);
  EXPECT_TRUE(hold->Advance(0, AnimTime(5, 0)));
  EXPECT_EQ(hold->Frame(), 45);
  EXPECT_FLOAT_EQ(hold->Evaluate()->values[0].value[0], 45);

  RefHandle<TimePlayer> end(new TimePlayer(s, PLAY_END));
  int steps = 0;
  PlayerHandle p = end;
  while (p && steps < 100) {
    p = p->Advance(0, AnimTime(0, 17));
    ++steps;
  }
  EXPECT_EQ(steps, 91);  // 90 x 17 ms = 1.530 s is frame 45; 1.547 s is frame 46
  EXPECT_EQ(end->Frame(), 45);

  RefHandle<TimePlayer> loop(new TimePlayer(s, PLAY_LOOP));
  loop->Advance(0, AnimTime(2, 0));  // frame 60 -> 60 mod 46
  EXPECT_EQ(loop->Frame(), 14);
  // A damaged file whose frame count reads as -1 loops on frame 0 (no division by zero).
  RefHandle<TimePlayer> broken(new TimePlayer(scalar_sequence(-1), PLAY_LOOP));
  EXPECT_TRUE(broken->Advance(0, AnimTime(0, 500)));
  EXPECT_EQ(broken->Frame(), 0);
  RefHandle<TimePlayer> far(new TimePlayer(s, PLAY_LOOP));
  far->Advance(0, AnimTime(4000000000u, 999));  // no overflow on absurd steps
  EXPECT_GE(far->Frame(), 0);
  EXPECT_LE(far->Frame(), 45);
}

TEST_F(SeqTest, DistancePlayerFollowsTheDistance) {
  SequenceHandle s = scalar_sequence(30);
  RefHandle<DistancePlayer> walk(new DistancePlayer(s, PLAY_LOOP));
  EXPECT_FLOAT_EQ(walk->Length(), 0.1f);
  walk->Advance(0.1f, AnimTime());
  walk->Advance(0.15f, AnimTime(100, 0));  // the time step is not used
  EXPECT_NEAR(walk->Position(), 0.05f, 1e-6f);
  // The middle of the cycle; the float remainder lands a hair below 0.05 and truncates.
  EXPECT_NEAR(walk->Frame(), 15, 1);
  int16_t middle = walk->Frame();
  EXPECT_NEAR(walk->Evaluate()->values[0].value[0], middle, 1e-4f);
  walk->Advance(NAN, AnimTime());
  EXPECT_EQ(walk->Frame(), middle);
  RefHandle<DistancePlayer> hold(new DistancePlayer(s, PLAY_HOLD));
  EXPECT_TRUE(hold->Advance(1.0f, AnimTime()));
  EXPECT_EQ(hold->Frame(), 30);
  RefHandle<DistancePlayer> end(new DistancePlayer(s, PLAY_END));
  EXPECT_TRUE(end->Advance(0.1f, AnimTime()));
  EXPECT_FALSE(end->Advance(0.01f, AnimTime()));
}

TEST_F(SeqTest, UnloadedNamesPlayAsEmpty) {
  PlayerHandle p = make_player(AnimName("never-loaded"), true, PLAY_END);
  ASSERT_NE(dynamic_cast<EmptyPlayer*>(p.get()), nullptr);
  EXPECT_EQ(p->Duration().seconds, 10000u);
  EXPECT_EQ(p->Advance(1, AnimTime(99999, 0)).get(), p.get());
  EXPECT_TRUE(p->Evaluate()->values.empty());
  EXPECT_NE(dynamic_cast<EmptyPlayer*>(make_player(AnimName(""), false, PLAY_LOOP).get()), nullptr);
}

NodeHandle pipe_over(SequenceHandle s, int32_t mode) { return NodeHandle(new PipeNode(PlayerHandle(new TimePlayer(s, mode)))); }

TEST_F(SeqTest, ShiftToCrossFadesThenBecomesB) {
  NodeHandle a = pipe_over(scalar_sequence(10), PLAY_HOLD);
  NodeHandle b = pipe_over(scalar_sequence(40), PLAY_HOLD);
  RefHandle<ShiftToNode> shift(new ShiftToNode(a, b, AnimTime(1, 0)));
  NodeHandle next = shift->Advance(0, AnimTime(0, 500));  // both at frame 15 -> a holds 10
  EXPECT_EQ(next.get(), shift.get());
  EXPECT_FLOAT_EQ(shift->Weight(), 0.5f);
  EXPECT_FLOAT_EQ(shift->Evaluate()->values[0].value[0], 12.5f);
  next = shift->Advance(0, AnimTime(0, 500));
  EXPECT_EQ(next.get(), b.get());
  RefHandle<ShiftToNode> zero(new ShiftToNode(a, b, AnimTime()));
  EXPECT_EQ(zero->Advance(0, AnimTime()).get(), b.get());
  std::ostringstream out;
  shift->Print(out);
  EXPECT_EQ(out.str(), "(shiftto t=1.000 (pipe id=?] (pipe id=?])");
}

TEST_F(SeqTest, DoActionWeightAndEnd) {
  NodeHandle base = pipe_over(scalar_sequence(10), PLAY_HOLD);
  NodeHandle action = pipe_over(scalar_sequence(30), PLAY_END);
  RefHandle<DoActionNode> act(new DoActionNode(base, action, AnimTime(1, 0)));
  EXPECT_EQ(act->Weight(), 0);
  act->Advance(0, AnimTime(0, 500));
  EXPECT_FLOAT_EQ(act->Weight(), 1);
  // Same channel in both: base 10 (held) blended to the action's 15 at full weight.
  EXPECT_FLOAT_EQ(act->Evaluate()->values[0].value[0], 15);
  act->Advance(0, AnimTime(0, 400));
  EXPECT_NEAR(act->Weight(), 8 * 0.9 * 0.1, 1e-5);
  EXPECT_EQ(act->Advance(0, AnimTime(0, 100)).get(), base.get());
  EXPECT_EQ(act->Weight(), 0);
}

TEST_F(SeqTest, PlaceholderSurvivesItsChild) {
  RefHandle<PlaceholderNode> slot(new PlaceholderNode(pipe_over(scalar_sequence(3), PLAY_END)));
  std::ostringstream out;
  slot->Print(out);
  EXPECT_EQ(out.str(), "(placeholder (pipe id=?])");
  EXPECT_EQ(slot->Advance(0, AnimTime(10, 0)).get(), slot.get());
  EXPECT_FALSE(slot->Child());
  EXPECT_FALSE(slot->Evaluate());
  std::ostringstream nil;
  slot->Print(nil);
  EXPECT_EQ(nil.str(), "(placeholder (nil))");
  // A placeholder whose child holds the only other reference to it stays alive.
  RefHandle<PlaceholderNode> inner(new PlaceholderNode(pipe_over(scalar_sequence(3), PLAY_HOLD)));
  RefHandle<PlaceholderNode> outer(new PlaceholderNode(NodeHandle(new DoActionNode(
      NodeHandle(inner.get()), pipe_over(scalar_sequence(3), PLAY_END), AnimTime(0, 100)))));
  inner = RefHandle<PlaceholderNode>();
  outer->Advance(0, AnimTime(1, 0));
  ASSERT_TRUE(outer->Child());
  EXPECT_NE(dynamic_cast<PlaceholderNode*>(outer->Child().get()), nullptr);
}

}  // namespace
