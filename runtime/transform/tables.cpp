// Twiddle tables: the one quarter wave that calls cos and sin, and the
// cosine and sine tables folded out of it.
#include <cmath>

#include "emx.hpp"
#include "fft_detail.hpp"

namespace audiomeas::detail {

void quarterWaveTable(int32_T N, real_T* costab1q) {
  const real_T e = 6.283185307179586 / static_cast<real_T>(N);
  const int32_T q = N / 4;
  const int32_T eighth = q / 2;
  costab1q[0] = 1.0;
  for (int32_T k = 1; k <= eighth; ++k) costab1q[k] = std::cos(static_cast<real_T>(k) * e);
  for (int32_T k = eighth + 1; k < q; ++k) costab1q[k] = std::sin(static_cast<real_T>(q - k) * e);
  costab1q[q] = 0.0;
}

void cosineTable(int32_T N, const real_T* costab1q, real_T* costab) {
  const int32_T q = N / 4;
  const int32_T h = 2 * q;
  costab[0] = 1.0;
  for (int32_T k = 1; k <= q; ++k) costab[k] = costab1q[k];
  for (int32_T k = q + 1; k <= h; ++k) costab[k] = -costab1q[h - k];
}

void sineTable(int32_T N, const real_T* costab1q, bool inverse, real_T* sintab) {
  const int32_T q = N / 4;
  const int32_T h = 2 * q;
  if (inverse) {
    for (int32_T k = 1; k <= q; ++k) sintab[k] = costab1q[q - k];
    for (int32_T k = q + 1; k <= h; ++k) sintab[k] = costab1q[k - q];
  } else {
    for (int32_T k = 1; k <= q; ++k) sintab[k] = -costab1q[q - k];
    for (int32_T k = q + 1; k <= h; ++k) sintab[k] = -costab1q[k - q];
  }
}

void twiddleTables(int32_T N, bool inverse, real_T* costab1q, real_T* costab, real_T* sintab) {
  quarterWaveTable(N, costab1q);
  cosineTable(N, costab1q, costab);
  sintab[0] = 0.0;
  sineTable(N, costab1q, inverse, sintab);
}

bool Tables::build(int32_T N, TableUse use) {
  if (!resizeRow(costab1q.get(), quarterWaveCount(N))) return false;
  quarterWaveTable(N, costab1q.get()->data);
  const int32_T count = halfWaveCount(N);
  if (!resizeRow(costab.get(), count)) return false;
  cosineTable(N, costab1q.get()->data, costab.get()->data);
  if (use != TableUse::kInverse) {
    if (!resizeRow(sintab.get(), count)) return false;
    sintab.get()->data[0] = 0.0;
    sineTable(N, costab1q.get()->data, false, sintab.get()->data);
  }
  if (use != TableUse::kForward) {
    if (!resizeRow(sintabinv.get(), count)) return false;
    // The radix-2 inverse sets entry 0; the Bluestein set leaves it unwritten.
    if (use == TableUse::kInverse) sintabinv.get()->data[0] = 0.0;
    sineTable(N, costab1q.get()->data, true, sintabinv.get()->data);
  }
  return true;
}

}  // namespace audiomeas::detail
