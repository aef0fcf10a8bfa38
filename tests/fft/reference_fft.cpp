#include "reference_fft.hpp"

#include <algorithm>
#include <cmath>

namespace audiomeas::test::plain {

Tables tables(int N, bool inverse) {
  const real_T e = 6.283185307179586 / static_cast<real_T>(N);
  const int q = N / 4;
  const int h = 2 * q;
  std::vector<real_T> c1q(static_cast<std::size_t>(q) + 1);
  c1q[0] = 1.0;
  for (int k = 1; k <= q / 2; ++k) c1q[k] = std::cos(static_cast<real_T>(k) * e);
  for (int k = q / 2 + 1; k < q; ++k) c1q[k] = std::sin(static_cast<real_T>(q - k) * e);
  c1q[q] = 0.0;
  Tables t{std::vector<real_T>(static_cast<std::size_t>(h) + 1),
           std::vector<real_T>(static_cast<std::size_t>(h) + 1)};
  t.costab[0] = 1.0;
  for (int k = 1; k <= q; ++k) t.costab[k] = c1q[k];
  for (int k = q + 1; k <= h; ++k) t.costab[k] = -c1q[h - k];
  t.sintab[0] = 0.0;
  for (int k = 1; k <= q; ++k) t.sintab[k] = inverse ? c1q[q - k] : -c1q[q - k];
  for (int k = q + 1; k <= h; ++k) t.sintab[k] = inverse ? c1q[k - q] : -c1q[k - q];
  return t;
}

namespace {

creal_T widen(real_T v) { return {v, 0.0}; }
creal_T widen(const creal_T& v) { return v; }

template <class Src>
std::vector<creal_T> radix2(const Src* x, int count, int L, const Tables& t) {
  std::vector<creal_T> y(static_cast<std::size_t>(L), creal_T{0.0, 0.0});
  count = std::min(count, L);
  int iy = 0;
  for (int i = 0; i < count; ++i) {
    y[iy] = widen(x[i]);
    if (i + 1 == count) break;
    int b = L;
    bool clear = true;
    while (clear) {
      b >>= 1;
      iy ^= b;
      clear = (iy & b) == 0;
    }
  }
  if (L <= 1) return y;
  for (int i = 0; i <= L - 2; i += 2) {
    const creal_T a = y[i], b = y[i + 1];
    y[i] = {a.re + b.re, a.im + b.im};
    y[i + 1] = {a.re - b.re, a.im - b.im};
  }
  if (L < 4) return y;
  int k = L / 4, d = 2, span = 4, h = 4 * k - 3;
  for (;;) {
    for (int i = 0; i < h; i += span) {
      const creal_T u = y[i + d];
      y[i + d] = {y[i].re - u.re, y[i].im - u.im};
      y[i] = {y[i].re + u.re, y[i].im + u.im};
    }
    int start = 1;
    for (int j = k; j < L / 2; j += k) {
      const real_T wre = t.costab[j], wim = t.sintab[j];
      for (int i = start; i < start + h; i += span) {
        const creal_T u = y[i + d];
        const creal_T v = {wre * u.re - wim * u.im, wre * u.im + wim * u.re};
        y[i + d] = {y[i].re - v.re, y[i].im - v.im};
        y[i] = {y[i].re + v.re, y[i].im + v.im};
      }
      ++start;
    }
    if (k == 1) break;
    h -= span;
    d = span;
    span *= 2;
    k /= 2;
  }
  return y;
}

}  // namespace

std::vector<creal_T> forward(const real_T* x, int count, int L) {
  return radix2(x, count, L, tables(L, false));
}
std::vector<creal_T> forward(const creal_T* x, int count, int L) {
  return radix2(x, count, L, tables(L, false));
}

std::vector<creal_T> inverse(const creal_T* x, int L) {
  std::vector<creal_T> y = radix2(x, L, L, tables(L, true));
  if (L > 1) {
    const real_T r = 1.0 / static_cast<real_T>(L);
    for (auto& v : y) v = {v.re * r, v.im * r};
  }
  return y;
}

std::vector<real_T> correlate(const real_T* x, int nx, const real_T* y, int ny, int P,
                              bool conjugateBySubtraction) {
  std::vector<creal_T> X = forward(x, nx, P);
  const std::vector<creal_T> Y = forward(y, ny, P);
  for (int k = 0; k < P; ++k) {
    const creal_T a = X[k], b = Y[k];
    X[k] = conjugateBySubtraction ? creal_T{a.re * b.re - a.im * -b.im, a.re * -b.im + a.im * b.re}
                                  : creal_T{a.re * b.re + a.im * b.im, a.re * -b.im + a.im * b.re};
  }
  const std::vector<creal_T> r = inverse(X.data(), P);
  const int maxlag = std::max(nx, ny) - 1;
  std::vector<real_T> c(static_cast<std::size_t>(2 * maxlag + 1));
  for (int i = 0; i < maxlag; ++i) c[i] = r[P - maxlag + i].re;
  for (int t = 0; t <= maxlag; ++t) c[maxlag + t] = r[t].re;
  return c;
}

}  // namespace audiomeas::test::plain
