// The alignment stage on given inputs: onset search, coarse shift, peak and
// verdict.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "envelo_estimation.hpp"

namespace {

namespace ev = audiomeas::envelo;
constexpr real_T kNaN = std::numeric_limits<real_T>::quiet_NaN();
constexpr int32_T kN = ev::kSignalLength;

// Noise of about -11 dB re 1.0 from block `from` on, silence before (also
// in the one sample that the previous block's frame shares).
std::vector<real_T> activeFrom(int32_T from, int32_T length) {
  std::vector<real_T> x(length, 0.0);
  uint32_t state = 12345;
  for (int32_T n = 240 * from + 1; n < length; ++n) {
    state = state * 1664525u + 1013904223u;
    x[n] = (static_cast<real_T>(state >> 8) / 16777216.0 - 0.5);
  }
  return x;
}

ev::Onsets onsets(const std::vector<real_T>& reference, const std::vector<real_T>& recording) {
  return ev::findOnsets(reference.data(), recording.data(), ev::recordingThresholdOf(recording.data()));
}

// Fails if the first 161 blocks can already make an onset, if a silent
// recording is not active against its own -132 dB threshold, or if the
// shift has the wrong sign.
TEST(EnveloOnsets, SilenceAndActivity) {
  const std::vector<real_T> silence(kN + 1, 0.0), lively = activeFrom(100, kN + 1);
  EXPECT_EQ(ev::recordingThresholdOf(silence.data()), -132.0);
  ev::Onsets o = onsets(silence, silence);
  EXPECT_EQ(o.reference, 0);  // -120 dB is not above -50 dB
  EXPECT_EQ(o.recording, 161);
  EXPECT_EQ(ev::coarseShiftOf(o), -240.0 * 161);

  // Active from block 100 in both: onset when block 260 makes 161.
  o = onsets(lively, lively);
  EXPECT_EQ(o.reference, 261);
  EXPECT_EQ(o.recording, 261);
  // The recording 20 blocks later: shift it 4,800 samples earlier.
  o = onsets(lively, activeFrom(120, kN));
  EXPECT_EQ(o.recording, 281);
  EXPECT_EQ(ev::coarseShiftOf(o), -4800.0);
}

// The recording's last frame (block 2999) has only the 240 copied samples.
// Its level is set just between their RMS and the RMS of the 241 with a
// zero added: fails if the frame is padded, or read past the copy (ASan).
TEST(EnveloOnsets, LastFrameIsMeasuredOverItsOwnSamples) {
  const std::vector<real_T> silentReference(kN + 1, 0.0);
  std::vector<real_T> rec(kN, 0.0);                                        // exactly 720,000: nothing beyond
  std::fill(rec.begin() + 240 * 2839 + 1, rec.begin() + 240 * 2999, 1.0);  // blocks 2839 .. 2998
  auto level = [](real_T r) { return 20 * std::log10(r + 1e-6); };
  real_T lo = 0.0, hi = 1.0;  // bisect the last block's value
  for (int i = 0; i < 100; ++i) {
    const real_T b = 0.5 * (lo + hi);
    std::fill(rec.begin() + 240 * 2999, rec.end(), b);
    const real_T gap = level(b) - ev::recordingThresholdOf(rec.data());
    (gap > 10 * std::log10(241.0 / 240) / 2 ? hi : lo) = b;
  }
  std::fill(rec.begin() + 240 * 2999, rec.end(), hi);
  const real_T threshold = ev::recordingThresholdOf(rec.data());
  ASSERT_GT(level(hi), threshold);
  ASSERT_LE(level(std::sqrt(240 * hi * hi / 241)), threshold);
  EXPECT_EQ(ev::findOnsets(silentReference.data(), rec.data(), threshold).recording, 3000);
}

// Fails if the move goes the wrong way, leaves stale values, or copies
// from outside the 720,000 samples.
TEST(EnveloOnsets, CoarseShiftMovesAndZeroFills) {
  std::vector<real_T> in(kN), out(kN);
  for (int32_T n = 0; n < kN; ++n) in[n] = n + 1.0;
  const struct {
    real_T shift;
    int32_T probe;
    real_T expect;
  } cases[] = {{4800, 4799, 0.0},  {4800, 4800, 1.0},      {4800, kN - 1, kN - 4800.0},
               {-4800, 0, 4801.0}, {-4800, kN - 4801, kN}, {-4800, kN - 4800, 0.0},
               {720000, 0, 0.0},   {720000, kN - 1, 0.0},  {-720000, 0, 0.0},
               {0, 7, 8.0}};
  for (const auto& c : cases) {
    std::fill(out.begin(), out.end(), -1.0);
    ev::shiftSamples(in.data(), c.shift, out.data());
    EXPECT_EQ(out[c.probe], c.expect) << c.shift << " at " << c.probe;
  }
}

// Fails if NaN values can win, or a later equal maximum replaces the first.
TEST(EnveloVerdict, FirstStrongestPeak) {
  std::vector<real_T> c(ev::kCorrelationLength, 1.0);
  c[0] = kNaN, c[10] = 5.0, c[20] = 5.0, c[30] = kNaN;
  ev::Peak p = ev::findPeak(c.data());
  EXPECT_EQ(p.index, 11);
  EXPECT_EQ(p.value, 5.0);
  std::fill(c.begin(), c.end(), kNaN);
  p = ev::findPeak(c.data());
  EXPECT_EQ(p.index, 1);
  EXPECT_TRUE(std::isnan(p.value));
}

// The three tests in order, each at its bound. Fails on a non-strict bound,
// a one-sided delay test, a window that is not clipped to the correlation
// (ASan) or a wrong divisor.
TEST(EnveloVerdict, BoundsAndDistinctness) {
  std::vector<real_T> c(ev::kCorrelationLength, 0.0);
  const ev::Peak centre{720000, 1.0};
  c[centre.index - 1] = 1.0;
  EXPECT_EQ(ev::alignmentVerdict(360000, 100, c.data(), centre), 0.0);
  EXPECT_EQ(ev::alignmentVerdict(360240, 100, c.data(), centre), 1.0);
  EXPECT_EQ(ev::alignmentVerdict(-700000, 240000, c.data(), centre), 0.0);
  EXPECT_EQ(ev::alignmentVerdict(0, 240001, c.data(), centre), 1.0);
  EXPECT_EQ(ev::alignmentVerdict(0, -240001, c.data(), centre), 1.0);

  // 19,200 further magnitudes of 1.0 give exactly 0.04, which passes.
  std::fill(c.begin() + 600000, c.begin() + 619200, 1.0);
  EXPECT_EQ(ev::alignmentVerdict(0, 100, c.data(), centre), 0.0);
  c[480000 - 1] = 1.0;  // 1-based 480,000 is the window's first value
  EXPECT_EQ(ev::alignmentVerdict(0, 100, c.data(), centre), 1.0);
  c[480000 - 1] = 0.0;
  c[479999 - 1] = 1e6;  // just outside the window
  EXPECT_EQ(ev::alignmentVerdict(0, 100, c.data(), centre), 0.0);

  // A peak near either end: the window is cut, the divisor stays 480,000
  // (19,200 ones still give exactly 0.04).
  for (const int32_T index : {1, 100, ev::kCorrelationLength}) {
    std::fill(c.begin(), c.end(), 0.0);
    const int32_T from = index < 720000 ? index : index - 19201;
    std::fill(c.begin() + from, c.begin() + from + 19200, 1.0);
    c[index - 1] = 1.0;
    EXPECT_EQ(ev::alignmentVerdict(0, 0, c.data(), {index, 1.0}), 0.0) << index;
  }
  // A zero peak vouches for nothing.
  std::fill(c.begin(), c.end(), 0.0);
  EXPECT_EQ(ev::alignmentVerdict(0, 100, c.data(), {720000, 0.0}), 1.0);
}

}  // namespace
