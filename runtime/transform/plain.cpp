// The plain transform algorithm both directions share: the radix-2 core,
// method selection and Bluestein's chirp-z method.
#include <cmath>

#include "emx.hpp"
#include "fft.hpp"
#include "fft_detail.hpp"

namespace audiomeas {

namespace detail {

void bitReversePermute(creal_T* y, int32_T L) {
  int32_T iy = 0;
  for (int32_T i = 0; i < L; ++i) {
    if (i < iy) {
      const creal_T t = y[i];
      y[i] = y[iy];
      y[iy] = t;
    }
    if (i + 1 == L) break;
    iy = nextBitReversed(iy, L);
  }
}

void radix2Stages(creal_T* y, int32_T L, const real_T* costab, const real_T* sintab) {
  if (L <= 1) return;
  for (int32_T i = 0; i <= L - 2; i += 2) {
    const creal_T a = y[i];
    const creal_T b = y[i + 1];
    y[i] = {a.re + b.re, a.im + b.im};
    y[i + 1] = {a.re - b.re, a.im - b.im};
  }
  if (L < 4) return;
  const int32_T half = L / 2;
  int32_T k = L / 4;
  int32_T d = 2;
  int32_T span = 4;
  int32_T h = 4 * k - 3;
  for (;;) {
    for (int32_T i = 0; i < h; i += span) {
      const creal_T t = y[i + d];
      y[i + d] = {y[i].re - t.re, y[i].im - t.im};
      y[i] = {y[i].re + t.re, y[i].im + t.im};
    }
    int32_T start = 1;
    for (int32_T j = k; j < half; j += k) {
      const real_T wre = costab[j];
      const real_T wim = sintab[j];
      for (int32_T i = start; i < start + h; i += span) {
        const creal_T u = y[i + d];
        const creal_T t = {wre * u.re - wim * u.im, wre * u.im + wim * u.re};
        y[i + d] = {y[i].re - t.re, y[i].im - t.im};
        y[i] = {y[i].re + t.re, y[i].im + t.im};
      }
      ++start;
    }
    if (k == 1) break;
    h -= span;
    d = span;
    span *= 2;
    k /= 2;
  }
}

void scaleByInverseLength(creal_T* y, int32_T L) {
  if (L <= 1) return;
  const real_T r = 1.0 / static_cast<real_T>(L);
  for (int32_T i = 0; i < L; ++i) {
    y[i].re *= r;
    y[i].im *= r;
  }
}

bool resizeRow(emxBuffer_real_T* a, int32_T n) {
  if (a == nullptr || a->size == nullptr || a->dimCount < 2) return false;
  const int32_T old = emxNumel(a);
  a->size[0] = 1;
  a->size[1] = n;
  emxEnsureCapacity(a, old);
  if (a->capacity >= n) return true;
  a->size[1] = 0;
  return false;
}

bool resizeVector(emxBuffer_creal_T* a, int32_T n) {
  return a != nullptr && a->size != nullptr && a->dimCount >= 1 && emxResize1(a, n);
}

void makeEmpty(emxBuffer_creal_T* y) {
  if (y != nullptr && y->size != nullptr && y->dimCount >= 1) y->size[0] = 0;
}

int32_T supportedLength(real_T n) {
  if (!(n >= 1.0)) return 0;               // negative, below one, or NaN
  if (n >= 2147483648.0) return -1;        // beyond int32
  const auto L = static_cast<int32_T>(n);  // truncation toward zero
  return isSupportedLength(L) ? L : -1;
}

namespace {

// x * conj(w), the real input widened on the fly; the operand order is part
// of the result's bits.
template <class Src>
creal_T modulate(const Src& x, const creal_T& w);

template <>
creal_T modulate<real_T>(const real_T& x, const creal_T& w) {
  return {x * w.re, -x * w.im};
}

template <>
creal_T modulate<creal_T>(const creal_T& x, const creal_T& w) {
  const real_T re = x.re;
  const real_T im = x.im;
  return {im * w.im + re * w.re, im * w.re - re * w.im};
}

}  // namespace

void bluesteinChirp(int32_T n, bool inverse, creal_T* w) {
  constexpr real_T kPi = 3.141592653589793;
  w[n - 1] = {1.0, 0.0};
  const int32_T twoN = 2 * n;
  int32_T r = 0;
  for (int32_T k = 1; k < n; ++k) {
    const int32_T odd = 2 * k - 1;
    if (twoN - r <= odd) {
      r += odd - twoN;
    } else {
      r += odd;
    }
    const real_T theta = inverse ? static_cast<real_T>(r) * kPi / static_cast<real_T>(n)
                                 : static_cast<real_T>(r) * -kPi / static_cast<real_T>(n);
    if (theta == 0.0) {
      w[n - 1 - k] = {1.0, -0.0};
    } else {
      w[n - 1 - k] = {std::cos(theta), -std::sin(theta)};
    }
  }
  for (int32_T k = 1; k < n; ++k) w[n - 1 + k] = w[n - 1 - k];
}

template <class Src>
bool bluestein(const Src* x, int32_T nx, int32_T N2, int32_T n, const Tables& tables, bool inverse,
               emxBuffer_creal_T* y) {
  const real_T* costab = tables.costab.get()->data;
  const real_T* sintab = tables.sintab.get()->data;
  const real_T* sintabinv = tables.sintabinv.get()->data;

  EmxTemp<emxBuffer_creal_T> wwc(1);
  const int32_T chirpLength = 2 * n - 1;
  if (!resizeVector(wwc.get(), chirpLength)) return false;
  creal_T* w = wwc.get()->data;
  bluesteinChirp(n, inverse, w);

  // u = x * conj(chirp), built in y (in place when x is y's own block).
  if (!resizeVector(y, n)) return false;
  creal_T* out = y->data;
  const int32_T used = nx < n ? nx : n;
  for (int32_T k = 0; k < used; ++k) out[k] = modulate(x[k], w[n - 1 + k]);
  for (int32_T k = used; k < n; ++k) out[k] = {0.0, 0.0};

  EmxTemp<emxBuffer_creal_T> fy(1);
  EmxTemp<emxBuffer_creal_T> fv(1);
  if (!resizeVector(fy.get(), N2) || !resizeVector(fv.get(), N2)) return false;
  creal_T* U = fy.get()->data;
  creal_T* W = fv.get()->data;
  radix2Transform(out, n, N2, costab, sintab, U);
  radix2Transform(w, chirpLength, N2, costab, sintab, W);
  for (int32_T k = 0; k < N2; ++k) {
    const creal_T u = U[k];
    const creal_T v = W[k];
    U[k] = {v.re * u.re - v.im * u.im, v.re * u.im + v.im * u.re};
  }
  radix2Transform(U, N2, N2, costab, sintabinv, W);
  scaleByInverseLength(W, N2);

  for (int32_T k = 0; k < n; ++k) {
    const creal_T v = W[n - 1 + k];
    const creal_T c = w[n - 1 + k];
    out[k] = {v.re * c.re + v.im * c.im, v.im * c.re - v.re * c.im};
  }
  if (inverse) {
    const real_T dn = static_cast<real_T>(n);
    for (int32_T k = 0; k < n; ++k) {
      if (out[k].im == 0.0) {
        out[k] = {out[k].re / dn, 0.0};
      } else if (out[k].re == 0.0) {
        out[k] = {0.0, out[k].im / dn};
      } else {
        out[k] = {out[k].re / dn, out[k].im / dn};
      }
    }
  }
  return true;
}

template bool bluestein<real_T>(const real_T*, int32_T, int32_T, int32_T, const Tables&, bool,
                                emxBuffer_creal_T*);
template bool bluestein<creal_T>(const creal_T*, int32_T, int32_T, int32_T, const Tables&, bool,
                                 emxBuffer_creal_T*);

}  // namespace detail

void get_algo_sizes(int32_T nfft, bool useRadix2, int32_T* n2blue, int32_T* nRows) {
  *n2blue = 1;
  if (useRadix2) {
    *nRows = nfft;
    return;
  }
  if (nfft > detail::kMaxBluesteinLength) {
    // 2*nfft - 1 would need a table beyond 2^30 (or beyond int32).
    *n2blue = 0;
    *nRows = 0;
    return;
  }
  const int32_T c = nfft <= 0 ? -1 : 2 * nfft - 1;
  int32_T result = 1;
  if (c > 1) {
    int32_T lo = 0;
    int32_T hi = 31;
    bool found = false;
    while (hi - lo > 1) {
      const int32_T mid = (lo + hi) / 2;
      const int32_T p = 1 << mid;
      if (p == c) {
        result = p;
        found = true;
        break;
      }
      if (c < p) {
        hi = mid;
      } else {
        lo = mid;
      }
    }
    if (!found) result = 1 << hi;  // hi <= 30 for c <= 2^30
  }
  *n2blue = result;
  *nRows = result;
}

void r2br_r2dit_trig_impl(const emxBuffer_creal_T* x, int32_T fftLength, const emxBuffer_real_T* costab,
                          const emxBuffer_real_T* sintab, emxBuffer_creal_T* y) {
  const int32_T L = fftLength;
  const int32_T half = L / 2;
  // Twiddles are read from L = 4 on, up to index L/2 - 1.
  const bool tablesShort = L >= 4 && (emxNumel(costab) < half || emxNumel(sintab) < half);
  if (L < 0 || (L > 0 && !detail::isPowerOfTwo(L)) || tablesShort) {
    detail::makeEmpty(y);
    return;
  }
  const int32_T nx = emxVectorLength(x);
  const int32_T used = nx < L ? nx : L;
  if (x == y || x->data == y->data) {
    // Same block: load from a copy, as the bit-reversed load would overwrite
    // samples it has yet to read.
    detail::EmxTemp<emxBuffer_creal_T> copy(1);
    if (!detail::resizeVector(copy.get(), used)) {
      detail::makeEmpty(y);
      return;
    }
    for (int32_T i = 0; i < used; ++i) copy.get()->data[i] = x->data[i];
    if (!detail::resizeVector(y, L)) return;
    detail::radix2Transform(copy.get()->data, used, L, costab->data, sintab->data, y->data);
    return;
  }
  if (!detail::resizeVector(y, L)) return;
  detail::radix2Transform(x->data, used, L, costab->data, sintab->data, y->data);
}

void r2br_r2dit_trig(const emxBuffer_creal_T* x, int32_T fftLength, const emxBuffer_real_T* costab,
                     const emxBuffer_real_T* sintab, emxBuffer_creal_T* y) {
  r2br_r2dit_trig_impl(x, fftLength, costab, sintab, y);
  if (y->size != nullptr && y->size[0] == fftLength) detail::scaleByInverseLength(y->data, fftLength);
}

}  // namespace audiomeas
