#include "Zembrel/Pose/Anim/seq.h"

#include <cmath>

#include "Zembrel/Pose/Anim/anim.h"
#include "Zembrel/Pose/Anim/seqcache.h"

namespace {

bool is_rotation(int32_t type) { return type == 1 || type == 4 || type == 5 || type == 6; }

// Float to a frame number without overflow (NaN gives 0).
int32_t to_frame(double f) {
  if (!(f == f)) return 0;
  if (f > 2147483647.0) return 2147483647;
  if (f < -2147483648.0) return -2147483647 - 1;
  return static_cast<int32_t>(f);
}

}  // namespace

ChannelValue channel_neutral(const ChannelValue& v) {
  ChannelValue n;
  n.id = v.id;
  n.type = v.type;
  if (is_rotation(v.type)) n.value[0] = 1;
  return n;
}

ChannelValue channel_interpolate(const ChannelValue& a, const ChannelValue& b, float w) {
  ChannelValue r;
  if (a.type > 6 || a.type < 0) return r;
  r.id = a.id;
  r.type = a.type;
  if (a.type == 0) {
    std::copy(a.value, a.value + 4, r.value);
  } else if (is_rotation(a.type)) {
    AnimQuat qb = b.Quat();
    if (a.Quat().Dot(qb) < 0) qb = -qb;
    r.SetQuat(anim_blend(a.Quat(), qb, w));
  } else {
    for (int i = 0; i < 4; ++i) r.value[i] = a.value[i] + (b.value[i] - a.value[i]) * w;
  }
  return r;
}

Sequence::Sequence(std::istream* in) {
  if (!in) anim_assert_fail("assertion failed", "Pose/Anim/Seq", 33);
  file_.Read(*in);
  map_.reserve(file_.named.size());
  for (size_t i = 0; i < file_.named.size(); ++i)
    map_.push_back({static_cast<int32_t>(i), AnimInternName(file_.named[i].name.c_str())});
  // Shell sort by channel id, gaps 1, 4, 13, 40, ...
  size_t n = map_.size();
  size_t gap = 1;
  while (gap * 3 + 1 < n) gap = gap * 3 + 1;
  for (; gap >= 1; gap /= 3) {
    for (size_t i = gap; i < n; ++i) {
      MapEntry e = map_[i];
      size_t j = i;
      while (j >= gap && map_[j - gap].channel > e.channel) {
        map_[j] = map_[j - gap];
        j -= gap;
      }
      map_[j] = e;
    }
    if (gap == 1) break;
  }
}

ChannelSetHandle Sequence::Evaluate(int16_t frame, bool keep) {
  std::vector<ChannelValue> out;
  out.reserve(map_.size() + 2);
  float x = 0, y = 0, z = 0;
  AnimQuat r;
  if (file_.root.size() > 3) {
    x = file_.root[0].ValueAt(frame).w;
    y = file_.root[1].ValueAt(frame).w;
    z = file_.root[2].ValueAt(frame).w;
    r = file_.root[3].ValueAt(frame);
  }
  if (!file_.root.empty()) {
    ChannelValue o;
    o.id = CHANNEL_ROOT_ORIENTATION;
    o.type = CHANNEL_ROOT_ROTATION;
    o.SetQuat(r.Mirrored());
    out.push_back(o);
    ChannelValue t;
    t.id = CHANNEL_ROOT_TRANSLATION;
    t.type = CHANNEL_TRANSLATION;
    t.value[0] = x;
    t.value[1] = y;
    t.value[2] = keep ? -z : 0.0f;
    out.push_back(t);
  }
  for (const MapEntry& e : map_) {
    SeqTrack& track = file_.named[static_cast<size_t>(e.track)];
    ChannelValue v;
    v.id = e.channel;
    AnimQuat q = track.ValueAt(frame);
    if (track.value_size == 16) {
      v.type = CHANNEL_ROTATION;
      v.SetQuat(q.Mirrored());
    } else {
      v.type = track.value_size == 4 ? CHANNEL_SCALAR : CHANNEL_PLAIN;
      v.value[0] = q.w;
    }
    out.push_back(v);
  }
  return ChannelSetHandle(new ChannelSet(std::move(out)));
}

namespace {
AnimTime frames_duration(int16_t frames) {
  float s = static_cast<float>(frames) * 0.033333335f;
  return AnimTime::FromSeconds(s);
}
}  // namespace

DistancePlayer::DistancePlayer(SequenceHandle seq, int32_t mode) : seq_(std::move(seq)), mode_(mode) {
  int16_t f = seq_ ? seq_->Frames() : 0;
  length_ = static_cast<float>(f) * (1.0f / 30.0f) * anim_settings().scale;
}

AnimTime DistancePlayer::Duration() { return frames_duration(seq_ ? seq_->Frames() : 0); }

PlayerHandle DistancePlayer::Advance(float distance, const AnimTime&) {
  if (std::isfinite(distance)) position_ += distance;
  if (position_ > length_) {
    if (mode_ == PLAY_LOOP) position_ = length_ > 0 ? std::fmod(position_, length_) : 0.0f;
    else if (mode_ == PLAY_HOLD) position_ = length_;
    else return PlayerHandle();
  }
  float scale = anim_settings().scale;
  int32_t f = scale != 0 ? to_frame(static_cast<double>(position_) / scale * 30.0) : 0;
  if (f > 32767) f = 32767;
  if (f < -32768) f = -32768;
  frame_ = static_cast<int16_t>(f);
  return PlayerHandle(this);
}

