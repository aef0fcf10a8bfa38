// The transforms and the correlation written the plain way: one sweep of the
// whole array per twiddle stage, tables rebuilt on every call, the
// bit-reversed load as its own loop. The engine's fast paths must match
// these bit for bit; nothing here is shared with the engine.
#pragma once

#include <vector>

#include "audiomeas_types.h"

namespace audiomeas::test::plain {

// cos(2 pi k/N) and -sin (forward) or +sin (inverse), k = 0 .. N/2.
struct Tables {
  std::vector<real_T> costab, sintab;
};
Tables tables(int N, bool inverse);

// Unscaled transform of x (count samples, zero-padded to the power of two L).
std::vector<creal_T> forward(const real_T* x, int count, int L);
std::vector<creal_T> forward(const creal_T* x, int count, int L);
// Inverse of all L elements, scaled by 1/L (one element is not scaled).
std::vector<creal_T> inverse(const creal_T* x, int L);

// Full correlation through transforms of the power of two P >= 2M - 1;
// conjugateBySubtraction selects X.re*Y.re - X.im*(-Y.im) (the variable
// form's product) or X.re*Y.re + X.im*Y.im (the fixed form's).
std::vector<real_T> correlate(const real_T* x, int nx, const real_T* y, int ny, int P,
                              bool conjugateBySubtraction);

}  // namespace audiomeas::test::plain
