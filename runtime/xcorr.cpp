// Cross-correlation: direct sums or transforms, whichever costs fewer
// operations.
#include "xcorr.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "emx.hpp"
#include "fft.hpp"
#include "fft_detail.hpp"
#include "fft_fast.hpp"
#include "rt_nonfinite.hpp"
#include "work_block.hpp"

namespace audiomeas {

namespace detail {

void fastCorrelation(const real_T* x, int32_T nx, const real_T* y, int32_T ny, int32_T yShift, int32_T P,
                     int32_T maxlag, bool bySubtraction, real_T* a, real_T* b, real_T* c) {
  const fast::PlanRef plan(P);
  const auto& k = fast::kernels();
  k.forwardReal(plan.view(), x, nx, a, fast::Output::kSplit, 1.0);
  k.forwardRealTimesConj(plan.view(), y, ny, yShift, a, bySubtraction, b);
  k.inverseSplit(plan.view(), b, a);
  const real_T scale = 1.0 / static_cast<real_T>(P);
  for (int32_T i = 0; i < maxlag; ++i) c[i] = fast::splitRe(a, P - maxlag + i) * scale;
  for (int32_T t = 0; t <= maxlag; ++t) c[maxlag + t] = fast::splitRe(a, t) * scale;
}

}  // namespace detail

namespace {

// 2^e with the usual exact small cases; the non-finite tests only pass
// through for a finite exponent, but read the initialised constants.
real_T powerOfTwo(real_T e) {
  if (rtIsNaN(e)) return rtNaN;
  if (rtIsInf(e)) return e > 0.0 ? rtInf : 0.0;
  if (e == 0.0) return 1.0;
  if (e == 1.0) return 2.0;
  if (e == 2.0) return 4.0;
  return std::pow(2.0, e);
}

// Lags 0 .. maxlag, then -1 .. -maxlag; each sum starts at 0 and adds in
// increasing j.
void directSums(const real_T* x, int32_T nx, const real_T* y, int32_T ny, int32_T maxlag, real_T* c) {
  for (int32_T k = 0; k <= maxlag; ++k) {
    const int32_T count = std::min(nx - k, ny);
    real_T s = 0.0;
    for (int32_T j = 0; j < count; ++j) s = s + y[j] * x[k + j];
    c[maxlag + k] = s;
  }
  for (int32_T k = 0; k < maxlag; ++k) {
    const int32_T count = std::min(ny - 1 - k, nx);
    real_T s = 0.0;
    for (int32_T j = 0; j < count; ++j) s = s + x[j] * y[k + 1 + j];
    c[maxlag - 1 - k] = s;
  }
}

// Circular correlation through transforms of length P >= 2M - 1, unwrapped
// into c. False when a work array cannot be allocated.
bool transformSums(const emxBuffer_real_T* x, const emxBuffer_real_T* y, int32_T P, int32_T maxlag,
                   real_T* c) {
  if (detail::fast::applies(P)) {
    // Every element of the work arrays is written before it is read, so they
    // are taken without the zero-fill (a pass over 32 P bytes).
    const std::size_t doubles = 2 * static_cast<std::size_t>(P);
    const detail::WorkBlock a = detail::allocateWorkBlock(doubles);
    const detail::WorkBlock b = detail::allocateWorkBlock(doubles);
    if (a == nullptr || b == nullptr) return false;
    detail::fastCorrelation(x->data, emxVectorLength(x), y->data, emxVectorLength(y), 0, P, maxlag, true,
                            a.get(), b.get(), c);
    return true;
  }
  detail::EmxTemp<emxBuffer_creal_T> X(1);
  detail::EmxTemp<emxBuffer_creal_T> R(1);
  {
    detail::EmxTemp<emxBuffer_creal_T> Y(1);
    if (X.get() == nullptr || Y.get() == nullptr || R.get() == nullptr) return false;
    fft(x, static_cast<real_T>(P), X.get());
    fft(y, static_cast<real_T>(P), Y.get());
    if (X.get()->size[0] != P || Y.get()->size[0] != P) return false;
    creal_T* Z = X.get()->data;
    const creal_T* Yd = Y.get()->data;
    for (int32_T k = 0; k < P; ++k) {
      const creal_T a = Z[k];
      const creal_T b = Yd[k];
      Z[k] = {a.re * b.re - a.im * -b.im, a.re * -b.im + a.im * b.re};
    }
  }
  ifft(X.get(), R.get());
  if (R.get()->size[0] != P) return false;
  const creal_T* r = R.get()->data;
  for (int32_T i = 0; i < maxlag; ++i) c[i] = r[P - maxlag + i].re;
  for (int32_T t = 0; t <= maxlag; ++t) c[maxlag + t] = r[t].re;
  return true;
}

// The fast correlation into c with c's block as the second work array; c
// keeps a block of 2P values holding count lags. False, before any
// transform, when the blocks cannot be had.
bool sharedBlockSums(const emxBuffer_real_T* x, const emxBuffer_real_T* y, int32_T P, int32_T maxlag,
                     emxBuffer_real_T* c, int32_T count) {
  const std::int64_t doubles = 2 * static_cast<std::int64_t>(P);
  if (doubles > INT32_MAX) return false;
  const detail::WorkBlock a = detail::allocateWorkBlock(static_cast<std::size_t>(doubles));
  if (a == nullptr || !detail::resizeWorkArray(c, static_cast<int32_T>(doubles))) return false;
  c->size[0] = count;
  detail::fastCorrelation(x->data, emxVectorLength(x), y->data, emxVectorLength(y), 0, P, maxlag, true,
                          a.get(), c->data, c->data);
  return true;
}

}  // namespace

XcorrMethod xcorrMethod(int32_T nx, int32_T ny) {
  const real_T M = static_cast<real_T>(std::max(nx, ny));
  const real_T maxlag = M - 1.0;
  int32_T exponent = 0;
  const real_T f = std::frexp(std::fabs(2.0 * M - 1.0), &exponent);
  if (f == 0.5) --exponent;
  XcorrMethod m{};
  m.exponent = static_cast<real_T>(exponent);
  m.fftLength = powerOfTwo(m.exponent);

  const real_T nmin = static_cast<real_T>(std::min(nx, ny));
  const real_T nmax = static_cast<real_T>(std::max(nx, ny));
  const real_T S = 2.0 * nmin - 1.0;
  const real_T d = nmax - nmin;
  const real_T base = maxlag < nmin ? (S - maxlag - 1.0) * maxlag : (nmin - 1.0) * (nmin - 1.0);
  if (d < maxlag) {
    m.directCost = d * S + S + (maxlag - d) * (nmin + nmax - maxlag - 2.0) + base;
  } else {
    m.directCost = maxlag * S + S + base;
  }
  m.fftCost = (15.0 * m.exponent + 6.0) * m.fftLength;
  m.useFft = !(m.directCost < m.fftCost);
  return m;
}

void xcorr(const emxBuffer_real_T* x, const emxBuffer_real_T* y, emxBuffer_real_T* c) {
  const int32_T nx = emxVectorLength(x);
  const int32_T ny = emxVectorLength(y);
  const int32_T M = std::max(nx, ny);
  if (M == 0 || M > detail::kMaxBluesteinLength) {
    emxResize1(c, 0);
    return;
  }
  const int32_T maxlag = M - 1;
  const int32_T count = 2 * maxlag + 1;
  const XcorrMethod method = xcorrMethod(nx, ny);

  // A transform length short of 2M - 1 (only when the non-finite constants
  // were never initialised) would wrap lags onto each other: sum directly.
  const bool fftUsable = method.fftLength >= static_cast<real_T>(count);
  const bool aliased = c == x || c == y || (c->data != nullptr && (c->data == x->data || c->data == y->data));
  if (method.useFft && fftUsable && !aliased &&
      detail::fast::applies(static_cast<int32_T>(method.fftLength))) {
    const auto P = static_cast<int32_T>(method.fftLength);
    if (P >= kSharedBlockLength && sharedBlockSums(x, y, P, maxlag, c, count)) return;
    // Every lag is written, so they go straight into c.
    if (!detail::resizeWorkArray(c, count)) return;
    if (!transformSums(x, y, P, maxlag, c->data)) emxResize1(c, 0);
    return;
  }

  // The result is assembled apart from c, which may be one of the inputs.
  detail::EmxTemp<emxBuffer_real_T> result(1);
  if (result.get() == nullptr || !emxResize1(result.get(), count)) {
    emxResize1(c, 0);
    return;
  }
  real_T* r = result.get()->data;
  std::fill(r, r + count, 0.0);
  if (method.useFft && fftUsable) {
    if (!transformSums(x, y, static_cast<int32_T>(method.fftLength), maxlag, r)) {
      emxResize1(c, 0);
      return;
    }
  } else {
    directSums(x->data, nx, y->data, ny, maxlag, r);
  }

  if (!detail::resizeWorkArray(c, count)) return;
  std::copy(r, r + count, c->data);
}

}  // namespace audiomeas
