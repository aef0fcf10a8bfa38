// Forward transform of a real signal, variable and fixed length.
#include "fft.hpp"

#include "emx.hpp"
#include "fft_detail.hpp"
#include "fft_fast.hpp"

namespace audiomeas {

void fft(const emxBuffer_real_T* x, real_T n, emxBuffer_creal_T* y) {
  const int32_T L = detail::supportedLength(n);
  if (L < 0) {
    detail::makeEmpty(y);
    return;
  }
  const int32_T nx = emxVectorLength(x);
  if (nx == 0 || L == 0) {
    if (!detail::resizeVector(y, L)) return;
    for (int32_T i = 0; i < L; ++i) y->data[i] = {0.0, 0.0};
    return;
  }
  if (detail::fast::applies(L)) {
    if (!detail::resizeVector(y, L)) return;
    const detail::fast::PlanRef plan(L);
    detail::fast::kernels().forwardReal(plan.view(), x->data, nx, reinterpret_cast<real_T*>(y->data),
                                        detail::fast::Output::Interleaved, 1.0);
    return;
  }
  const bool radix2 = detail::isPowerOfTwo(L);
  int32_T n2blue = 0;
  int32_T nRows = 0;
  get_algo_sizes(L, radix2, &n2blue, &nRows);
  detail::Tables tables;
  if (!tables.build(nRows, radix2 ? detail::TableUse::Forward : detail::TableUse::Bluestein)) {
    detail::makeEmpty(y);
    return;
  }
  if (radix2) {
    if (!detail::resizeVector(y, L)) return;
    // The real samples are widened to complex on load; no half-length
    // real-input transform, so that every length shares one arithmetic.
    detail::radix2Transform(x->data, nx, L, tables.costab.get()->data, tables.sintab.get()->data, y->data);
  } else if (!detail::bluestein(x->data, nx, n2blue, L, tables, false, y)) {
    detail::makeEmpty(y);
  }
}

namespace fixed {

namespace {
// generate_twiddle_tables' quarter wave, rebuilt on every call. The
// transforms themselves read the process-wide plan of 2^21 (the same bits).
real_T forwardCostab1q[kTableLength / 2 + 1];
}  // namespace

static_assert(6.283185307179586 / kFftLength == 2.996056226339143e-06, "angle step of the fixed tables");
static_assert(detail::halfWaveCount(kFftLength) == kTableLength);

void generate_twiddle_tables(real_T costab[1048577], real_T sintab[1048577]) {
  detail::twiddleTables(kFftLength, false, forwardCostab1q, costab, sintab);
}

void fft(const real_T x[720000], creal_T y[2097152]) {
  const detail::fast::PlanRef plan(kFftLength);
  detail::fast::kernels().forwardReal(plan.view(), x, kSignalLength, reinterpret_cast<real_T*>(y),
                                      detail::fast::Output::Interleaved, 1.0);
}

}  // namespace fixed

}  // namespace audiomeas
