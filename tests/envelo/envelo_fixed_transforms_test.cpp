// The fixed-length (2^21) transforms and correlation: bit-identical to the
// variable-size forms at that length, tables identical to the variable
// form's, lags placed where a direct sum puts them. A second copy of the
// arithmetic that drifted (another butterfly order, another product order,
// a missing zero-fill) breaks the bit comparisons.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "fft.hpp"
#include "fft_detail.hpp"
#include "fft_support.hpp"
#include "fixed_transforms.hpp"
#include "rt_nonfinite.hpp"
#include "xcorr.hpp"

namespace audiomeas::test {
namespace {

using fixed::kFftLength;
using fixed::kLagCount;
using fixed::kSignalLength;
using fixed::kTableLength;

template <class T>
std::unique_ptr<T[]> filled(std::size_t n, T value) {
  std::unique_ptr<T[]> a(new T[n]);
  for (std::size_t i = 0; i < n; ++i) a[i] = value;
  return a;
}

bool sameBits(const void* a, const void* b, std::size_t bytes) { return std::memcmp(a, b, bytes) == 0; }

TEST(FixedForm, TablesEqualTheVariableFormsTables) {
  detail::Tables forward, inverse;
  ASSERT_TRUE(forward.build(kFftLength, detail::TableUse::kForward));
  ASSERT_TRUE(inverse.build(kFftLength, detail::TableUse::kInverse));
  auto cosT = filled<real_T>(kTableLength, -9.0), sinT = filled<real_T>(kTableLength, -9.0);
  fixed::generate_twiddle_tables(cosT.get(), sinT.get());
  EXPECT_TRUE(sameBits(cosT.get(), forward.costab.get()->data, sizeof(real_T) * kTableLength));
  EXPECT_TRUE(sameBits(sinT.get(), forward.sintab.get()->data, sizeof(real_T) * kTableLength));
  EXPECT_EQ(bitsOf(sinT[kTableLength - 1]), bitsOf(-0.0));
  fixed::b_generate_twiddle_tables(cosT.get(), sinT.get());
  EXPECT_TRUE(sameBits(cosT.get(), inverse.costab.get()->data, sizeof(real_T) * kTableLength));
  EXPECT_TRUE(sameBits(sinT.get(), inverse.sintabinv.get()->data, sizeof(real_T) * kTableLength));
  EXPECT_EQ(bitsOf(sinT[0]), bitsOf(0.0));
  EXPECT_EQ(bitsOf(sinT[kTableLength - 1]), bitsOf(0.0));
}

TEST(FixedForm, TransformsEqualTheVariableFormBitForBit) {
  const auto x = randomSignal(kSignalLength, 21);
  RealVec in(x);
  ComplexVec X, back;
  fft(in.get(), kFftLength, X.get());
  ASSERT_EQ(X.length(), kFftLength);

  // Sentinels: the fixed fft must zero-fill beyond the 720,000 samples.
  auto Y = filled<creal_T>(kFftLength, {-123456.75, -123456.75});
  fixed::fft(x.data(), Y.get());
  EXPECT_TRUE(sameBits(Y.get(), X.get()->data, sizeof(creal_T) * kFftLength));

  ifft(X.get(), back.get());
  ASSERT_EQ(back.length(), kFftLength);
  auto y = filled<creal_T>(kFftLength, {-123456.75, -123456.75});
  fixed::ifft(Y.get(), y.get());
  EXPECT_TRUE(sameBits(y.get(), back.get()->data, sizeof(creal_T) * kFftLength));

  // In place: the same bits.
  fixed::ifft(Y.get(), Y.get());
  EXPECT_TRUE(sameBits(Y.get(), y.get(), sizeof(creal_T) * kFftLength));
}

TEST(FixedForm, CorrelationPlacesLagsAndEqualsTheVariableForm) {
  rt_InitInfAndNaN(8);
  const auto x = randomSignal(kSignalLength, 1), y = randomSignal(kSignalLength, 2);
  auto c = filled<real_T>(kLagCount, -123456.75);
  fixed::xcorr(x.data(), y.data(), c.get());

  RealVec a(x), b(y), v;
  xcorr(a.get(), b.get(), v.get());
  ASSERT_EQ(v.length(), kLagCount);
  EXPECT_TRUE(sameBits(c.get(), v.get()->data, sizeof(real_T) * kLagCount));

  const int last = kSignalLength - 1;
  long double zeroLag = 0.0L;
  for (int j = 0; j < kSignalLength; ++j) zeroLag += static_cast<long double>(x[j]) * y[j];
  EXPECT_NEAR(c[last], static_cast<double>(zeroLag), 1e-8);
  EXPECT_NEAR(c[0], x[0] * y[last], 1e-8);
  EXPECT_NEAR(c[kLagCount - 1], x[last] * y[0], 1e-8);
}

TEST(FixedForm, CorrelationOfSparseSignalsMatchesADirectSum) {
  // A few impulses: every lag of the direct sum is known, most are exact 0.
  std::vector<real_T> x(kSignalLength, 0.0), y(kSignalLength, 0.0);
  const std::pair<int, double> xs[] = {{0, 1.5}, {1000, -2.0}, {359999, 0.25}, {719999, 3.0}};
  const std::pair<int, double> ys[] = {{0, 2.0}, {5, 1.0}, {480000, -0.5}, {719999, 4.0}};
  std::vector<long double> ref(kLagCount, 0.0L);
  for (const auto& [i, a] : xs) {
    x[i] = a;
    for (const auto& [j, b] : ys) ref[static_cast<std::size_t>(kSignalLength - 1 + i - j)] += a * b;
  }
  for (const auto& [j, b] : ys) y[j] = b;
  auto c = filled<real_T>(kLagCount, -123456.75);
  fixed::xcorr(x.data(), y.data(), c.get());
  for (int i = 0; i < kLagCount; ++i) {
    ASSERT_NEAR(c[i], static_cast<double>(ref[i]), 1e-12) << "i=" << i;
  }
}

}  // namespace
}  // namespace audiomeas::test
