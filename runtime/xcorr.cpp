// Cross-correlation: direct sums or transforms, whichever costs fewer
// operations, and the fixed-length form that always uses transforms.
#include "xcorr.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "emx.hpp"
#include "fft.hpp"
#include "fft_detail.hpp"
#include "rt_nonfinite.hpp"

namespace audiomeas {

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
bool transformSums(const emxBuffer_real_T* x, const emxBuffer_real_T* y, int32_T P, int32_T maxlag, real_T* c) {
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
  const int32_T nx = std::max<int32_T>(x->size[0], 0);
  const int32_T ny = std::max<int32_T>(y->size[0], 0);
  const int32_T M = std::max(nx, ny);
  if (M == 0 || M > detail::kMaxBluesteinLength) {
    emxResize1(c, 0);
    return;
  }
  const int32_T maxlag = M - 1;
  const int32_T count = 2 * maxlag + 1;
  const XcorrMethod method = xcorrMethod(nx, ny);

  // The result is assembled apart from c, which may be one of the inputs.
  detail::EmxTemp<emxBuffer_real_T> result(1);
  if (result.get() == nullptr || !emxResize1(result.get(), count)) {
    emxResize1(c, 0);
    return;
  }
  real_T* r = result.get()->data;
  std::fill(r, r + count, 0.0);
  // A transform length short of 2M - 1 (only when the non-finite constants
  // were never initialised) would wrap lags onto each other: sum directly.
  const bool fftUsable = method.fftLength >= static_cast<real_T>(count);
  if (method.useFft && fftUsable) {
    if (!transformSums(x, y, static_cast<int32_T>(method.fftLength), maxlag, r)) {
      emxResize1(c, 0);
      return;
    }
  } else {
    directSums(x->data, nx, y->data, ny, maxlag, r);
  }

  if (!emxResize1(c, count)) return;
  std::copy(r, r + count, c->data);
}

namespace fixed {

namespace {
// Overwritten completely by every call.
creal_T dcv0[kFftLength];  // spectrum of x, then the inverse transform
creal_T dcv1[kFftLength];  // spectrum of y
creal_T dcv2[kFftLength];  // cross-spectrum
real_T c1[kFftLength];     // real part of the inverse transform
real_T dv1[kLagCount];     // lags -719,999 .. 719,999
}  // namespace

void xcorr(const real_T x[720000], const real_T y[720000], real_T c[1439999]) {
  constexpr int32_T maxlag = kSignalLength - 1;
  fft(x, dcv0);
  fft(y, dcv1);
  for (int32_T k = 0; k < kFftLength; ++k) {
    const creal_T a = dcv0[k];
    const creal_T b = dcv1[k];
    dcv2[k] = {a.re * b.re + a.im * b.im, a.re * -b.im + a.im * b.re};
  }
  ifft(dcv2, dcv0);
  for (int32_T t = 0; t < kFftLength; ++t) c1[t] = dcv0[t].re;
  for (int32_T i = 0; i < maxlag; ++i) dv1[i] = c1[kFftLength - maxlag + i];
  for (int32_T t = 0; t <= maxlag; ++t) dv1[maxlag + t] = c1[t];
  std::memcpy(c, dv1, sizeof(real_T) * kLagCount);
}

}  // namespace fixed

}  // namespace audiomeas
