// Building blocks shared by the variable-size and the fixed-size transforms:
// twiddle tables, bit-reversed load, radix-2 stages, 1/L scaling. They work on
// raw element blocks; the callers own sizing and storage.
#pragma once

#include "audiomeas_types.h"
#include "emx.hpp"

namespace audiomeas::detail {

// Twiddle tables for a table length N (a power of two, N >= 1):
// Q = N/4 (truncated) and H = 2Q, so costab1q has Q + 1 entries and the
// half-wave tables H + 1.
constexpr int32_T quarterWaveCount(int32_T N) { return N / 4 + 1; }
constexpr int32_T halfWaveCount(int32_T N) { return 2 * (N / 4) + 1; }

// costab1q[k] = cos(2*pi*k/N) for k = 0 .. Q, the only table that calls cos
// and sin: cos up to N/8, sin of the complement above, exact 1 and 0 at the
// ends (entry Q is written last, so N < 4 leaves the single entry 0).
void quarterWaveTable(int32_T N, real_T* costab1q);

// costab[k] = cos(2*pi*k/N), k = 0 .. H, folded out of the quarter wave.
void cosineTable(int32_T N, const real_T* costab1q, real_T* costab);

// Entries 1 .. H of the sine table: -sin(2*pi*k/N) for the forward
// transform, +sin(2*pi*k/N) for the inverse. The forward values are negated
// copies, so a zero entry is -0.0 there. Entry 0 is left to the caller: no
// stage reads it.
void sineTable(int32_T N, const real_T* costab1q, bool inverse, real_T* sintab);

// The quarter wave into costab1q, then the cosine and the sine table of a
// direction with sine entry 0 set to 0.
void twiddleTables(int32_T N, bool inverse, real_T* costab1q, real_T* costab, real_T* sintab);

inline creal_T widen(real_T v) { return {v, 0.0}; }
inline creal_T widen(const creal_T& v) { return v; }

// Loads x[0 .. count-1] (count <= L, L a power of two) into y in bit-reversed
// order: the destination index advances by a reversed-binary increment
// between elements. Positions not hit are left as they are.
// Reversed-binary increment of a destination index below L - 1 (at L - 1 it
// would not terminate): flip bits from the top down until one turns on.
inline int32_T nextBitReversed(int32_T iy, int32_T L) {
  int32_T b = L;
  bool clear = true;
  while (clear) {
    b >>= 1;
    iy ^= b;
    clear = (iy & b) == 0;
  }
  return iy;
}

template <class Src>
void bitReversedLoad(const Src* x, int32_T count, int32_T L, creal_T* y) {
  int32_T iy = 0;
  for (int32_T i = 0; i < count; ++i) {
    y[iy] = widen(x[i]);
    if (i + 1 == count) break;
    iy = nextBitReversed(iy, L);
  }
}

// The same permutation done in place over all L elements (for a transform
// whose input and output are one block).
void bitReversePermute(creal_T* y, int32_T L);

// The radix-2 decimation-in-time stages over y (already in bit-reversed
// order): the length-2 stage, then per stage twiddle-free butterflies and
// twiddled ones. Tables need L/2 entries; the sine table sets the direction.
void radix2Stages(creal_T* y, int32_T L, const real_T* costab, const real_T* sintab);

// Unscaled transform of x[0 .. nx-1] truncated or zero-padded to L.
template <class Src>
void radix2Transform(const Src* x, int32_T nx, int32_T L, const real_T* costab, const real_T* sintab,
                     creal_T* y) {
  if (nx < L) {
    for (int32_T i = 0; i < L; ++i) y[i] = {0.0, 0.0};
  }
  bitReversedLoad(x, nx < L ? nx : L, L, y);
  radix2Stages(y, L, costab, sintab);
}

// Multiplies re and im of y[0 .. L-1] by 1.0/L; a single element is left as
// it is.
void scaleByInverseLength(creal_T* y, int32_T L);

inline bool isPowerOfTwo(int32_T n) { return n > 0 && (n & (n - 1)) == 0; }

// Longest transform that is not a power of two: its Bluestein length, the
// power of two >= 2n - 1, must not exceed 2^30.
inline constexpr int32_T kMaxBluesteinLength = 1 << 29;

inline bool isSupportedLength(int32_T n) { return n >= 0 && (n <= kMaxBluesteinLength || isPowerOfTwo(n)); }

// A requested length as a transform length: truncated toward zero; 0 for a
// negative or NaN n; -1 for a length the engine does not support.
int32_T supportedLength(real_T n);

// An emx temporary that lives for one scope.
template <class Array>
class EmxTemp {
 public:
  explicit EmxTemp(int32_T dims) { emxInit(&array_, dims); }
  EmxTemp(const EmxTemp&) = delete;
  EmxTemp& operator=(const EmxTemp&) = delete;
  ~EmxTemp() { emxFree(&array_); }
  Array* get() const { return array_; }

 private:
  Array* array_ = nullptr;
};

// Resizes a table to one row of n entries, or a complex vector to n
// elements; false (and nothing to write into) when that is impossible.
bool resizeRow(emxBuffer_real_T* a, int32_T n);
bool resizeVector(emxBuffer_creal_T* a, int32_T n);
// The outcome of a transform that could not run: an empty vector.
void makeEmpty(emxBuffer_creal_T* y);

enum class TableUse { kForward, kInverse, kBluestein };

// Tables of one transform call for a table length N: costab and the forward
// sine table (kForward), costab and the inverse sine table (kInverse), or all
// three (kBluestein). Each is a one-row array.
struct Tables {
  EmxTemp<emxBuffer_real_T> costab1q{2}, costab{2}, sintab{2}, sintabinv{2};
  bool build(int32_T N, TableUse use);
};

// Chirp of 2n - 1 values for Bluestein's method, symmetric about n - 1:
// w[n-1-k] = w[n-1+k] = exp(+i pi k^2/n) forward, exp(-i pi k^2/n) inverse,
// with k^2 reduced modulo 2n; an angle of exactly 0 gives (1, -0.0).
void bluesteinChirp(int32_T n, bool inverse, creal_T* w);

// Bluestein's method for a length n >= 3 that is not a power of two, with
// tables built for N2 >= 2n - 1: y := forward transform of x[0 .. nx-1]
// truncated or zero-padded to n, or the inverse (divided by n). x may be
// y's own block. False when a work array cannot be allocated.
template <class Src>
bool bluestein(const Src* x, int32_T nx, int32_T N2, int32_T n, const Tables& tables, bool inverse,
               emxBuffer_creal_T* y);

}  // namespace audiomeas::detail
