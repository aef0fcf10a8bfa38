// The frame loop sums the squares of its three signals in one pass; each sum
// must keep the bits of summing that signal's frame alone, left to right
// (sumOfSquares / rmsOf). Frames of random samples with -0 and
// subnormals, loud enough that every frame from the fourth on is active and
// the first three are noise frames. Fails if the sums are regrouped (pairwise
// or in lanes) or mixed up between the signals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "burstra.hpp"
#include "reductions.hpp"

namespace audiomeas::test {
namespace {

bool sameBits(real_T a, real_T b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(BurstraOnePass, FrameSumsKeepTheBitsOfSeparateSums) {
  constexpr int32_T kLength = 241, kCount = 40;
  std::mt19937_64 gen(3);
  std::uniform_real_distribution<real_T> u(-30000.0, 30000.0);
  auto sample = [&](std::uint64_t k) {
    switch (k % 7) {
      case 0:
        return -0.0;
      case 1:
        return std::numeric_limits<real_T>::denorm_min() * 3.0;
      default:
        return u(gen);
    }
  };
  std::vector<real_T> p(kLength * kCount), a(kLength * kCount), m(kLength * kCount);
  for (std::size_t i = 0; i < p.size(); ++i) {
    p[i] = sample(gen()), a[i] = sample(gen()), m[i] = sample(gen());
  }
  std::vector<real_T> presenceTrack(kCount), activityTrack(kCount);
  const burstra::FrameTally t =
      burstra::tallyFrames(p.data(), a.data(), m.data(), kLength, kCount, presenceTrack, activityTrack);
  ASSERT_EQ(t.activeFrames, kCount - 3);
  ASSERT_EQ(t.noiseFrames, 3);

  real_T noise = 0.0, active = 0.0, activity = 0.0, presenceLevel = 0.0;
  for (int32_T i = 0; i < kCount; ++i) {
    const std::size_t start = static_cast<std::size_t>(i) * kLength;
    const real_T level = burstra::clampedLevel(rmsOf(p.data() + start, kLength));
    presenceLevel = i > 0 ? 0.9 * level + 0.09999999999999998 * presenceLevel : level;
    EXPECT_TRUE(sameBits(presenceTrack[i], presenceLevel)) << "frame " << i;
    const real_T ms = sumOfSquares(m.data() + start, kLength) / kLength;
    const real_T r = rmsOf(a.data() + start, kLength);
    if (i < 3) {
      noise += ms;
    } else {
      active += ms;
      activity += r * r;
    }
  }
  EXPECT_TRUE(sameBits(t.noisePowerSum, noise));
  EXPECT_TRUE(sameBits(t.activePowerSum, active));
  EXPECT_TRUE(sameBits(t.activityPowerSum, activity));
}

// The whole measured signal's sum of squares rides along the frame loop and
// is finished over the samples after the last frame; the level difference
// must keep the bits of summing the whole signal apart. Fails if the tail is
// dropped or summed twice, or if the carried sum restarts at a frame.
TEST(BurstraOnePass, WholeSignalSumsKeepTheirBits) {
  constexpr int32_T kRate = 48000, kLength = 240, kCount = 300, kTail = 100;
  std::mt19937_64 gen(4);
  std::uniform_real_distribution<real_T> u(-20000.0, 20000.0);
  std::vector<real_T> p(kLength * kCount + kTail), a(kLength * kCount), m(kLength * kCount + 3 * kTail);
  for (auto& v : p) v = u(gen);
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = (i / kLength) % 50 < 20 ? u(gen) : u(gen) * 1e-4;
  for (auto& v : m) v = u(gen) * 0.5;
  m[kLength * kCount + 7] = -0.0;

  const burstra::FrameTally t = burstra::tallyFrames(p.data(), a.data(), m.data(), kLength, kCount);
  ASSERT_GT(t.noiseFrames, 0.0);
  ASSERT_GT(t.activeFrames, 0.0);
  const real_T S = t.activePowerSum - t.noisePowerSum / t.noiseFrames * t.activePresentFrames;
  const real_T active = burstra::clampedLevel(std::sqrt(S / t.activeFrames));
  const real_T T = sumOfSquares(m.data(), static_cast<int32_T>(m.size())) / kLength - S;
  const real_T want = burstra::clampedLevel(std::sqrt(T / kCount)) - active;

  auto wrap = [](std::vector<real_T>& v, int32_T* size) {
    *size = static_cast<int32_T>(v.size());
    return emxBuffer_real_T{v.data(), size, *size, 1, false};
  };
  int32_T sp, sa, sm;
  emxBuffer_real_T ep = wrap(p, &sp), ea = wrap(a, &sa), em = wrap(m, &sm);
  real_T difference = 0.0, level = 0.0, warning = 0.0;
  burstra::burstra(&ep, &ea, &em, kRate, &difference, &level, &warning);
  EXPECT_TRUE(sameBits(level, active));
  EXPECT_TRUE(sameBits(difference, want));
}

}  // namespace
}  // namespace audiomeas::test
