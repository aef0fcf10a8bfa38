// Cross-correlation against a direct long-double sum on both methods, the
// method choice at the lengths where it flips, the lag order, and inputs
// outside the design (empty, too long, output aliasing an input).
#include <gtest/gtest.h>

#include <cmath>

#include "fft_support.hpp"
#include "rt_nonfinite.hpp"
#include "xcorr.hpp"

namespace audiomeas::test {
namespace {

class Xcorr : public ::testing::Test {
 protected:
  void SetUp() override { rt_InitInfAndNaN(8); }
};

// c[M - 1 + l] = sum_j x[j + l] y[j], in long double.
std::vector<long double> reference(const std::vector<real_T>& x, const std::vector<real_T>& y) {
  const int nx = static_cast<int>(x.size()), ny = static_cast<int>(y.size());
  const int M = std::max(nx, ny);
  std::vector<long double> c(static_cast<std::size_t>(2 * M - 1), 0.0L);
  for (int l = -(M - 1); l <= M - 1; ++l)
    for (int j = 0; j < ny; ++j)
      if (j + l >= 0 && j + l < nx) c[M - 1 + l] += static_cast<long double>(x[j + l]) * y[j];
  return c;
}

std::vector<real_T> correlate(const std::vector<real_T>& x, const std::vector<real_T>& y) {
  RealVec a(x), b(y), c(std::vector<real_T>(5, -123456.75));
  xcorr(a.get(), b.get(), c.get());
  return c.values();
}

TEST_F(Xcorr, MatchesDirectSumOnBothMethods) {
  // (nx, ny) pairs on the direct side, the transform side, and unequal both
  // ways round; (700, 513) also has lags without overlap on the transform
  // side, which must come out as rounding only.
  const int pairs[][2] = {{1, 1},     {3, 3},    {2, 5},    {5, 2},    {127, 127}, {128, 128},
                          {300, 300}, {300, 40}, {40, 300}, {1, 1000}, {1000, 1},  {700, 513}};
  for (const auto& p : pairs) {
    const auto x = randomSignal(p[0], static_cast<unsigned>(p[0] * 7 + 1));
    const auto y = randomSignal(p[1], static_cast<unsigned>(p[1] * 11 + 2));
    const auto c = correlate(x, y);
    const auto ref = reference(x, y);
    ASSERT_EQ(c.size(), ref.size()) << p[0] << "," << p[1];
    const bool viaFft = xcorrMethod(p[0], p[1]).useFft;
    for (std::size_t i = 0; i < c.size(); ++i) {
      EXPECT_NEAR(c[i], static_cast<double>(ref[i]), viaFft ? 1e-11 : 1e-13)
          << "nx=" << p[0] << " ny=" << p[1] << " i=" << i;
    }
  }
}

TEST_F(Xcorr, LagOrderAndExactDirectSums) {
  // nx = ny = 3 written out; lags without overlap are exact zeros.
  EXPECT_EQ(correlate({1, 2, 3}, {4, 5, 6}),
            (std::vector<real_T>{1 * 6, 1 * 5 + 2 * 6, 1 * 4 + 2 * 5 + 3 * 6, 2 * 4 + 3 * 5, 3 * 4}));
  EXPECT_EQ(correlate({7}, {-3}), (std::vector<real_T>{-21}));
  // x ahead of y: x = delayed-back copy shows the peak at a positive lag.
  const auto c = correlate({1, 2}, {3, 4, 5, 6, 7});
  ASSERT_EQ(c.size(), 9u);
  for (int i = 6; i < 9; ++i) EXPECT_EQ(bitsOf(c[i]), bitsOf(0.0)) << i;  // lags 2 .. 4
  EXPECT_EQ(c[4], 1 * 3 + 2 * 4);
  EXPECT_EQ(c[5], 2 * 3);
  EXPECT_EQ(c[0], 1 * 7);
}

TEST_F(Xcorr, MethodChoiceFlipsWhereTheTransformLengthJumps) {
  struct Case {
    int nx, ny;
    bool useFft;
    double P, T, F;
  };
  const Case cases[] = {
      {1, 1, false, 1, 1, 6},
      {2, 5, false, 16, 14, 1056},
      {1, 1000, false, 2048, 1000, 350208},
      {1000, 1, false, 2048, 1000, 350208},
      {127, 127, false, 256, 2 * 127 - 1 + 2.0 * 126 * 126, 126 * 256},
      {128, 128, true, 256, 32513, 32256},
      {129, 129, false, 512, 2 * 129 - 1 + 2.0 * 128 * 128, 141 * 512},
      {190, 190, false, 512, 2 * 190 - 1 + 2.0 * 189 * 189, 141 * 512},
      {191, 191, true, 512, 2 * 191 - 1 + 2.0 * 190 * 190, 141 * 512},
      {256, 256, true, 512, 2 * 256 - 1 + 2.0 * 255 * 255, 141 * 512},
      {257, 257, false, 1024, 2 * 257 - 1 + 2.0 * 256 * 256, 156 * 1024},
      {283, 283, false, 1024, 2 * 283 - 1 + 2.0 * 282 * 282, 156 * 1024},
      {284, 284, true, 1024, 2 * 284 - 1 + 2.0 * 283 * 283, 156 * 1024},
      {300, 40, false, 1024, 261 * 79 + 2.0 * 39 * 39, 156 * 1024},
  };
  for (const auto& c : cases) {
    const XcorrMethod m = xcorrMethod(c.nx, c.ny);
    EXPECT_EQ(m.useFft, c.useFft) << c.nx << "," << c.ny;
    EXPECT_EQ(m.fftLength, c.P) << c.nx << "," << c.ny;
    EXPECT_EQ(m.directCost, c.T) << c.nx << "," << c.ny;
    EXPECT_EQ(m.fftCost, c.F) << c.nx << "," << c.ny;
  }
}

TEST_F(Xcorr, NonFiniteSamplesSpreadAccordingToTheMethod) {
  // Direct: only lags whose sums include the NaN. Transform: every lag.
  auto x = randomSignal(5, 1), y = randomSignal(5, 2);
  x[0] = std::nan("");
  auto c = correlate(x, y);
  EXPECT_TRUE(std::isnan(c[4]));   // lag 0 pairs x[0] with y[0]
  EXPECT_FALSE(std::isnan(c[8]));  // lag 4: x[4] y[0] only
  auto xl = randomSignal(300, 1), yl = randomSignal(300, 2);
  xl[299] = std::nan("");
  for (double v : correlate(xl, yl)) EXPECT_TRUE(std::isnan(v));
}

TEST_F(Xcorr, InputsOutsideTheDesignGiveAnEmptyResult) {
  RealVec empty, c(std::vector<real_T>(3, -1.0));
  xcorr(empty.get(), empty.get(), c.get());
  EXPECT_EQ(c.length(), 0);

  // One empty input: the other's length sets the lags, all zero.
  EXPECT_EQ(correlate({}, {1, 2}), (std::vector<real_T>{0, 0, 0}));

  // A longest input above 2^29 samples: 2M - 1 is beyond the transform
  // engine. The claimed length is never read (the block holds one sample).
  RealVec liar({1.0}), one({2.0}), out(std::vector<real_T>(3, -1.0));
  liar.get()->size[0] = (1 << 29) + 1;
  xcorr(liar.get(), one.get(), out.get());
  EXPECT_EQ(out.length(), 0);
  liar.get()->size[0] = 1;
}

TEST_F(Xcorr, OutputMayBeAnInput) {
  for (int n : {5, 300}) {  // direct and transform
    const auto x = randomSignal(n, 5), y = randomSignal(n, 6);
    const auto expect = correlate(x, y);
    RealVec a(x), b(y);
    xcorr(a.get(), b.get(), a.get());
    EXPECT_EQ(a.values(), expect) << n;
  }
}

}  // namespace
}  // namespace audiomeas::test
