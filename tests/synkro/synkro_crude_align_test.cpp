// The coarse stage: activity levels, onset blocks, the signed move and its
// flag. Most cases run at 2000 Hz (N = 10 samples a block) against a
// recording that is active in every block (onset block 161), so the expected
// move d = N * (reference onset - 161) exposes the reference's onset; the
// output is pre-filled with sentinels so that a short fill shows.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "reductions.hpp"
#include "signals.hpp"
#include "synkro_2.hpp"
#include "test_arrays.hpp"

namespace {

using audiomeas::synkro::crude_align;
using audiomeas::test::blocks;
using audiomeas::test::Column;
using audiomeas::test::Exact;
using audiomeas::test::kSentinel;
using audiomeas::test::moved;

constexpr real_T kRate = 2000.0;
constexpr int32_T N = 10;

struct Coarse {
  std::vector<real_T> shifted;
  real_T flag;
};

Coarse run(const std::vector<real_T>& reference, const std::vector<real_T>& recording,
           real_T sampleRate = kRate) {
  const Exact ref(reference);
  const Exact rec(recording);
  Column out(std::vector<real_T>(recording.size(), kSentinel));
  real_T flag = kSentinel;
  crude_align(ref.get(), rec.get(), sampleRate, out.get(), &flag);
  return {out.values(), flag};
}

std::vector<real_T> activeEverywhere(int32_T n, uint64_t seed = 11) {
  return blocks(
      n, N, [](int64_t) { return true; }, 0.5, seed);
}

// Fails if a level equal to -50 dB counted as active (the reference would
// find its onset and d would be 0).
TEST(CrudeAlignThresholds, ReferenceLevelExactlyMinus50DbIsQuiet) {
  const real_T atThreshold = 0x1.9e5ae053f79fcp-9;
  const real_T above = std::nextafter(atThreshold, 1.0);
  auto level = [](real_T a) {
    const std::vector<real_T> frame(N + 1, a);
    return 20.0 * std::log10(audiomeas::rmsOf(frame.data(), N + 1) + 0.000001);
  };
  ASSERT_EQ(level(atThreshold), -50.0);
  ASSERT_GT(level(above), -50.0);

  const int32_T n = 200 * N + 1;  // 200 full frames of N + 1 samples
  const auto recording = activeEverywhere(n);
  const Coarse quiet = run(std::vector<real_T>(n, atThreshold), recording);
  EXPECT_EQ(quiet.shifted, moved(recording, -161 * N));
  EXPECT_EQ(quiet.flag, 0.0);
  const Coarse active = run(std::vector<real_T>(n, above), recording);
  EXPECT_EQ(active.shifted, recording);
  EXPECT_EQ(active.flag, 0.0);
}

// The recording's threshold is its overall level less 12 dB. Its first 200
// blocks hold a constant a, the rest 1.0; a is set to lie 11.5 dB (active,
// onset 161) or 12.5 dB (quiet, onset 361) below the overall level. Fails on
// a threshold off by a dB or more, or measured against the wrong signal.
TEST(CrudeAlignThresholds, RecordingThresholdIs12DbBelowItsOverallLevel) {
  struct Case {
    real_T dbBelow;
    int64_t d;
  };
  const int32_T n = 400 * N;
  const auto reference = activeEverywhere(n);
  for (const Case c : {Case{11.5, 0}, Case{12.5, -200 * N}}) {
    SCOPED_TRACE(c.dbBelow);
    // a^2 = r (a^2 + 1) / 2 with r = 10^(-dbBelow / 10): a sits dbBelow under
    // the RMS of half a and half 1.0.
    const real_T r = std::pow(10.0, -c.dbBelow / 10.0);
    const real_T a = std::sqrt(r / (2.0 - r));
    std::vector<real_T> recording(n, 1.0);
    // Through the first sample of block 201, so that block 200's frame is all a.
    std::fill(recording.begin(), recording.begin() + 200 * N + 1, a);
    const Coarse shifted = run(reference, recording);
    EXPECT_EQ(shifted.shifted, moved(recording, c.d));
    EXPECT_EQ(shifted.flag, 0.0);
  }
}

// The onset is the first block at which more than 160 of the last 200 blocks
// were active. Fails on >= 160, on a history longer or shorter than 200, or
// on counting from the wrong end.
TEST(CrudeAlignThresholds, OnsetNeedsMoreThan160OfLast200Blocks) {
  struct Case {
    const char* what;
    std::function<bool(int64_t)> active;
    int64_t onset;  // 0: none
  };
  const Case cases[] = {
      {"exactly 160 active blocks never mark", [](int64_t k) { return k <= 160; }, 0},
      {"the 161st active block marks", [](int64_t k) { return k <= 161; }, 161},
      {"one quiet block delays the onset by one", [](int64_t k) { return k != 161; }, 162},
      {"scattered activity counts within the window",
       [](int64_t k) { return k <= 100 || (k >= 140 && k <= 200); }, 200},
      {"blocks older than 200 drop out", [](int64_t k) { return k <= 100 || k > 200; }, 361},
  };
  const int32_T n = 400 * N + 1;
  const auto recording = activeEverywhere(n);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Coarse r = run(blocks(n, N, c.active), recording);
    EXPECT_EQ(r.shifted, moved(recording, N * (c.onset - 161)));
    EXPECT_EQ(r.flag, 0.0);  // |d| <= 2000 < n / 2
  }
}

