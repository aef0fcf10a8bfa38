// Sums, squares and RMS values, each strictly left to right.
#include "reductions.hpp"

#include <algorithm>
#include <cmath>

#include "emx.hpp"

namespace audiomeas {

real_T sumOf(const real_T* x, int32_T n) {
  if (n <= 0) return 0.0;
  real_T y = x[0];
  for (int32_T k = 1; k < n; ++k) y += x[k];
  return y;
}

real_T sumOfSquares(const real_T* x, int32_T n) {
  if (n <= 0) return 0.0;
  real_T y = x[0] * x[0];
  for (int32_T k = 1; k < n; ++k) y += x[k] * x[k];
  return y;
}

// An empty vector gives sqrt(0 / 0), NaN.
real_T rmsOf(const real_T* x, int32_T n) {
  n = std::max<int32_T>(n, 0);
  return std::sqrt(sumOfSquares(x, n) / static_cast<real_T>(n));
}

real_T combineVectorElements(const emxBuffer_real_T* x) { return sumOf(x->data, emxVectorLength(x)); }

real_T sum(const emxBuffer_real_T* x) { return combineVectorElements(x); }

void power(const emxBuffer_real_T* a, emxBuffer_real_T* y) {
  const int32_T n = emxVectorLength(a);
  if (!emxResize1(y, n)) return;
  for (int32_T k = 0; k < n; ++k) y->data[k] = a->data[k] * a->data[k];
}

real_T rms(const emxBuffer_real_T* x) { return rmsOf(x->data, emxVectorLength(x)); }

}  // namespace audiomeas
