// Transform results that are exact or fixed bit for bit: tiny transforms,
// truncation and padding, the size search, the chirp and table entries whose
// zero sign the construction fixes, scaling of tiny outputs, unusable
// lengths, and a transform whose input is its output.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fft.hpp"
#include "fft_detail.hpp"
#include "fft_support.hpp"

namespace audiomeas::test {
namespace {

const creal_T kSentinelPair = {-123456.75, -123456.75};

std::vector<creal_T> sentinels(int n) {
  return std::vector<creal_T>(static_cast<std::size_t>(n), kSentinelPair);
}

void expectBitsEqual(const ComplexVec& a, const ComplexVec& b) {
  ASSERT_EQ(a.length(), b.length());
  for (int32_T k = 0; k < a.length(); ++k) {
    EXPECT_EQ(bitsOf(a[k].re), bitsOf(b[k].re)) << "k=" << k;
    EXPECT_EQ(bitsOf(a[k].im), bitsOf(b[k].im)) << "k=" << k;
  }
}

TEST(FftExact, TinyTransforms) {
  struct Case {
    std::vector<real_T> x;
    real_T n;
    std::vector<creal_T> y;
  };
  const Case cases[] = {
      {{}, 4, {{0, 0}, {0, 0}, {0, 0}, {0, 0}}},  // empty input, zero-filled
      {{5, 6}, 0, {}},                            // n = 0: empty
      {{5, 6}, 1, {{5, 0}}},
      {{5, 6}, 2, {{11, 0}, {-1, 0}}},
      {{0, 1, 0, 0}, 4, {{1, 0}, {0, -1}, {-1, 0}, {0, 1}}},
      {{2}, 3, {{2, 0}, {2, 0}, {2, 0}}},  // Bluestein on an impulse
  };
  for (const auto& c : cases) {
    RealVec x(c.x);
    ComplexVec y(sentinels(6));  // a short loop leaves sentinels behind
    fft(x.get(), c.n, y.get());
    ASSERT_EQ(y.length(), static_cast<int32_T>(c.y.size())) << "n=" << c.n;
    for (int32_T k = 0; k < y.length(); ++k) {
      EXPECT_NEAR(y[k].re, c.y[k].re, 1e-15) << "n=" << c.n << " k=" << k;
      EXPECT_NEAR(y[k].im, c.y[k].im, 1e-15) << "n=" << c.n << " k=" << k;
    }
  }
}

TEST(FftExact, InputAndLengthAreTruncatedOrPadded) {
  const auto x = randomSignal(10, 7);
  for (int n : {8, 6}) {  // radix-2 and Bluestein
    RealVec longer(x), head({x.begin(), x.begin() + n});
    ComplexVec a, b;
    fft(longer.get(), n, a.get());
    fft(head.get(), n, b.get());
    expectBitsEqual(a, b);
  }
  {  // a fractional length is truncated toward zero
    RealVec in(x);
    ComplexVec a, b;
    fft(in.get(), 4.9, a.get());
    fft(in.get(), 4.0, b.get());
    expectBitsEqual(a, b);
  }
  for (int n : {8, 7}) {
    std::vector<real_T> padded(x.begin(), x.begin() + 3);
    RealVec shortIn(padded);
    padded.resize(static_cast<std::size_t>(n), 0.0);
    RealVec fullIn(padded);
    ComplexVec a(sentinels(n)), b;
    fft(shortIn.get(), n, a.get());
    fft(fullIn.get(), n, b.get());
    expectBitsEqual(a, b);
  }
}

TEST(FftExact, AlgoSizes) {
  struct Case {
    int32_T n;
    bool radix2;
    int32_T n2blue, nRows;
  };
  const Case cases[] = {
      {8, true, 1, 8},
      {1, true, 1, 1},
      {3, false, 8, 8},
      {5, false, 16, 16},
      {6, false, 16, 16},
      {9, false, 32, 32},
      {1, false, 1, 1},
      {0, false, 1, 1},
      {-4, false, 1, 1},
      {1 << 29, false, 1 << 30, 1 << 30},  // 2n - 1 just below 2^30: still served
      {(1 << 29) + 1, false, 0, 0},        // beyond: no size
      {std::numeric_limits<int32_T>::max(), false, 0, 0},
  };
  for (const auto& c : cases) {
    int32_T n2blue = -7, nRows = -7;
    get_algo_sizes(c.n, c.radix2, &n2blue, &nRows);
    EXPECT_EQ(n2blue, c.n2blue) << "n=" << c.n;
    EXPECT_EQ(nRows, c.nRows) << "n=" << c.n;
  }
}

TEST(FftExact, ChirpHasExactUnitsWhereTheResidueIsZero) {
  // n = 9: k = 6 gives 36 mod 18 = 0, so w[2] and w[14] are (1, -0.0) in both
  // directions; the centre stays (1, +0.0).
  for (bool inverse : {false, true}) {
    std::vector<creal_T> w(17, kSentinelPair);
    detail::bluesteinChirp(9, inverse, w.data());
    for (int i : {2, 14}) {
      EXPECT_EQ(bitsOf(w[i].re), bitsOf(1.0));
      EXPECT_EQ(bitsOf(w[i].im), bitsOf(-0.0));
    }
    EXPECT_EQ(bitsOf(w[8].im), bitsOf(0.0));
    // Elsewhere exp(+-i pi k^2/9), symmetric about the centre.
    for (int k = 1; k < 9; ++k) {
      const double a = (inverse ? -1.0 : 1.0) * M_PI * (k * k % 18) / 9.0;
      EXPECT_NEAR(w[8 - k].re, std::cos(a), 1e-15);
      EXPECT_NEAR(w[8 - k].im, std::sin(a), 1e-15);
      EXPECT_EQ(bitsOf(w[8 + k].re), bitsOf(w[8 - k].re));
      EXPECT_EQ(bitsOf(w[8 + k].im), bitsOf(w[8 - k].im));
    }
  }
}

TEST(FftExact, TablesFoldTheQuarterWaveWithSignedZeros) {
  for (int32_T N = 1; N <= 4096; N *= 2) {
    const int32_T q = N / 4, h = 2 * q;
    std::vector<real_T> quarter(static_cast<std::size_t>(detail::quarterWaveCount(N)), -9.0);
    std::vector<real_T> cosT(static_cast<std::size_t>(detail::halfWaveCount(N)), -9.0);
    std::vector<real_T> sinF(cosT), sinI(cosT);
    detail::quarterWaveTable(N, quarter.data());
    detail::cosineTable(N, quarter.data(), cosT.data());
    detail::sineTable(N, quarter.data(), false, sinF.data());
    detail::sineTable(N, quarter.data(), true, sinI.data());
    EXPECT_EQ(sinF[0], -9.0) << "entry 0 is the caller's";
    EXPECT_EQ(bitsOf(quarter[q]), bitsOf(0.0)) << "N=" << N << ": written last";
    for (int32_T k = 1; k <= h; ++k) {
      EXPECT_NEAR(cosT[k], std::cos(2 * M_PI * k / N), 1e-15) << "N=" << N << " k=" << k;
      EXPECT_NEAR(sinF[k], -std::sin(2 * M_PI * k / N), 1e-15) << "N=" << N << " k=" << k;
      EXPECT_EQ(bitsOf(sinI[k]), bitsOf(-sinF[k])) << "N=" << N << " k=" << k;
    }
    if (N >= 4) {
      EXPECT_EQ(bitsOf(cosT[q]), bitsOf(0.0)) << N;   // copied
      EXPECT_EQ(bitsOf(sinF[h]), bitsOf(-0.0)) << N;  // negated
      EXPECT_EQ(bitsOf(sinI[h]), bitsOf(0.0)) << N;
      EXPECT_EQ(bitsOf(cosT[h]), bitsOf(-1.0)) << N;
    }
  }
}

TEST(FftExact, InverseOfOneElementIsNotScaled) {
  ComplexVec x({{3.0, 4.0}}), y;
  detail::EmxTemp<emxBuffer_real_T> cosT(2), sinT(2);
  r2br_r2dit_trig(x.get(), 1, cosT.get(), sinT.get(), y.get());
  ASSERT_EQ(y.length(), 1);
  EXPECT_EQ(y[0].re, 3.0);
  EXPECT_EQ(y[0].im, 4.0);
  ComplexVec two({{3.0, 4.0}, {1.0, 0.0}});
  detail::Tables t;
  ASSERT_TRUE(t.build(2, detail::TableUse::kInverse));
  r2br_r2dit_trig(two.get(), 2, t.costab.get(), t.sintabinv.get(), y.get());
  ASSERT_EQ(y.length(), 2);
  EXPECT_EQ(y[0].re, 2.0);
  EXPECT_EQ(y[1].im, 2.0);
}

TEST(FftExact, UnusableLengthsGiveEmptyOutputs) {
  RealVec x({1, 2, 3});
  const real_T lengths[] = {-1.0,
                            -1e300,
                            std::numeric_limits<real_T>::quiet_NaN(),
                            -std::numeric_limits<real_T>::infinity(),
                            std::numeric_limits<real_T>::infinity(),
                            2147483648.0,
                            1e12,
                            static_cast<real_T>((1 << 29) + 1),  // Bluestein size beyond 2^30
                            0.5};
  for (real_T n : lengths) {
    ComplexVec y(sentinels(3));
    fft(x.get(), n, y.get());  // UBSan would flag a float-to-int overflow
    EXPECT_EQ(y.length(), 0) << n;
  }
  // The size check comes before any allocation: a claimed length the engine
  // cannot serve is never read.
  ComplexVec big;
  big.get()->size[0] = (1 << 29) + 3;
  ComplexVec y(sentinels(3));
  ifft(big.get(), y.get());
  EXPECT_EQ(y.length(), 0);
  big.get()->size[0] = 0;

  ComplexVec empty, out(sentinels(2));
  ifft(empty.get(), out.get());
  EXPECT_EQ(out.length(), 0);

  // The radix-2 core only takes powers of two with tables long enough.
  detail::Tables t;
  ASSERT_TRUE(t.build(8, detail::TableUse::kForward));
  ComplexVec in({{1, 0}, {2, 0}, {3, 0}});
  for (int32_T L : {3, 6, -8, 16}) {
    ComplexVec o(sentinels(2));
    r2br_r2dit_trig_impl(in.get(), L, t.costab.get(), t.sintab.get(), o.get());
    EXPECT_EQ(o.length(), 0) << L;
  }
}

TEST(FftExact, OutputMayBeTheInput) {
  for (int n : {8, 12}) {  // radix-2 and Bluestein
    std::vector<creal_T> z;
    for (int k = 0; k < n; ++k) z.push_back({k + 1.0, 0.5 * k});
    ComplexVec separate(z), out, inPlace(z);
    ifft(separate.get(), out.get());
    ifft(inPlace.get(), inPlace.get());
    expectBitsEqual(out, inPlace);
  }
  detail::Tables t;
  ASSERT_TRUE(t.build(8, detail::TableUse::kForward));
  std::vector<creal_T> z{{1, 2}, {3, 4}, {5, 6}};
  ComplexVec separate(z), out, inPlace(z);
  r2br_r2dit_trig_impl(separate.get(), 8, t.costab.get(), t.sintab.get(), out.get());
  r2br_r2dit_trig_impl(inPlace.get(), 8, t.costab.get(), t.sintab.get(), inPlace.get());
  expectBitsEqual(out, inPlace);
}

}  // namespace
}  // namespace audiomeas::test
