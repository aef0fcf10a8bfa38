// envelo's fixed-size kernels over the runtime's left-to-right reductions.
#include "envelo_kernels.hpp"

#include <cmath>

#include "reductions.hpp"

namespace audiomeas::envelo {

real_T sum(const real_T x[kHistoryLength]) { return sumOf(x, kHistoryLength); }

// Each square is added as it is formed: the bits of squaring into an array
// first and summing it left to right, without the 5.8 MB array.
real_T rms(const real_T x[kSignalLength]) {
  return std::sqrt(sumOfSquares(x, kSignalLength) / static_cast<real_T>(kSignalLength));
}

// Summing the squares as they are formed gives the same bits as storing them
// first, so no per-call array is needed.
real_T b_rms(const emxBuffer_real_T* x) { return audiomeas::rms(x); }

void b_abs(const real_T x[kCorrelationLength], real_T y[kCorrelationLength]) {
  for (int32_T k = 0; k < kCorrelationLength; ++k) y[k] = std::fabs(x[k]);
}

void b_log10(real_T* x) { *x = std::log10(*x); }

}  // namespace audiomeas::envelo
