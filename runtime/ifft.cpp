// Inverse transform of a complex spectrum, variable and fixed length.
#include "fft.hpp"

#include "emx.hpp"
#include "fft_detail.hpp"
#include "fft_fast.hpp"

namespace audiomeas {

namespace {

// y := inverse of x scaled by 1/L, interleaved; x == nullptr when y already
// holds the input in bit-reversed order.
void inverseFast(const creal_T* x, int32_T L, creal_T* y) {
  const detail::fast::PlanRef plan(L);
  const auto& k = detail::fast::kernels();
  const real_T scale = 1.0 / static_cast<real_T>(L);
  auto* out = reinterpret_cast<real_T*>(y);
  if (x == nullptr) {
    k.transformPermuted(plan.view(), out, true, detail::fast::Output::InterleavedScaled, scale);
  } else {
    k.transformComplex(plan.view(), x, L, true, out, detail::fast::Output::InterleavedScaled, scale);
  }
}

}  // namespace

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
  // Two containers sharing one block take the plain route, which copies.
  if (detail::fast::applies(L) && (x == y || x->data != y->data)) {
    if (x == y) {
      detail::bitReversePermute(y->data, L);
    } else if (!detail::resizeVector(y, L)) {
      return;
    }
    inverseFast(x == y ? nullptr : x->data, L, y->data);
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
// b_generate_twiddle_tables' quarter wave, rebuilt on every call.
real_T inverseCostab1q[kTableLength / 2 + 1];
}  // namespace

static_assert(1.0 / kFftLength == 4.76837158203125e-07, "scale of the fixed inverse");

void b_generate_twiddle_tables(real_T costab[1048577], real_T sintab[1048577]) {
  detail::twiddleTables(kFftLength, true, inverseCostab1q, costab, sintab);
}

void ifft(const creal_T x[2097152], creal_T y[2097152]) {
  if (x == y) detail::bitReversePermute(y, kFftLength);
  inverseFast(x == y ? nullptr : x, kFftLength, y);
}

}  // namespace fixed

}  // namespace audiomeas
