// envelo's fixed-size kernels and fixed lengths (from the public
// envelo_lengths.h). The sums and RMS values are the runtime's strictly
// left-to-right reductions at the lengths this library works with; the
// fixed-length transforms are in fixed_transforms.hpp.
#pragma once

#include "audiomeas_types.h"
#include "envelo_lengths.h"
#include "fixed_transforms.hpp"

namespace audiomeas::envelo {

inline constexpr int32_T kHistoryLength = ENVELO_HISTORY_LENGTH;          // activity history, blocks
inline constexpr int32_T kSignalLength = ENVELO_SIGNAL_LENGTH;            // aligned stretch, samples (15 s)
inline constexpr int32_T kCorrelationLength = ENVELO_CORRELATION_LENGTH;  // lags -719,999 .. +719,999

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
