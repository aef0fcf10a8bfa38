#include "emx.hpp"
#include "reductions.hpp"

namespace audiomeas {

void power(const emxBuffer_real_T* a, emxBuffer_real_T* y) {
  const int32_T n = emxVectorLength(a);
  if (!emxResize1(y, n)) return;
  for (int32_T k = 0; k < n; ++k) y->data[k] = a->data[k] * a->data[k];
}

}  // namespace audiomeas
