// The analysis stage on given inputs: the settle search on constructed level
// tracks, and the level track of an aligned recording.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "envelo_estimation.hpp"

namespace {

namespace ev = audiomeas::envelo;
using ev::Segment;
constexpr real_T kNaN = std::numeric_limits<real_T>::quiet_NaN();

// A track that sits at `steady` with a ripple of +-0.1 dB (band edge at
// steady +-0.3 dB on average) and holds `early` before window `from`.
std::vector<real_T> track(int32_T count, real_T steady, real_T early, int32_T from) {
  std::vector<real_T> t(count);
  for (int32_T i = 0; i < count; ++i) t[i] = i < from ? early : steady + (i % 2 ? 0.1 : -0.1);
  return t;
}

real_T settle(const std::vector<real_T>& t, Segment s) {
  return ev::settleTime(t.data(), static_cast<int32_T>(t.size()), s);
}

real_T seconds(int32_T pairEnd) { return pairEnd * 9600 / 48000.0; }

// Fails on an off-by-one in the pair index or time, a non-strict
// comparison, a wrong band edge, or pairs that do not need both values.
TEST(EnveloSettle, FirstQualifyingPair) {
  // Already steady: the first pair (0, 1) settles, 1 * 0.2 s.
  EXPECT_EQ(settle(track(113, -20, -20, 0), Segment::kFalling), 0.2);
  EXPECT_EQ(settle(track(239, -20, -20, 0), Segment::kRising), 0.2);
  // Above the falling band until window 10: pair (10, 11), 2.2 s.
  EXPECT_EQ(settle(track(113, -20, -10, 10), Segment::kFalling), seconds(11));
  // Below the rising band until window 30: 6.2 s (not 31 * 0.2).
  EXPECT_EQ(settle(track(239, -20, -30, 30), Segment::kRising), seconds(31));
  // The falling edge is the upper one: a track coming up from below is
  // under it from the start.
  EXPECT_EQ(settle(track(113, -20, -30, 10), Segment::kFalling), 0.2);

  // A single qualifying window between non-qualifying ones does not count.
  std::vector<real_T> t = track(113, -20, -10, 40);
  t[5] = -25;
  EXPECT_EQ(settle(t, Segment::kFalling), seconds(41));
  // Values exactly on the band edge do not qualify.
  t = std::vector<real_T>(113, -20.0);  // range 0: the edge is the steady value
  t[0] = t[1] = -21.0;
  EXPECT_EQ(settle(t, Segment::kFalling), 0.2);
  t[1] = -20.0;
  EXPECT_EQ(settle(t, Segment::kFalling), 0.0);
}

// A steady band that is not flat holds all its own values, so the search
// ends at the first steady pair, (62, 63) or (188, 189), at the latest; a
// flat band holds none of them. Fails if the steady part is cut off the
// search or taken from the wrong end.
TEST(EnveloSettle, LatestTimesAndNone) {
  EXPECT_EQ(settle(track(113, -20, -10, 62), Segment::kFalling), seconds(63));
  EXPECT_EQ(settle(track(239, -20, -30, 188), Segment::kRising), seconds(189));
  std::vector<real_T> fall(113, -10.0), rise(239, -30.0);
  std::fill(fall.begin() + 62, fall.end(), -20.0);
  std::fill(rise.begin() + 188, rise.end(), -20.0);
  EXPECT_EQ(settle(fall, Segment::kFalling), 0.0);
  EXPECT_EQ(settle(rise, Segment::kRising), 0.0);
}

// Fails if a NaN level leaks into a comparison as "settled".
TEST(EnveloSettle, NaNTracks) {
  std::vector<real_T> t = track(113, -20, -20, 0);
  t[0] = kNaN;  // only the first pair is spoilt
  EXPECT_EQ(settle(t, Segment::kFalling), 0.4);
  t[100] = kNaN;  // a NaN steady value makes the band edge NaN
  EXPECT_EQ(settle(t, Segment::kFalling), 0.0);
  EXPECT_EQ(settle(std::vector<real_T>(239, kNaN), Segment::kRising), 0.0);
}

// Fails if the window RMS divides by the samples that exist rather than by
// 120,000, reads past the recording, or mishandles a failed alignment.
TEST(EnveloLevelTrack, WindowsReadInPlaceMatchTheZeroPaddedCopy) {
  const int32_T length = 200000, delay = 4800;
  std::vector<real_T> rec(length);
  for (int32_T n = 0; n < length; ++n) rec[n] = 1000.0 * std::sin(0.001 * n * n);
  const ev::AlignedRecording aligned =
      ev::alignedRecording(rec.data(), length, {static_cast<real_T>(delay), 0.0});
  for (const int32_T start : {0, 40000, length - delay - 1, length}) {
    double squares = 0.0;  // the aligned copy: rec[delay + n], zero past the end
    for (int32_T n = start; n < start + 120000; ++n) {
      const real_T v = n + delay < length ? rec[n + delay] : 0.0;
      squares += v * v;
    }
    EXPECT_EQ(ev::windowRms(aligned, start), std::sqrt(squares / 120000.0)) << start;
  }
  // A failed alignment reads as silence: 20 log10(1e-6 / 32767) dB.
  std::vector<real_T> levels(3);
  ev::levelTrack(ev::alignedRecording(rec.data(), length, {4800.0, 1.0}), 0, 3, levels.data());
  EXPECT_NEAR(levels[0], -210.30873362283398, 1e-12);
}

// Fails if the smoothing weight is taken as 2 instead of 20 * (1 - 0.9).
TEST(EnveloLevelTrack, SmoothingRecursion) {
  std::vector<real_T> rec(400000, 1024.0);
  std::vector<real_T> t(2);
  ev::levelTrack(ev::alignedRecording(rec.data(), 400000, {1.0, 0.0}), 0, 2, t.data());
  const real_T v = std::log10((1024.0 + 1e-6) / 32767);
  EXPECT_EQ(t[0], 20 * v);
  EXPECT_EQ(t[1], 1.9999999999999996 * v + 0.9 * t[0]);
  EXPECT_NE(t[1], 2.0 * v + 0.9 * t[0]);
}

}  // namespace
