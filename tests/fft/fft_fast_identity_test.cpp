// The fast transforms and correlations against the plain algorithm
// (reference_fft.cpp), memcmp over whole outputs, with the AVX2 kernels and
// with the portable ones. The signals mix ordinary values with +0, -0,
// subnormals and exact powers of two, where a changed operand order, a
// fused multiply-add, a multiply by a twiddle of (1, 0) in place of the
// twiddle-free butterfly, a sign taken from the wrong end of the quarter
// wave or a lost zero-fill would show as a differing bit.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "fft.hpp"
#include "fft_fast.hpp"
#include "fft_support.hpp"
#include "fixed_transforms.hpp"
#include "reference_fft.hpp"
#include "rt_nonfinite.hpp"
#include "xcorr.hpp"

namespace audiomeas::test {
namespace {

std::vector<real_T> awkwardSignal(int n, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<real_T> u(-1.0, 1.0);
  std::uniform_int_distribution<int> kind(0, 9);
  const real_T tiny = std::numeric_limits<real_T>::denorm_min();
  std::vector<real_T> v(static_cast<std::size_t>(n));
  for (auto& s : v) {
    switch (kind(gen)) {
      case 0:
        s = 0.0;
        break;
      case 1:
        s = -0.0;
        break;
      case 2:
        s = tiny * static_cast<real_T>(1 + (gen() & 1023)) * (gen() & 1 ? 1.0 : -1.0);
        break;
      case 3:
        s = static_cast<real_T>(1 << (gen() & 15));
        break;
      default:
        s = u(gen) * 32767.0;
    }
  }
  return v;
}

std::vector<creal_T> awkwardComplex(int n, unsigned seed) {
  const auto re = awkwardSignal(n, seed), im = awkwardSignal(n, seed + 1000);
  std::vector<creal_T> z(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) z[i] = {re[i], im[i]};
  return z;
}

template <class T>
::testing::AssertionResult sameBits(const std::vector<T>& want, const T* got, std::size_t n) {
  if (want.size() != n) return ::testing::AssertionFailure() << "length " << n << ", want " << want.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (std::memcmp(&want[i], &got[i], sizeof(T)) != 0)
      return ::testing::AssertionFailure() << "first difference at " << i;
  }
  return ::testing::AssertionSuccess();
}

// Runs every test once with the AVX2 kernels (where the processor has them)
// and once with the portable ones.
class FastIdentity : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    rt_InitInfAndNaN(8);
    detail::fast::forcePortable(GetParam());
  }
  void TearDown() override { detail::fast::forcePortable(false); }
};

// 64 is the shortest fast length, 8192 one pass-1 block, 16384 two rows of
// pass 2, 2^17 and 2^18 an even and an odd number of pass-2 stages (which
// run in pairs); 128 an odd number of pass-1 stages. The input lengths also
// truncate and pad.
TEST_P(FastIdentity, VariableForwardAndInverse) {
  for (int L : {64, 128, 8192, 16384, 1 << 17, 1 << 18}) {
    for (int nx : {L, L / 2 + 3, L + 5, 1}) {
      const auto x = awkwardSignal(nx, static_cast<unsigned>(L + nx));
      RealVec in(x);
      ComplexVec y(std::vector<creal_T>(3, {-7.0, -7.0}));
      fft(in.get(), L, y.get());
      EXPECT_TRUE(sameBits(plain::forward(x.data(), nx, L), y.get()->data, y.length()))
          << "fft L=" << L << " nx=" << nx;
    }
    const auto z = awkwardComplex(L, static_cast<unsigned>(L));
    const auto want = plain::inverse(z.data(), L);
    ComplexVec in(z), out;
    ifft(in.get(), out.get());
    EXPECT_TRUE(sameBits(want, out.get()->data, out.length())) << "ifft L=" << L;
    ifft(in.get(), in.get());  // in place
    EXPECT_TRUE(sameBits(want, in.get()->data, in.length())) << "in-place ifft L=" << L;
  }
}

// From 2^23 on the pass-1 blocks grow beyond 8192 elements and fewer of
// them are loaded together; 2^23 is also the longest kept plan.
// Under AddressSanitizer the longest cases check memory only: the plain
// oracle takes minutes there, and the native run checks the bits.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kCompareLongBits = false;
#else
constexpr bool kCompareLongBits = true;
#endif

TEST_P(FastIdentity, LongTransform) {
  if (GetParam()) GTEST_SKIP() << "the portable kernels run the same schedule; the shorter lengths cover it";
  const int L = 1 << 23, nx = 3 << 20;
  const auto x = awkwardSignal(nx, 23);
  RealVec in(x);
  ComplexVec y;
  fft(in.get(), L, y.get());
  ASSERT_EQ(y.length(), L);
  if (kCompareLongBits) {
    EXPECT_TRUE(sameBits(plain::forward(x.data(), nx, L), y.get()->data, y.length()));
  }
}

