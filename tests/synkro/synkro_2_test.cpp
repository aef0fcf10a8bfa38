// synkro_2 through its C interface: the lag's sign, the peak search, the
// three verdict tests, and the output container as a host builds it. A rate
// below 200 Hz switches the coarse stage off (no blocks), so the fine stage
// alone decides unless a case says otherwise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <vector>

#include "signals.hpp"
#include "synkro_2.h"

namespace {

using audiomeas::test::blocks;
using audiomeas::test::Exact;
using audiomeas::test::HostArray;
using audiomeas::test::moved;
using audiomeas::test::noise;

constexpr real_T kNoBlocks = 100.0;
constexpr real_T kNaN = std::numeric_limits<real_T>::quiet_NaN();
constexpr real_T kSentinel = -123456.75;

struct Match {
  std::vector<real_T> aligned;
  real_T lag;
  real_T failed;
};

// The output block is large enough and full of sentinels: every one of the
// n values must be written, zeros included.
Match match(const std::vector<real_T>& reference, const std::vector<real_T>& recording,
            real_T sampleRate = kNoBlocks) {
  const Exact ref(reference);
  const Exact rec(recording);
  std::vector<real_T> block(reference.size() + 1, kSentinel);
  HostArray out(block.data(), 0, static_cast<int32_T>(block.size()), false);
  Match r{{}, kSentinel, kSentinel};
  synkro_2(ref.get(), rec.get(), sampleRate, &out.a, &r.lag, &r.failed);
  r.aligned = out.values();
  EXPECT_EQ(block.back(), kSentinel);
  return r;
}

// A recording that is the reference delayed by D (advanced when D < 0) comes
// back as the reference, zeros where the recording had none, with fineLag
// +D. Fails on a flipped sign or an off-by-one from index to lag. The
// 2000 Hz row runs the coarse stage too: both signals are active throughout,
// their onset blocks agree and it adds no move.
TEST(SynkroLag, DelayedRecordingComesBackAligned) {
  struct Case {
    int32_T n, D;
    real_T rate;
  };
  for (const Case c : {Case{1500, 0, kNoBlocks}, Case{1500, 1, kNoBlocks}, Case{1500, 37, kNoBlocks},
                       Case{1500, -37, kNoBlocks}, Case{2000, 3, 2000.0}}) {
    SCOPED_TRACE(testing::Message() << "n " << c.n << ", D " << c.D << ", rate " << c.rate);
    const auto reference = noise(c.n, 1.0, 21);
    const Match r = match(reference, moved(reference, c.D), c.rate);
    EXPECT_EQ(r.lag, c.D);
    EXPECT_EQ(r.aligned, moved(moved(reference, c.D), -c.D));
    EXPECT_EQ(r.failed, 0.0);
  }
}

// |fineLag| is tested against m / 3 unrounded, m being the recording's full
// length, also when it is longer (only its first n samples are matched) or
// shorter (zero-padded) than the reference. Fails on n in place of m, on >=,
// or on rounding m / 3 (m = 1499: 499.67 rounds to 500 and would admit 500).
TEST(SynkroVerdict, LagLimitIsAThirdOfTheRecording) {
  struct Case {
    int32_T n, m, D;
    real_T failed;
  };
  for (const Case c : {Case{1500, 1500, 500, 0.0}, Case{1500, 1500, 501, 1.0}, Case{1500, 1500, -500, 0.0},
                       Case{1500, 1499, 500, 1.0}, Case{1200, 1500, 500, 0.0}, Case{1200, 1500, 501, 1.0}}) {
    SCOPED_TRACE(testing::Message() << "n " << c.n << ", m " << c.m << ", D " << c.D);
    const auto reference = noise(c.n, 1.0, 33);
    const Match r = match(reference, moved(reference, c.D, c.m));
    EXPECT_EQ(r.lag, c.D);
    EXPECT_EQ(r.failed, c.failed);
  }
}

// The ratio (S - P) / (floor(2m/3) * P), S summed over W = floor(m/3) values
// each side of the peak. A one-sample recording at p makes the correlation a
// copy of the reference around the peak, so the window is set by hand:
// P = 25 and 51 more gives exactly 51 / 1275 = 0.04, which passes; 52
// rejects. Decoys of 20 just outside the window reject if it is one too
// wide; m = 77 tells floor(2m/3) = 51 from 2 * floor(m/3) = 50. With n = 10
// and m = 30 the window reaches past both ends of the correlation: it is
// clipped (a read before it shows under AddressSanitizer) and the divisor
// stays floor(2m/3) = 20, so 25 and 20 more is again exactly 0.04.
TEST(SynkroVerdict, PeakRatioAtTheThreshold) {
  struct Case {
    const char* what;
    int32_T n, m, p;
    std::vector<std::pair<int32_T, real_T>> values;  // (index, value) in the reference
    real_T failed;
  };
  const std::vector<std::pair<int32_T, real_T>> wide{
      {38, 25.0}, {13, 17.0}, {39, -17.0}, {12, 20.0}, {64, 20.0}};
  auto with = [](std::vector<std::pair<int32_T, real_T>> v, int32_T i, real_T x) {
    v.emplace_back(i, x);
    return v;
  };
  std::vector<std::pair<int32_T, real_T>> clipped{{0, 25.0}};
  for (int32_T i = 1; i <= 8; ++i) clipped.emplace_back(i, 2.5);
  const Case cases[] = {
      {"ratio exactly 0.04 passes", 77, 77, 38, with(wide, 63, 17.0), 0.0},
      {"52 / 1275 rejects", 77, 77, 38, with(wide, 63, 18.0), 1.0},
      {"clipped window, exactly 0.04", 10, 30, 0, clipped, 0.0},
      {"clipped window, 20.5 / 500", 10, 30, 0, with(clipped, 9, 0.5), 1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<real_T> reference(c.n, 0.0);
    for (const auto& [i, x] : c.values) reference[i] = x;
    std::vector<real_T> recording(c.m, 0.0);
    recording[c.p] = 1.0;
    const Match r = match(reference, recording);
    EXPECT_EQ(r.lag, 0.0);
    EXPECT_EQ(r.failed, c.failed);
  }
}

// The coarse stage's flag rejects a match that the fine stage finds perfect:
// the recording is the reference advanced by q blocks at 2000 Hz and the
// coarse move restores it exactly (fineLag 0, sharp peak). q = 171 moves
// 1710 > 1700 samples, half the length, and is flagged; q = 170 is not.
TEST(SynkroVerdict, CoarseFlagOverridesASharpPeak) {
  const int32_T n = 3400;
  for (const auto& [q, failed] : {std::pair{171, 1.0}, std::pair{170, 0.0}}) {
    SCOPED_TRACE(q);
    const auto reference = blocks(
        n, 10, [q](int64_t k) { return k > q; }, 1.0, 9);
    const Match r = match(reference, moved(reference, -10 * q), 2000.0);
    EXPECT_EQ(r.lag, 0.0);
    EXPECT_EQ(r.aligned, reference);
    EXPECT_EQ(r.failed, failed);
  }
}

// Small cases worked by hand: the one-value correlation, ties (the earlier
// index, so the larger lag, wins), NaN values never winning, an all-NaN
// correlation (k* = 1) and silence, whose NaN ratio cannot reject.
TEST(SynkroPeak, SmallCasesByHand) {
  struct Case {
    const char* what;
    std::vector<real_T> reference, recording;
    real_T lag;
    std::vector<real_T> aligned;
    real_T failed;
  };
  const std::vector<real_T> zeros4(4, 0.0);
  const Case cases[] = {
      {"n = 1", {2.0}, {3.0}, 0.0, {3.0}, 0.0},
      {"n = 1, longer recording", {2.0}, {3.0, 5.0, 7.0}, 0.0, {3.0}, 0.0},
      {"n = 1, empty recording", {2.0}, {}, 0.0, {0.0}, 0.0},
      {"tie of lags 0 and +1", {1.0, 1.0}, {1.0, 0.0}, 0.0, {1.0, 0.0}, 0.0},
      {"tie of opposite signs", {1.0, -1.0}, {1.0, 0.0}, 0.0, {1.0, 0.0}, 0.0},
      {"tie of lags -1 and +1", {1.0, 0.0, 1.0}, {0.0, 1.0, 0.0}, 1.0, {1.0, 0.0, 0.0}, 0.0},
      {"NaN lags skipped", {kNaN, 1.0, 0.0}, {1.0, 0.0, 0.0}, -1.0, {0.0, 1.0, 0.0}, 0.0},
      {"all NaN: first index", {kNaN, kNaN, kNaN}, std::vector<real_T>(9, 1.0), 2.0, {1.0, 0.0, 0.0}, 0.0},
      {"silence: lag n - 1 beyond m / 3", zeros4, zeros4, 3.0, zeros4, 1.0},
      {"silence within m / 3: NaN ratio", {0.0, 0.0}, std::vector<real_T>(6, 0.0), 1.0, {0.0, 0.0}, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Match r = match(c.reference, c.recording);
    EXPECT_EQ(r.lag, c.lag);
    EXPECT_EQ(r.aligned, c.aligned);
    EXPECT_EQ(r.failed, c.failed);
  }
}

// Growth follows the container rule: a block of at least n elements is used
// as it stands, whoever owns it; a shorter one is replaced by a new owned
// block of 16, and the caller's block is freed only when the container owned
// it (the leak checker sees the rest). A given-up block is left untouched.
TEST(SynkroOutput, ContainerGrowsByTheRule) {
  const std::vector<real_T> reference{9, 1, -1, 2, 0, 1, -2, 1, 0, 1};  // one dominant sample
  const Exact ref(reference);
  const Exact rec(moved(reference, 2));
  const std::vector<real_T> want{9, 1, -1, 2, 0, 1, -2, 1, 0, 0};
  struct Case {
    int32_T capacity;
    bool owns;
  };
  for (const Case c : {Case{12, false}, Case{12, true}, Case{4, false}, Case{4, true}}) {
    SCOPED_TRACE(testing::Message() << "capacity " << c.capacity << (c.owns ? ", owned" : ", caller's"));
    auto* block = static_cast<real_T*>(std::malloc(sizeof(real_T) * c.capacity));
    std::fill_n(block, c.capacity, kSentinel);
    HostArray out(block, 3, c.capacity, c.owns);
    real_T lag = kSentinel;
    real_T failed = kSentinel;
    synkro_2(ref.get(), rec.get(), kNoBlocks, &out.a, &lag, &failed);
    EXPECT_EQ(out.values(), want);
    EXPECT_EQ(lag, 2.0);
    if (c.capacity >= 10) {
      EXPECT_EQ(out.a.data, block);
      EXPECT_EQ(out.a.capacity, c.capacity);
      EXPECT_EQ(out.a.ownsData, c.owns);
      EXPECT_EQ(block[10], kSentinel);
    } else {
      EXPECT_NE(out.a.data, block);
      EXPECT_EQ(out.a.capacity, 16);
      EXPECT_TRUE(out.a.ownsData);
      if (!c.owns) {
        EXPECT_EQ(std::vector<real_T>(block, block + c.capacity), std::vector<real_T>(4, kSentinel));
      }
    }
    if (!c.owns || out.a.data == block) std::free(block);
    if (out.a.data != block) std::free(out.a.data);
  }
}

// An empty reference leaves nothing to search: an empty output, fineLag 0
// and a rejected match, without touching the caller's block.
TEST(SynkroOutput, EmptyReference) {
  for (const auto& recording : {std::vector<real_T>{}, std::vector<real_T>{1.0, 2.0, 3.0}}) {
    SCOPED_TRACE(recording.size());
    const Exact ref(std::vector<real_T>{});
    const Exact rec(recording);
    std::vector<real_T> block(4, kSentinel);
    HostArray out(block.data(), 4, 4, false);
    real_T lag = kSentinel;
    real_T failed = kSentinel;
    synkro_2(ref.get(), rec.get(), 2000.0, &out.a, &lag, &failed);
    EXPECT_EQ(out.size, 0);
    EXPECT_EQ(out.a.data, block.data());
    EXPECT_EQ(block, std::vector<real_T>(4, kSentinel));
    EXPECT_EQ(lag, 0.0);
    EXPECT_EQ(failed, 1.0);
  }
}

}  // namespace
