// envelo's fixed-length transforms and correlation: the runtime's fast
// engine at 2^21 on static storage, so that a call allocates nothing.
#include "fixed_transforms.hpp"

#include "fft_detail.hpp"
#include "fft_fast.hpp"
#include "xcorr.hpp"

namespace audiomeas::fixed {

namespace {
// The table builders' quarter waves, rebuilt on every call. The transforms
// themselves read the process-wide plan of 2^21 (the same bits).
real_T forwardCostab1q[kTableLength / 2 + 1];
real_T inverseCostab1q[kTableLength / 2 + 1];

// The two work arrays, overwritten completely by every call: the spectrum
// of x, then the inverse transform; the cross-spectrum, then (for
// correlation()) the lags.
real_T dcv0[2 * kFftLength];
real_T dcv2[2 * kFftLength];
constexpr int32_T kMaxLag = kSignalLength - 1;
}  // namespace

static_assert(kFftLength == 1 << 21 && kLagCount == 2 * kSignalLength - 1);
static_assert(6.283185307179586 / kFftLength == 2.996056226339143e-06, "angle step of the fixed tables");
static_assert(detail::halfWaveCount(kFftLength) == kTableLength);
static_assert(1.0 / kFftLength == 4.76837158203125e-07, "scale of the fixed inverse");

void generate_twiddle_tables(real_T costab[ENVELO_TABLE_LENGTH], real_T sintab[ENVELO_TABLE_LENGTH]) {
  detail::twiddleTables(kFftLength, false, forwardCostab1q, costab, sintab);
}

void b_generate_twiddle_tables(real_T costab[ENVELO_TABLE_LENGTH], real_T sintab[ENVELO_TABLE_LENGTH]) {
  detail::twiddleTables(kFftLength, true, inverseCostab1q, costab, sintab);
}

void fft(const real_T x[ENVELO_SIGNAL_LENGTH], creal_T y[ENVELO_FFT_LENGTH]) {
  const detail::fast::PlanRef plan(kFftLength);
  detail::fast::kernels().forwardReal(plan.view(), x, kSignalLength, reinterpret_cast<real_T*>(y),
                                      detail::fast::Output::kInterleaved, 1.0);
}

void ifft(const creal_T x[ENVELO_FFT_LENGTH], creal_T y[ENVELO_FFT_LENGTH]) {
  if (x == y) detail::bitReversePermute(y, kFftLength);
  detail::fast::inverseInterleaved(x == y ? nullptr : x, kFftLength, y);
}

void xcorr(const real_T x[ENVELO_SIGNAL_LENGTH], const real_T y[ENVELO_SIGNAL_LENGTH],
           real_T c[ENVELO_CORRELATION_LENGTH]) {
  detail::fastCorrelation(x, kSignalLength, y, kSignalLength, 0, kFftLength, kMaxLag, false, dcv0, dcv2, c);
}

real_T* correlation(const real_T x[ENVELO_SIGNAL_LENGTH], const real_T y[ENVELO_SIGNAL_LENGTH],
                    int32_T shift) {
  // Beyond +-720,000 nothing of y is left; clamping keeps k - shift in range.
  if (shift > kSignalLength) shift = kSignalLength;
  if (shift < -kSignalLength) shift = -kSignalLength;
  detail::fastCorrelation(x, kSignalLength, y, kSignalLength, shift, kFftLength, kMaxLag, false, dcv0, dcv2,
                          dcv2);
  return dcv2;
}

}  // namespace audiomeas::fixed
