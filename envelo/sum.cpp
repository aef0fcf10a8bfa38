#include "envelo_kernels.hpp"
#include "reductions.hpp"

namespace audiomeas::envelo {

real_T sum(const real_T x[kHistoryLength]) { return sumOf(x, kHistoryLength); }

}  // namespace audiomeas::envelo
