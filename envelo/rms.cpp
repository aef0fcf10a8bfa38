#include <cmath>

#include "envelo_kernels.hpp"
#include "reductions.hpp"

namespace audiomeas::envelo {

// Each square is added as it is formed: the bits of squaring into an array
// first and summing it left to right, without the 5.8 MB array.
real_T rms(const real_T x[kSignalLength]) {
  return std::sqrt(sumOfSquares(x, kSignalLength) / static_cast<real_T>(kSignalLength));
}

// Summing the squares as they are formed gives the same bits as storing them
// first, so no per-call array is needed.
real_T b_rms(const emxBuffer_real_T* x) { return audiomeas::rms(x); }

}  // namespace audiomeas::envelo
