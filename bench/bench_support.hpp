// Test signals for the benchmarks: deterministic noise with level steps, at
// 48 kHz, in host-built arrays.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace bench {

inline constexpr int kRate = 48000;

// Noise of unit-ish amplitude whose level follows a few seconds-long steps;
// recording = the signal delayed by `delay` samples.
inline std::vector<double> programme(std::size_t n, std::uint64_t seed, std::size_t delay = 0) {
  std::vector<double> v(n, 0.0);
  std::uint64_t s = seed * 0x9E3779B97F4A7C15ull + 1;
  for (std::size_t i = delay; i < n; ++i) {
    s ^= s << 13, s ^= s >> 7, s ^= s << 17;
    const double u = static_cast<double>(s >> 11) * 0x1.0p-53 - 0.5;
    const std::size_t t = i - delay;
    const double level = ((t / (3 * kRate)) % 3 == 2) ? 0.05 : 1.0;
    v[i] = 8000.0 * level * u;
  }
  return v;
}

}  // namespace bench
