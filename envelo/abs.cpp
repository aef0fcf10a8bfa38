#include <cmath>

#include "envelo_kernels.hpp"

namespace audiomeas::envelo {

void b_abs(const real_T x[kCorrelationLength], real_T y[kCorrelationLength]) {
  for (int32_T k = 0; k < kCorrelationLength; ++k) y[k] = std::fabs(x[k]);
}

}  // namespace audiomeas::envelo
