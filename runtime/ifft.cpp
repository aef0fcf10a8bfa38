// Inverse transform of a complex spectrum, variable and fixed length.
#include "fft.hpp"

#include "emx.hpp"
#include "fft_detail.hpp"

namespace audiomeas {

void ifft(const emxBuffer_creal_T* x, emxBuffer_creal_T* y) {
  const int32_T L = x->size[0];
  if (L <= 0) {
    detail::makeEmpty(y);
    return;
  }
  if (!detail::isSupportedLength(L)) {
    detail::makeEmpty(y);
    return;
  }
  const bool radix2 = detail::isPowerOfTwo(L);
  int32_T n2blue = 0;
  int32_T nRows = 0;
  get_algo_sizes(L, radix2, &n2blue, &nRows);
  detail::Tables tables;
  if (!tables.build(nRows, radix2 ? detail::TableUse::Inverse : detail::TableUse::Bluestein)) {
    detail::makeEmpty(y);
    return;
  }
  if (radix2) {
    r2br_r2dit_trig(x, L, tables.costab.get(), tables.sintabinv.get(), y);
  } else if (!detail::bluestein(x->data, L, n2blue, L, tables, true, y)) {
    detail::makeEmpty(y);
  }
}

namespace fixed {

namespace {
// Rebuilt on every call; nothing carries over between calls.
real_T inverseCostab[kTableLength];
real_T inverseSintab[kTableLength];
real_T inverseCostab1q[kTableLength / 2 + 1];
}  // namespace

static_assert(1.0 / kFftLength == 4.76837158203125e-07, "scale of the fixed inverse");

void b_generate_twiddle_tables(real_T costab[1048577], real_T sintab[1048577]) {
  detail::quarterWaveTable(kFftLength, inverseCostab1q);
  detail::cosineTable(kFftLength, inverseCostab1q, costab);
  sintab[0] = 0.0;
  detail::sineTable(kFftLength, inverseCostab1q, true, sintab);
}

void ifft(const creal_T x[2097152], creal_T y[2097152]) {
  b_generate_twiddle_tables(inverseCostab, inverseSintab);
  if (x == y) {
    detail::bitReversePermute(y, kFftLength);
  } else {
    detail::bitReversedLoad(x, kFftLength, kFftLength, y);
  }
  detail::radix2Stages(y, kFftLength, inverseCostab, inverseSintab);
  detail::scaleByInverseLength(y, kFftLength);
}

}  // namespace fixed

}  // namespace audiomeas
