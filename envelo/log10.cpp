#include <cmath>

#include "envelo_kernels.hpp"

namespace audiomeas::envelo {

void b_log10(real_T* x) { *x = std::log10(*x); }

}  // namespace audiomeas::envelo