// A silent recording sits at -120 dB, above its own threshold of -132 dB, so
// every block is active and its onset is block 161. Samples of 1e-30 are
// silence to the level (rms + 1e-6 rounds to 1e-6) yet show where they moved.
// Fails if silence were treated as inactive (d would be 165 blocks).
TEST(CrudeAlignOnsets, SilentRecordingHasOnsetAt161) {
  const int32_T n = 300 * N;
  std::vector<real_T> recording(n);
  for (int32_T i = 0; i < n; ++i) recording[i] = 1e-30 * (1 + i % 13);
  const auto reference = blocks(n, N, [](int64_t k) { return k > 4; });  // onset 165
  const Coarse r = run(reference, recording);
  EXPECT_EQ(r.shifted, moved(recording, 4 * N));
  EXPECT_EQ(r.flag, 0.0);
}

// Only the reference's onset found: the recording's counts as block 0, so
// it is delayed by 161 blocks, flagged when that exceeds half the length.
// (Only the recording's found: the silent references of NoOnsetWithout-
// EnoughBlocks and the mirror case of SignedShiftAgainstHalfTheLength.)
TEST(CrudeAlignOnsets, OnlyTheReferencesOnsetFound) {
  for (const int32_T n : {400 * N + 1, 300 * N + 1}) {
    SCOPED_TRACE(n);
    // Loud in its first 20 blocks only: no onset.
    const auto recording = blocks(n, N, [](int64_t k) { return k <= 20; });
    const Coarse r = run(activeEverywhere(n, 3), recording);
    EXPECT_EQ(r.shifted, moved(recording, 161 * N));
    EXPECT_EQ(r.flag, 161 * N > 0.5 * n ? 1.0 : 0.0);
  }
}

// d = N * q raises the flag exactly when N * q > m' / 2 (strict, against the
// unrounded half); the mirror case, the recording's onset q blocks later,
// never does. Fails on |d|, on >=, or on halving in integers.
TEST(CrudeAlignFlag, SignedShiftAgainstHalfTheLength) {
  struct Case {
    int32_T n;
    real_T flag;
  };
  const int64_t q = 170;  // onsets 331 and 161: d = 1700
  for (const Case c : {Case{3400, 0.0}, Case{3399, 1.0}, Case{3401, 0.0}}) {
    SCOPED_TRACE(c.n);
    const auto lateRef = blocks(c.n, N, [q](int64_t k) { return k > q; });
    const auto rec = activeEverywhere(c.n);
    const Coarse delayed = run(lateRef, rec);
    EXPECT_EQ(delayed.shifted, moved(rec, N * q));
    EXPECT_EQ(delayed.flag, c.flag);

    const auto lateRec = blocks(
        c.n, N, [q](int64_t k) { return k > q; }, 0.5, 5);
    const Coarse advanced = run(activeEverywhere(c.n, 3), lateRec);
    EXPECT_EQ(advanced.shifted, moved(lateRec, -N * q));
    EXPECT_EQ(advanced.flag, 0.0);
  }
}

// No blocks (a rate that gives no whole sample, or no finite block length,
// or fewer than 161 blocks): no onset, an unmoved copy, no flag. The first
// rows show the same signals do move when blocks exist. Fails on a NaN or
// out-of-range block length reaching the loop or an integer conversion
// (UBSan reports the conversion).
TEST(CrudeAlignBlocks, NoOnsetWithoutEnoughBlocks) {
  struct Case {
    real_T rate;
    int32_T n;
    int64_t d;
  };
  const real_T inf = std::numeric_limits<real_T>::infinity();
  const Case cases[] = {
      {kRate, 161 * N + 9, -161 * N},  // 161 blocks: the recording's onset
      {200.0, 161 * N + 9, -161},      // N = 1
      {kRate, 160 * N + 9, 0},         // 160 blocks
      {199.99, 161 * N + 9, 0},        // N = 0
      {0.0, 161 * N + 9, 0},
      {-kRate, 161 * N + 9, 0},
      {std::numeric_limits<real_T>::quiet_NaN(), 161 * N + 9, 0},
      {inf, 161 * N + 9, 0},
      {-inf, 161 * N + 9, 0},
      {4.4e11, 161 * N + 9, 0},  // N above the int32 range
      {1e300, 161 * N + 9, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "rate " << c.rate << ", n " << c.n);
    const auto recording = activeEverywhere(c.n);
    const Coarse r = run(std::vector<real_T>(c.n, 0.0), recording, c.rate);
    EXPECT_EQ(r.shifted, moved(recording, c.d));
    EXPECT_EQ(r.flag, 0.0);
  }
}

// A frame is N + 1 samples: the block's own and the next block's first.
// Here each frame holds two pulses (-48.9 dB, active); over N samples it
// would hold one (-51.5 dB, quiet) and the onset would be lost.
TEST(CrudeAlignBlocks, FrameIncludesNextBlocksFirstSample) {
  const int32_T n = 200 * N + 1;
  std::vector<real_T> reference(n, 0.0);
  for (int32_T i = 0; i < n; i += N) reference[i] = std::pow(10.0, -41.5 / 20.0);
  const auto recording = activeEverywhere(n);
  EXPECT_EQ(run(reference, recording).shifted, recording);
}

// When n is a multiple of N the last frame has only N samples; its level is
// their RMS (-49.8 dB here, active), not a mean over N + 1 with a zero
// (-50.2 dB). Block 161 is the last one, so the onset depends on it. With
// exact-size inputs a read past the end shows under AddressSanitizer.
TEST(CrudeAlignBlocks, LastFrameOfExactMultipleUsesItsSamples) {
  const int32_T n = 161 * N;
  auto reference = blocks(n, N, [](int64_t k) { return k <= 160; });
  for (int32_T i = 160 * N; i < n; ++i) reference[i] = std::pow(10.0, -49.8 / 20.0);
  const auto recording = activeEverywhere(n);
  const Coarse r = run(reference, recording);
  EXPECT_EQ(r.shifted, recording);
  EXPECT_EQ(r.flag, 0.0);
}

}  // namespace
