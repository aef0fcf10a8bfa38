// Full, unnormalised cross-correlation of two real signals over every lag at
// which they overlap.
//
// With M = max(nx, ny), c has 2M - 1 elements; c[M - 1 + l] holds lag l,
//   c[M - 1 + l] = sum_j x[j + l] * y[j]   (0 <= j < ny, 0 <= j + l < nx),
// from l = -(M - 1) at c[0] to M - 1 at c[2M - 2]; a positive lag pairs x
// ahead of y, and a lag without overlap is 0 (a rounding-level value when
// the transform method ran).
//
// The non-finite constants must be initialised (rt_InitInfAndNaN) before
// the first call.
#pragma once

#include "audiomeas_types.h"

namespace audiomeas {

// c := cross-correlation of x and y (their first size[0] samples); c is
// resized to 2M - 1 elements. Two empty inputs (M = 0), a longest input above
// 2^29 samples (2M - 1 beyond the transform engine's 2^30) or a work array
// that cannot be allocated give an empty c. c may be x or y.
void xcorr(const emxBuffer_real_T* x, const emxBuffer_real_T* y, emxBuffer_real_T* c);

// How xcorr computes lengths nx and ny (M >= 1): the transform length
// P = 2^e >= 2M - 1 and the operation counts of the direct sums (T) and of
// the transforms (F = (15e + 6) P). The direct sums run when T < F.
struct XcorrMethod {
  real_T exponent;
  real_T fftLength;
  real_T directCost;
  real_T fftCost;
  bool useFft;
};
XcorrMethod xcorrMethod(int32_T nx, int32_T ny);

// From this transform length on (work arrays of 64 MiB), xcorr uses c's own
// block as the second work array: the lags are unwrapped from the first
// array only once the second is spent, so the 2M - 1 results need no memory
// of their own at the peak of a long correlation.
inline constexpr int32_T kSharedBlockLength = 1 << 22;

namespace detail {
// Circular correlation of x and y (zero-padded to the power of two P, which
// the fast engine takes) in the work arrays a and b (P complex values each),
// unwrapped into c: c[i] = r[P - maxlag + i] for the negative lags, c[maxlag
// + t] = r[t] for the others, each real part times 1/P as the plain inverse
// scales it. y is first moved later by yShift samples (see
// fast::Kernels::forwardRealTimesConj); bySubtraction picks the product's
// form. c may be b.
void fastCorrelation(const real_T* x, int32_T nx, const real_T* y, int32_T ny, int32_T yShift, int32_T P,
                     int32_T maxlag, bool bySubtraction, real_T* a, real_T* b, real_T* c);
}  // namespace detail

}  // namespace audiomeas
