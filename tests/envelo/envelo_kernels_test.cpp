// envelo's exported kernels through the C ABI. Each check names the fault it
// catches.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "envelo_estimation.h"
#include "test_arrays.hpp"

namespace {

using audiomeas::test::Column;
using audiomeas::test::kSentinel;
constexpr real_T kInf = std::numeric_limits<real_T>::infinity();
constexpr real_T kNaN = std::numeric_limits<real_T>::quiet_NaN();

// Fails if the 200-value sum stops short or counts a history of exactly 160
// active blocks as more than 160.
TEST(EnveloKernels, SumOfTheActivityHistory) {
  std::vector<real_T> x(200, 1.0);
  EXPECT_EQ(sum(x.data()), 200.0);
  std::fill(x.begin() + 160, x.end(), 0.0);
  EXPECT_EQ(sum(x.data()), 160.0);
  // Left to right: 1e16 + 1 rounds back to 1e16, so the 1 is lost.
  x.assign(200, 0.0);
  x[0] = 1e16, x[1] = 1.0, x[199] = -1e16;
  EXPECT_EQ(sum(x.data()), 0.0);
}

// Fails if rms sums out of order (pairwise would keep the ones) or divides
// by anything but 720,000.
TEST(EnveloKernels, FixedRmsSumsLeftToRight) {
  std::vector<real_T> x(720000, 3.0);
  EXPECT_EQ(rms(x.data()), 3.0);
  x.assign(720000, 1.0);
  x[0] = 1e8;  // 1e16 absorbs every following 1.0
  EXPECT_EQ(rms(x.data()), std::sqrt(1e16 / 720000.0));
  x[719999] = kNaN;
  EXPECT_TRUE(std::isnan(rms(x.data())));
}

// Fails if the emx forms read past size[0] or treat an empty vector as 0.
TEST(EnveloKernels, VariableLengthSumAndRms) {
  Column empty;
  EXPECT_TRUE(std::isnan(b_rms(empty.get())));
  EXPECT_EQ(b_sum(empty.get()), 0.0);
  Column threes({3, 3, 3, 3, 100}, 0);
  threes.get()->size[0] = 4;
  EXPECT_EQ(b_rms(threes.get()), 3.0);
  EXPECT_EQ(b_sum(threes.get()), 12.0);
}

// Fails if b_abs negates instead of clearing the sign bit, or stops short.
TEST(EnveloKernels, AbsClearsTheSignBitEverywhere) {
  std::vector<real_T> x(1439999, -2.5), y(1439999, kSentinel);
  x[0] = -0.0, x[1] = -kInf, x[2] = -kNaN, x[1439998] = -7.0;
  b_abs(x.data(), y.data());
  EXPECT_EQ(y[0], 0.0);
  EXPECT_FALSE(std::signbit(y[0]));
  EXPECT_EQ(y[1], kInf);
  EXPECT_TRUE(std::isnan(y[2]));
  EXPECT_FALSE(std::signbit(y[2]));
  EXPECT_EQ(y[3], 2.5);
  EXPECT_EQ(y[1439998], 7.0);
}

TEST(EnveloKernels, Log10InPlace) {
  const struct { real_T in, out; } cases[] = {{100.0, 2.0}, {1e-6, -6.0}, {0.0, -kInf}};
  for (const auto& c : cases) {
    real_T v = c.in;
    b_log10(&v);
    EXPECT_EQ(v, c.out) << c.in;
  }
  real_T negative = -1.0;
  b_log10(&negative);
  EXPECT_TRUE(std::isnan(negative));
}

// Fails if the shim swaps its arguments, reverses the lag order or drops the
// end lags: c[i] holds lag i - 719,999, sum_j x[j + lag] y[j].
TEST(EnveloKernels, CrossCorrelationShimLagOrder) {
  std::vector<real_T> x(720000, 0.0), y(720000, 0.0), c(1439999, kSentinel);
  x[0] = 2.0, x[719999] = 3.0, x[100] = 1.0;
  y[0] = 5.0, y[719999] = 7.0, y[40] = 11.0;
  xcorr(x.data(), y.data(), c.data());
  const struct {
    int32_T lag;
    real_T value;
  } expected[] = {{-719999, 2.0 * 7.0}, {719999, 3.0 * 5.0}, {0, 2.0 * 5.0 + 3.0 * 7.0},
                  {60, 1.0 * 11.0},     {-40, 2.0 * 11.0},   {-60, 0.0}};
  for (const auto& e : expected) EXPECT_NEAR(c[719999 + e.lag], e.value, 1e-9) << e.lag;
}

// Fails if the table shims are crossed (forward -sin, inverse +sin) or if
// fft/ifft are not inverse to each other through the exported names.
TEST(EnveloKernels, TransformShims) {
  std::vector<real_T> costab(1048577, kSentinel), sintab(1048577, kSentinel);
  generate_twiddle_tables(costab.data(), sintab.data());
  EXPECT_EQ(costab[0], 1.0);
  EXPECT_EQ(sintab[524288], -1.0);
  b_generate_twiddle_tables(costab.data(), sintab.data());
  EXPECT_EQ(sintab[0], 0.0);
  EXPECT_EQ(sintab[524288], 1.0);

  std::vector<real_T> x(720000, 0.0);
  x[1] = 1.0;  // a delay of one sample: Y[k] = exp(-2 pi i k / 2^21)
  std::vector<creal_T> spectrum(2097152), back(2097152);
  fft(x.data(), spectrum.data());
  EXPECT_NEAR(spectrum[524288].re, 0.0, 1e-12);
  EXPECT_NEAR(spectrum[524288].im, -1.0, 1e-12);
  ifft(spectrum.data(), back.data());
  EXPECT_NEAR(back[1].re, 1.0, 1e-12);
  EXPECT_NEAR(back[0].re, 0.0, 1e-12);
}

}  // namespace
