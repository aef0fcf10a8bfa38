// Vector reductions over the first extent of a real array. Sums are strictly
// sequential left to right, so results do not depend on vector width.
#pragma once

#include "audiomeas_types.h"

namespace audiomeas {

// Sum of the first size[0] elements; 0.0 when there are none.
real_T combineVectorElements(const emxBuffer_real_T* x);
// combineVectorElements under its wrapper's name.
real_T sum(const emxBuffer_real_T* x);
// y (one-dimensional) := a[k] * a[k] for the first size[0] elements of a.
void power(const emxBuffer_real_T* a, emxBuffer_real_T* y);
// sqrt(sum of squares / n); NaN for an empty vector (0 / 0).
real_T rms(const emxBuffer_real_T* x);

// The same arithmetic over n contiguous samples (n <= 0 counts as empty), for
// callers that measure frames in place instead of copying them out. Each
// square is rounded to double before it is added, as when the squares are
// stored first, so the results are bit-identical to the array forms.
real_T sumOf(const real_T* x, int32_T n);
real_T sumOfSquares(const real_T* x, int32_T n);
real_T rmsOf(const real_T* x, int32_T n);

}  // namespace audiomeas