TEST_P(FastIdentity, VariableCorrelationAtPowersOfTwo) {
  // (nx, ny): equal, unequal both ways, and the transform lengths 1024 ..
  // 2^18 that the method choice gives these sizes.
  const std::pair<int, int> sizes[] = {{300, 300},   {700, 513},      {513, 2000},
                                       {5000, 4999}, {100000, 40000}, {70000, 70000}};
  for (const auto& [nx, ny] : sizes) {
    const auto x = awkwardSignal(nx, static_cast<unsigned>(nx)),
               y = awkwardSignal(ny, static_cast<unsigned>(ny + 7));
    const XcorrMethod m = xcorrMethod(nx, ny);
    ASSERT_TRUE(m.useFft) << nx << "," << ny;
    RealVec a(x), b(y), c;
    xcorr(a.get(), b.get(), c.get());
    const auto want = plain::correlate(x.data(), nx, y.data(), ny, static_cast<int>(m.fftLength), true);
    EXPECT_TRUE(sameBits(want, c.get()->data, c.length())) << nx << "," << ny;
  }
}

TEST_P(FastIdentity, LongCorrelationSharesItsResultBlock) {
  // From the shared-block length on, xcorr's lags live in its second work
  // array: the bits must be those of separate blocks, with the block kept.
  if (GetParam()) GTEST_SKIP() << "the kernels are checked at shorter lengths";
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "minutes under AddressSanitizer; the native run checks the bits";
#endif
  const int nx = kSharedBlockLength / 2 + 1, ny = kSharedBlockLength / 2 - 7;
  const auto x = awkwardSignal(nx, 31), y = awkwardSignal(ny, 32);
  const XcorrMethod m = xcorrMethod(nx, ny);
  const auto P = static_cast<int>(m.fftLength);
  ASSERT_TRUE(m.useFft);
  ASSERT_GE(P, kSharedBlockLength);
  const int maxlag = nx - 1;
  std::vector<real_T> a(2 * static_cast<std::size_t>(P)), b(a.size()),
      want(2 * static_cast<std::size_t>(maxlag) + 1);
  detail::fastCorrelation(x.data(), nx, y.data(), ny, 0, P, maxlag, true, a.data(), b.data(), want.data());
  RealVec xa(x), ya(y), c;
  xcorr(xa.get(), ya.get(), c.get());
  EXPECT_TRUE(sameBits(want, c.get()->data, c.length()));
  EXPECT_GE(c.get()->capacity, 2 * P);
}

TEST_P(FastIdentity, FixedTransformsAndCorrelation) {
  if (GetParam()) GTEST_SKIP() << "the portable kernels run the same schedule; the shorter lengths cover it";
  using fixed::kFftLength;
  using fixed::kLagCount;
  using fixed::kSignalLength;
  const auto x = awkwardSignal(kSignalLength, 5), y = awkwardSignal(kSignalLength, 6);

  // Sentinels everywhere: a short write-back shows as a difference.
  std::unique_ptr<creal_T[]> X(new creal_T[kFftLength]);
  std::fill_n(X.get(), kFftLength, creal_T{-123456.75, 99.0});
  fixed::fft(x.data(), X.get());
  if (kCompareLongBits) {
    EXPECT_TRUE(sameBits(plain::forward(x.data(), kSignalLength, kFftLength), X.get(), kFftLength));
  }

  const auto z = awkwardComplex(kFftLength, 8);
  std::unique_ptr<creal_T[]> out(new creal_T[kFftLength]);
  std::fill_n(out.get(), kFftLength, creal_T{-123456.75, 99.0});
  fixed::ifft(z.data(), out.get());
  std::vector<creal_T> separate(out.get(), out.get() + kFftLength);
  std::copy(z.begin(), z.end(), out.get());
  fixed::ifft(out.get(), out.get());
  EXPECT_TRUE(sameBits(separate, out.get(), kFftLength));  // in place as into another block
  if (kCompareLongBits) {
    EXPECT_TRUE(sameBits(plain::inverse(z.data(), kFftLength), out.get(), kFftLength));
  }

  std::vector<real_T> c(kLagCount, -123456.75);
  fixed::xcorr(x.data(), y.data(), c.data());
  EXPECT_TRUE(sameBits(c, fixed::correlation(x.data(), y.data(), 0), kLagCount));
  if (kCompareLongBits) {
    const auto lags = plain::correlate(x.data(), kSignalLength, y.data(), kSignalLength, kFftLength, false);
    EXPECT_TRUE(sameBits(lags, c.data(), kLagCount));
  }

  // Moved y: the same bits as correlating against a moved copy.
  for (int shift : {1234, -56789}) {
    std::vector<real_T> moved(kSignalLength, 0.0);
    for (int n = 0; n < kSignalLength; ++n) {
      if (n - shift >= 0 && n - shift < kSignalLength) moved[n] = y[n - shift];
    }
    const real_T* got = fixed::correlation(x.data(), y.data(), shift);
    if (!kCompareLongBits) continue;
    const auto want =
        plain::correlate(x.data(), kSignalLength, moved.data(), kSignalLength, kFftLength, false);
    EXPECT_TRUE(sameBits(want, got, kLagCount)) << "shift " << shift;
  }
}

INSTANTIATE_TEST_SUITE_P(Kernels, FastIdentity, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Portable" : "Native"; });

}  // namespace
}  // namespace audiomeas::test
