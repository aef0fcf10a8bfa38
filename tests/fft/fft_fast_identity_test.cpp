// The fast transforms and correlations against the plain algorithm
// (reference_fft.cpp), memcmp over whole outputs, with each kernel set: the
// portable one, AVX2 and AVX-512 (each skipped, and said so, where the
// processor or the build lacks it). The signals mix ordinary values with +0, -0,
// subnormals and exact powers of two, where a changed operand order, a
// fused multiply-add, a multiply by a twiddle of (1, 0) in place of the
// twiddle-free butterfly, a sign taken from the wrong end of the quarter
// wave or a lost zero-fill would show as a differing bit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
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

using detail::fast::KernelSet;

// Runs every test once with each kernel set.
class FastIdentity : public ::testing::TestWithParam<KernelSet> {
 protected:
  void SetUp() override {
    rt_InitInfAndNaN(8);
    if (!detail::fast::kernelSetAvailable(GetParam())) {
      GTEST_SKIP() << "no " << detail::fast::kernelSetName(GetParam())
                   << " kernels here (processor or build): not checked";
    }
    detail::fast::forceKernels(GetParam());
    ASSERT_EQ(detail::fast::activeKernelSet(), GetParam());
  }
  void TearDown() override { detail::fast::forgetForcedKernels(); }
};

