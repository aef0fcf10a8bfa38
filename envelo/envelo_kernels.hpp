// envelo's fixed-size kernels. The sums and RMS values are the runtime's
// strictly left-to-right reductions at the lengths this library works with.
#pragma once

#include "audiomeas_types.h"

namespace audiomeas::envelo {

inline constexpr int32_T kHistoryLength = 200;          // activity history, blocks
inline constexpr int32_T kSignalLength = 720000;        // aligned stretch, samples (15 s)
inline constexpr int32_T kCorrelationLength = 1439999;  // lags -719,999 .. +719,999

// x[0] + ... + x[199].
real_T sum(const real_T x[kHistoryLength]);
// sqrt(sum of x[n]^2 / 720,000), the squares summed left to right.
real_T rms(const real_T x[kSignalLength]);
// RMS of the first size[0] elements; NaN when there are none.
real_T b_rms(const emxBuffer_real_T* x);
// y[k] = |x[k]|: the sign bit cleared, so -0.0 -> +0.0 and NaN stays NaN.
void b_abs(const real_T x[kCorrelationLength], real_T y[kCorrelationLength]);
// *x = log10(*x); 0 gives -Inf, a negative value NaN.
void b_log10(real_T* x);

}  // namespace audiomeas::envelo
