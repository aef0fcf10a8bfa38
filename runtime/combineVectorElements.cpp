#include "emx.hpp"
#include "reductions.hpp"

namespace audiomeas {

real_T sumOf(const real_T* x, int32_T n) {
  if (n <= 0) return 0.0;
  real_T y = x[0];
  for (int32_T k = 1; k < n; ++k) y += x[k];
  return y;
}

real_T combineVectorElements(const emxBuffer_real_T* x) { return sumOf(x->data, emxVectorLength(x)); }

}  // namespace audiomeas