// Every fast length up to 2^20 (synkro's correlation of 10 s): one block,
// two to 512 rows of pass 2, odd and even numbers of stages in either pass
// (which run in pairs). The input lengths also truncate and pad.
TEST_P(FastIdentity, VariableForwardAndInverse) {
  for (int L = detail::fast::kMinLength; L <= 1 << 20; L *= 2) {
    // Above 2^16 only the padded and the truncated input: the oracle's time.
    for (int nx : {L / 2 + 3, L + 5, L, 1}) {
      if (L > 1 << 16 && (nx == L || nx == 1)) continue;
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

// The lengths a long recording reaches up to the longest kept plan (2^23,
// 60 s at 48 kHz): pass 2 at its most rows, then longer pass-1 blocks,
// fewer of them loaded together.
// Under AddressSanitizer the longest cases check memory only: the plain
// oracle takes minutes there, and the native run checks the bits.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kCompareLongBits = false;
#else
constexpr bool kCompareLongBits = true;
#endif

// Runs check once with each kernel set the processor has, the oracle being
// computed once by the caller; the sets it lacks are named in a skip.
template <class Check>
void forEachKernelSet(const Check& check) {
  std::string missing;
  for (KernelSet set : detail::fast::kKernelSets) {
    if (!detail::fast::kernelSetAvailable(set)) {
      missing += std::string(" ") + detail::fast::kernelSetName(set);
      continue;
    }
    SCOPED_TRACE(detail::fast::kernelSetName(set));
    detail::fast::forceKernels(set);
    check();
  }
  detail::fast::forgetForcedKernels();
  if (!missing.empty()) GTEST_SKIP() << "the other sets passed; not checked, lacking here:" << missing;
}

TEST(FastIdentityLong, Transforms) {
  rt_InitInfAndNaN(8);
  for (int L : {1 << 21, 1 << 22, 1 << 23}) {
    const int nx = L / 2 + L / 4 - 3;
    const auto x = awkwardSignal(nx, static_cast<unsigned>(nx));
    const auto z = awkwardComplex(L, static_cast<unsigned>(L));
    std::vector<creal_T> forward, inverse;
    if (kCompareLongBits) forward = plain::forward(x.data(), nx, L), inverse = plain::inverse(z.data(), L);
    forEachKernelSet([&] {
      RealVec in(x);
      ComplexVec y;
      fft(in.get(), L, y.get());
      ASSERT_EQ(y.length(), L);
      if (kCompareLongBits) {
        EXPECT_TRUE(sameBits(forward, y.get()->data, y.length())) << "fft L=" << L;
      }
      ComplexVec zin(z), out;
      ifft(zin.get(), out.get());
      ASSERT_EQ(out.length(), L);
      if (kCompareLongBits) {
        EXPECT_TRUE(sameBits(inverse, out.get()->data, out.length())) << "ifft L=" << L;
      }
      ifft(zin.get(), zin.get());
      EXPECT_TRUE(
          sameBits(std::vector<creal_T>(out.get()->data, out.get()->data + L), zin.get()->data, zin.length()))
          << "in-place ifft L=" << L;
    });
  }
}

// Beyond the kept plans (10 minutes at 48 kHz correlate at 2^26): blocks
// that fill half of L2 (2^24) or outgrow it (2^25), loaded eight at a time,
// the larger taking their first stages by sub-blocks.
TEST(FastIdentityLong, BlocksBeyondTheCache) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "minutes under AddressSanitizer; the native run checks the bits";
#endif
  rt_InitInfAndNaN(8);
  for (int L : {1 << 24, 1 << 25}) {
    const int nx = L / 2 + L / 4 - 3;
    const auto x = awkwardSignal(nx, static_cast<unsigned>(nx));
    const auto forward = plain::forward(x.data(), nx, L);
    const auto z = awkwardComplex(L, static_cast<unsigned>(L));
    const auto inverse = plain::inverse(z.data(), L);
    forEachKernelSet([&] {
      RealVec in(x);
      ComplexVec y;
      fft(in.get(), L, y.get());
      EXPECT_TRUE(sameBits(forward, y.get()->data, y.length())) << "fft L=" << L;
      ComplexVec zin(z);
      ifft(zin.get(), zin.get());
      EXPECT_TRUE(sameBits(inverse, zin.get()->data, zin.length())) << "in-place ifft L=" << L;
    });
  }
}

TEST_P(FastIdentity, VariableCorrelationAtPowersOfTwo) {
  // (nx, ny): equal, unequal both ways, and the transform lengths 1024 ..
  // 2^18 that the method choice gives these sizes.
  const std::pair<int, int> sizes[] = {{300, 300},      {700, 513},     {513, 2000},     {5000, 4999},
                                       {100000, 40000}, {70000, 70000}, {480000, 480000}};
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

TEST(FastIdentityLong, FixedTransformsAndCorrelation) {
  using fixed::kFftLength;
  using fixed::kLagCount;
  using fixed::kSignalLength;
  rt_InitInfAndNaN(8);
  const auto x = awkwardSignal(kSignalLength, 5), y = awkwardSignal(kSignalLength, 6);
  const auto z = awkwardComplex(kFftLength, 8);
  constexpr int kShifts[] = {1234, -56789};
  // The oracles, once for all kernel sets.
  std::vector<creal_T> forward, inverse;
  std::vector<std::vector<real_T>> lags;  // unmoved, then each shift
  if (kCompareLongBits) {
    forward = plain::forward(x.data(), kSignalLength, kFftLength);
    inverse = plain::inverse(z.data(), kFftLength);
    lags.push_back(plain::correlate(x.data(), kSignalLength, y.data(), kSignalLength, kFftLength, false));
    for (int shift : kShifts) {
      std::vector<real_T> moved(kSignalLength, 0.0);
      for (int n = 0; n < kSignalLength; ++n) {
        if (n - shift >= 0 && n - shift < kSignalLength) moved[n] = y[n - shift];
      }
      lags.push_back(
          plain::correlate(x.data(), kSignalLength, moved.data(), kSignalLength, kFftLength, false));
    }
  }

  forEachKernelSet([&] {
    // Sentinels everywhere: a short write-back shows as a difference.
    std::unique_ptr<creal_T[]> X(new creal_T[kFftLength]);
    std::fill_n(X.get(), kFftLength, creal_T{-123456.75, 99.0});
    fixed::fft(x.data(), X.get());
    if (kCompareLongBits) {
      EXPECT_TRUE(sameBits(forward, X.get(), kFftLength));
    }

    std::unique_ptr<creal_T[]> out(new creal_T[kFftLength]);
    std::fill_n(out.get(), kFftLength, creal_T{-123456.75, 99.0});
    fixed::ifft(z.data(), out.get());
    std::vector<creal_T> separate(out.get(), out.get() + kFftLength);
    std::copy(z.begin(), z.end(), out.get());
    fixed::ifft(out.get(), out.get());
    EXPECT_TRUE(sameBits(separate, out.get(), kFftLength));  // in place as into another block
    if (kCompareLongBits) {
      EXPECT_TRUE(sameBits(inverse, out.get(), kFftLength));
    }

    std::vector<real_T> c(kLagCount, -123456.75);
    fixed::xcorr(x.data(), y.data(), c.data());
    EXPECT_TRUE(sameBits(c, fixed::correlation(x.data(), y.data(), 0), kLagCount));
    if (kCompareLongBits) {
      EXPECT_TRUE(sameBits(lags[0], c.data(), kLagCount));
    }

    // Moved y: the same bits as correlating against a moved copy.
    for (std::size_t i = 0; i < std::size(kShifts); ++i) {
      const real_T* got = fixed::correlation(x.data(), y.data(), kShifts[i]);
      if (kCompareLongBits) {
        EXPECT_TRUE(sameBits(lags[i + 1], got, kLagCount)) << "shift " << kShifts[i];
      }
    }
  });
}
INSTANTIATE_TEST_SUITE_P(Kernels, FastIdentity, ::testing::ValuesIn(detail::fast::kKernelSets),
                         [](const auto& info) { return detail::fast::kernelSetName(info.param); });

// Forcing a set overrides the choice at start until forgotten; that choice
// is the set the environment names where it can run, else the best one
// (ctest runs this once more with the environment naming each set).
TEST(KernelChoice, ForcedThenEnvironmentThenBest) {
  using namespace detail::fast;
  const KernelSet atStart = activeKernelSet();
  for (KernelSet set : kKernelSets) {
    forceKernels(set);
    EXPECT_EQ(activeKernelSet(), kernelSetAvailable(set) ? set : atStart) << kernelSetName(set);
    forgetForcedKernels();
    EXPECT_EQ(activeKernelSet(), atStart);
  }
  KernelSet best = KernelSet::kPortable, named = KernelSet::kPortable;
  bool nameRuns = false;
  const char* wanted = std::getenv(kKernelEnvironmentVariable);
  for (KernelSet set : kKernelSets) {
    if (!kernelSetAvailable(set)) continue;
    best = set;
    if (wanted != nullptr && std::strcmp(wanted, kernelSetName(set)) == 0) named = set, nameRuns = true;
  }
  EXPECT_EQ(atStart, nameRuns ? named : best) << (wanted != nullptr ? wanted : "(no environment)");
}

}  // namespace
}  // namespace audiomeas::test
