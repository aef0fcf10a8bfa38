// Test signals for signal matching: deterministic noise laid out in 5 ms
// blocks, and the expected whole-sample moves.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "audiomeas_types.h"
#include "test_arrays.hpp"

namespace audiomeas::test {

// Magnitudes uniform in [amplitude/2, amplitude), random sign; reproducible.
inline std::vector<real_T> noise(int32_T n, real_T amplitude, uint64_t seed) {
  auto uniform = [&seed] {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<real_T>(seed >> 11) * 0x1.0p-53;
  };
  std::vector<real_T> x(static_cast<std::size_t>(n));
  for (auto& v : x) {
    const real_T a = amplitude * (0.5 + 0.5 * uniform());
    v = uniform() < 0.5 ? -a : a;
  }
  return x;
}

// n samples in blocks of N: block k (1-based) holds noise when active(k).
// The first sample of every block is 0, so a block's frame (its N samples
// and the next block's first) has the level of that block alone.
inline std::vector<real_T> blocks(int32_T n, int32_T N, const std::function<bool(int64_t)>& active,
                                  real_T amplitude = 0.5, uint64_t seed = 7) {
  std::vector<real_T> x = noise(n, amplitude, seed);
  for (int64_t i = 0; i < n; ++i) {
    if (i % N == 0 || !active(i / N + 1)) x[static_cast<std::size_t>(i)] = 0.0;
  }
  return x;
}

// x delayed by d samples (advanced when d < 0), zero-filled, m samples long
// (x's length by default).
inline std::vector<real_T> moved(const std::vector<real_T>& x, int64_t d, int64_t m = -1) {
  const auto n = static_cast<int64_t>(x.size());
  std::vector<real_T> y(static_cast<std::size_t>(m < 0 ? n : m), 0.0);
  for (int64_t j = 0; j < static_cast<int64_t>(y.size()); ++j) {
    if (j - d >= 0 && j - d < n) y[static_cast<std::size_t>(j)] = x[static_cast<std::size_t>(j - d)];
  }
  return y;
}

}  // namespace audiomeas::test
