// The transforms against a plain long-double DFT, on every length from 1 to
// 64 (radix-2 and Bluestein), and inverse-of-forward round trips. A wrong
// twiddle, a misplaced butterfly, a wrong chirp sign or a missing scale shows
// up as an error far above rounding.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "fft.hpp"
#include "fft_support.hpp"

namespace audiomeas::test {
namespace {

// Largest error relative to the largest reference magnitude.
double relativeError(const ComplexVec& y, const std::vector<LongComplex>& ref, long double scale) {
  long double peak = 1e-300L, err = 0.0L;
  for (std::size_t k = 0; k < ref.size(); ++k) {
    const long double re = ref[k].re * scale, im = ref[k].im * scale;
    peak = std::max(peak, std::hypot(re, im));
    err = std::max(err, std::hypot(y[static_cast<int32_T>(k)].re - re, y[static_cast<int32_T>(k)].im - im));
  }
  return static_cast<double>(err / peak);
}

TEST(FftAccuracy, ForwardMatchesDftForEveryLengthUpTo64) {
  for (int n = 1; n <= 64; ++n) {
    // Longer, shorter and equal inputs: truncation and zero-padding.
    for (int nx : {n, n / 2 + 1, n + 3}) {
      const auto x = randomSignal(nx, static_cast<unsigned>(100 * n + nx));
      RealVec in(x);
      ComplexVec y;
      fft(in.get(), n, y.get());
      ASSERT_EQ(y.length(), n);
      EXPECT_LT(relativeError(y, dft(widened(x), n, -1), 1.0L), 1e-14) << "n=" << n << " nx=" << nx;
    }
  }
}

TEST(FftAccuracy, InverseMatchesScaledDftForEveryLengthUpTo64) {
  for (int n = 1; n <= 64; ++n) {
    const auto re = randomSignal(n, static_cast<unsigned>(n));
    const auto im = randomSignal(n, static_cast<unsigned>(n + 1000));
    std::vector<creal_T> z;
    for (int k = 0; k < n; ++k) z.push_back({re[k], im[k]});
    ComplexVec in(z);
    ComplexVec y;
    ifft(in.get(), y.get());
    ASSERT_EQ(y.length(), n);
    EXPECT_LT(relativeError(y, dft(z, n, +1), 1.0L / n), 1e-14) << "n=" << n;
  }
}

TEST(FftAccuracy, InverseOfForwardRestoresTheSignal) {
  // Includes a length whose Bluestein size is well above 2n - 1 and a large
  // power of two.
  for (int n : {1, 2, 3, 7, 8, 100, 127, 129, 1000, 1024, 4096}) {
    for (int nx : {n, n - n / 3}) {
      const auto x = randomSignal(nx, static_cast<unsigned>(n));
      RealVec in(x);
      ComplexVec X, back;
      fft(in.get(), n, X.get());
      ifft(X.get(), back.get());
      ASSERT_EQ(back.length(), n);
      for (int k = 0; k < n; ++k) {
        const double expect = k < nx ? x[k] : 0.0;
        EXPECT_NEAR(back[k].re, expect, 1e-13) << "n=" << n << " k=" << k;
        EXPECT_NEAR(back[k].im, 0.0, 1e-13) << "n=" << n << " k=" << k;
      }
    }
  }
}

}  // namespace
}  // namespace audiomeas::test
