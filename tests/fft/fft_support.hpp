// Helpers for the transform tests: owning emx vectors, a plain DFT in long
// double, and bit comparisons.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "audiomeas_types.h"
#include "emx.hpp"

namespace audiomeas::test {

// An owning emx vector of element type Array (emxBuffer_real_T or
// emxBuffer_creal_T), pre-filled with a sentinel capacity when asked.
template <class Array>
class Vec {
 public:
  using T = EmxElement<Array>;
  explicit Vec(const std::vector<T>& values = {}) {
    emxInit(&array_, 1);
    emxResize1(array_, static_cast<int32_T>(values.size()));
    if (!values.empty()) std::memcpy(array_->data, values.data(), sizeof(T) * values.size());
  }
  Vec(const Vec&) = delete;
  Vec& operator=(const Vec&) = delete;
  ~Vec() { emxFree(&array_); }
  Array* get() const { return array_; }
  int32_T length() const { return array_->size[0]; }
  const T& operator[](int32_T i) const { return array_->data[i]; }
  std::vector<T> values() const { return {array_->data, array_->data + array_->size[0]}; }

 private:
  Array* array_ = nullptr;
};

using RealVec = Vec<emxBuffer_real_T>;
using ComplexVec = Vec<emxBuffer_creal_T>;

inline std::uint64_t bitsOf(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

struct LongComplex {
  long double re, im;
};

// Plain O(n^2) DFT of x truncated or zero-padded to n; sign -1 forward,
// +1 inverse (unscaled).
inline std::vector<LongComplex> dft(const std::vector<creal_T>& x, int n, int sign) {
  const long double pi = 3.14159265358979323846264338327950288L;
  std::vector<LongComplex> y(static_cast<std::size_t>(n), {0.0L, 0.0L});
  for (int k = 0; k < n; ++k) {
    for (int j = 0; j < n && j < static_cast<int>(x.size()); ++j) {
      const long long jk = static_cast<long long>(j) * k % n;
      const long double a = sign * 2.0L * pi * static_cast<long double>(jk) / n;
      const long double c = std::cos(a), s = std::sin(a);
      y[k].re += x[j].re * c - x[j].im * s;
      y[k].im += x[j].re * s + x[j].im * c;
    }
  }
  return y;
}

inline std::vector<real_T> randomSignal(int n, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<real_T> dist(-1.0, 1.0);
  std::vector<real_T> v(static_cast<std::size_t>(n));
  for (auto& s : v) s = dist(gen);
  return v;
}

inline std::vector<creal_T> widened(const std::vector<real_T>& x) {
  std::vector<creal_T> z;
  for (real_T v : x) z.push_back({v, 0.0});
  return z;
}

}  // namespace audiomeas::test
