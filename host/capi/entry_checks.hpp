// Range checks at the C interface's entry, on numbers that reach integer
// arithmetic inside (sample counts from a rate, a pad): each is refused
// here before any conversion.
#pragma once

#include <cmath>
#include <cstdint>

#include "status.hpp"
#include "text.hpp"

namespace audiomeas::host::capi {

// The highest rate a call takes, Hz: audio files give rates as int, and
// the hosts count samples per second in one.
inline constexpr double kMaxSampleRate = INT32_MAX;

// Infinite, NaN, 0 and negative rates are left to the measurement's own message.
inline void requireRateFits(double rate) {
  if (std::isfinite(rate) && rate > kMaxSampleRate)
    throw InputError("sample_rate", fmt("%g Hz is above the %.0f Hz a call takes", rate, kMaxSampleRate));
}

}  // namespace audiomeas::host::capi
