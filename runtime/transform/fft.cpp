// The transforms of any supported length: the fast engine for powers of two
// from 64 on, the plain algorithm below that and for other lengths.
#include "fft.hpp"

#include "emx.hpp"
#include "fft_detail.hpp"
#include "fft_fast.hpp"

namespace audiomeas {

namespace detail::fast {

void inverseInterleaved(const creal_T* x, int32_T L, creal_T* y) {
  const PlanRef plan(L);
  const auto& k = kernels();
  const real_T scale = 1.0 / static_cast<real_T>(L);
  auto* out = reinterpret_cast<real_T*>(y);
  if (x == nullptr) {
    k.transformPermuted(plan.view(), out, true, Output::kInterleavedScaled, scale);
  } else {
    k.transformComplex(plan.view(), x, L, true, out, Output::kInterleavedScaled, scale);
  }
}

}  // namespace detail::fast

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
                                        detail::fast::Output::kInterleaved, 1.0);
    return;
  }
  const bool radix2 = detail::isPowerOfTwo(L);
  int32_T n2blue = 0;
  int32_T nRows = 0;
  get_algo_sizes(L, radix2, &n2blue, &nRows);
  detail::Tables tables;
  if (!tables.build(nRows, radix2 ? detail::TableUse::kForward : detail::TableUse::kBluestein)) {
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
    detail::fast::inverseInterleaved(x == y ? nullptr : x->data, L, y->data);
    return;
  }
  const bool radix2 = detail::isPowerOfTwo(L);
  int32_T n2blue = 0;
  int32_T nRows = 0;
  get_algo_sizes(L, radix2, &n2blue, &nRows);
  detail::Tables tables;
  if (!tables.build(nRows, radix2 ? detail::TableUse::kInverse : detail::TableUse::kBluestein)) {
    detail::makeEmpty(y);
    return;
  }
  if (radix2) {
    r2br_r2dit_trig(x, L, tables.costab.get(), tables.sintabinv.get(), y);
  } else if (!detail::bluestein(x->data, L, n2blue, L, tables, true, y)) {
    detail::makeEmpty(y);
  }
}

}  // namespace audiomeas
