#include <cmath>

#include "envelo_kernels.hpp"
#include "reductions.hpp"

namespace audiomeas::envelo {

namespace {
// Squares of the last input of rms(); scratch only.
real_T b_x[kSignalLength];
}  // namespace

real_T rms(const real_T x[kSignalLength]) {
  for (int32_T k = 0; k < kSignalLength; ++k) b_x[k] = x[k] * x[k];
  return std::sqrt(sumOf(b_x, kSignalLength) / static_cast<real_T>(kSignalLength));
}

// Summing the squares as they are formed gives the same bits as storing them
// first, so no per-call array is needed.
real_T b_rms(const emxBuffer_real_T* x) { return audiomeas::rms(x); }

}  // namespace audiomeas::envelo