ChannelSetHandle DistancePlayer::Evaluate() {
  return seq_ ? seq_->Evaluate(frame_, false) : ChannelSetHandle(new ChannelSet());
}

AnimTime TimePlayer::Duration() { return frames_duration(seq_ ? seq_->Frames() : 0); }

PlayerHandle TimePlayer::Advance(float, const AnimTime& step) {
  elapsed_ = elapsed_ + step;
  int32_t f = to_frame((elapsed_.seconds + elapsed_.millis / 1000.0) * 30.0);
  int32_t last = seq_ ? seq_->Frames() : 0;
  if (f > last) {
    if (mode_ == PLAY_LOOP) f = last >= 0 ? f % (last + 1) : 0;
    else if (mode_ == PLAY_HOLD) f = last;
    else return PlayerHandle();
  }
  if (f < -32768) f = -32768;
  frame_ = static_cast<int16_t>(f);
  return PlayerHandle(this);
}

ChannelSetHandle TimePlayer::Evaluate() {
  return seq_ ? seq_->Evaluate(frame_, true) : ChannelSetHandle(new ChannelSet());
}

PlayerHandle make_player(const AnimName& name, bool time_driven, int32_t mode) {
  SequenceHandle seq;
  if (!name.empty()) seq = SequenceCache::Get()->Find(name);
  if (!seq) return PlayerHandle(new EmptyPlayer());
  if (time_driven) return PlayerHandle(new TimePlayer(seq, mode));
  return PlayerHandle(new DistancePlayer(seq, mode));
}

ChannelSetHandle channel_merge(const ChannelSetHandle& a, const ChannelSetHandle& b, MergePolicy policy, float w) {
  if (!a) return b;
  if (!b) return a;
  auto only_a = [&](const ChannelValue& v) {
    return policy == MergePolicy::CrossFade ? channel_interpolate(v, channel_neutral(v), w) : v;
  };
  auto only_b = [&](const ChannelValue& v) { return channel_interpolate(channel_neutral(v), v, w); };
  const std::vector<ChannelValue>& va = a->values;
  const std::vector<ChannelValue>& vb = b->values;
  std::vector<ChannelValue> out;
  out.reserve(va.size() + vb.size());
  size_t i = 0, j = 0;
  while (i < va.size() && j < vb.size()) {
    if (va[i].id < vb[j].id) out.push_back(only_a(va[i++]));
    else if (vb[j].id < va[i].id) out.push_back(only_b(vb[j++]));
    else out.push_back(channel_interpolate(va[i++], vb[j++], w));
  }
  while (i < va.size()) out.push_back(only_a(va[i++]));
  while (j < vb.size()) out.push_back(only_b(vb[j++]));
  return ChannelSetHandle(new ChannelSet(std::move(out)));
}

HermiteSegment::HermiteSegment(const AnimPoint& p0, const AnimVector& m0, const AnimPoint& p1, const AnimVector& m1) {
  const float a[4][3] = {{p0.x, p0.y, p0.z}, {m0.x, m0.y, m0.z}, {p1.x, p1.y, p1.z}, {m1.x, m1.y, m1.z}};
  for (int axis = 0; axis < 3; ++axis)
    for (int k = 0; k < 4; ++k) c_[axis][k] = a[k][axis];
  AnimVector d(-6 * p0.x - m0.x + 6 * p1.x - m1.x, -6 * p0.y - m0.y + 6 * p1.y - m1.y,
               -6 * p0.z - m0.z + 6 * p1.z - m1.z);
  length_ = (m0.Length() + d.Length() + m1.Length()) / 6.0f;
}

AnimPoint HermiteSegment::Value(float t) const {
  float t2 = t * t, t3 = t2 * t;
  float h[4] = {2 * t3 - 3 * t2 + 1, t3 - 2 * t2 + t, -2 * t3 + 3 * t2, t3 - t2};
  float r[3];
  for (int axis = 0; axis < 3; ++axis)
    r[axis] = h[0] * c_[axis][0] + h[1] * c_[axis][1] + h[2] * c_[axis][2] + h[3] * c_[axis][3];
  return {r[0], r[1], r[2]};
}

AnimVector HermiteSegment::Derivative(float t) const {
  float t2 = t * t;
  float h[4] = {6 * t2 - 6 * t, 3 * t2 - 4 * t + 1, 6 * t - 6 * t2, 3 * t2 - 2 * t};
  float r[3];
  for (int axis = 0; axis < 3; ++axis)
    r[axis] = h[0] * c_[axis][0] + h[1] * c_[axis][1] + h[2] * c_[axis][2] + h[3] * c_[axis][3];
  return {r[0], r[1], r[2]};
}

LinearSegment::LinearSegment(const AnimPoint& start, const AnimVector& delta, const AnimQuat& from, const AnimQuat& to)
    : start_(start), delta_(delta), from_(from), to_(to) {
  anim_align(from_, to_);
}
