#include "burstra.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "reductions.hpp"
#include "rt_nonfinite.hpp"

namespace audiomeas::burstra {

namespace detail {

// First-order recursive smoother of a level track, in this operand order;
// the second weight is the double nearest 1 - 0.9, not 0.1.
inline real_T smooth(real_T level, real_T previousSmoothed) {
  return 0.9 * level + 0.09999999999999998 * previousSmoothed;
}

// Frames of presenceSignal that the call can measure: 0 unless the rate
// gives a frame length of at least one sample and all three signals cover
// the frames. Never converts a value out of int32_T range (or NaN).
struct Framing {
  real_T frameLength;  // floor(0.005 * sampleRate), whatever the rate
  real_T frameCount;   // floor(n / frameLength), NaN or infinite for a bad rate
  int32_T length = 0;  // frameLength as an integer when count > 0
  int32_T count = 0;
};

Framing frame(const emxBuffer_real_T* presence, const emxBuffer_real_T* activity,
              const emxBuffer_real_T* measured, real_T sampleRate) {
  Framing f;
  f.frameLength = std::floor(0.005 * sampleRate);
  f.frameCount = std::floor(static_cast<real_T>(presence->size[0]) / f.frameLength);
  // A zero frame length makes frameCount infinite (or NaN); with both at
  // least 1, 1 <= frameLength <= n <= INT32_MAX and frameCount <= n.
  if (!(f.frameLength >= 1.0 && f.frameCount >= 1.0)) return f;
  const auto length = static_cast<int32_T>(f.frameLength);
  const auto count = static_cast<int32_T>(f.frameCount);
  const std::int64_t covered = static_cast<std::int64_t>(count) * length;
  if (activity->size[0] < covered || measured->size[0] < covered) return f;
  f.length = length;
  f.count = count;
  return f;
}

}  // namespace detail

real_T clampedLevel(real_T rms) {
  const real_T level = 20.0 * std::log10(rms / 32767.0);
  return (level < -120.0 || rtIsNaN(level)) ? -120.0 : level;
}

FrameTally tallyFrames(const real_T* presence, const real_T* activity, const real_T* measured,
                       int32_T frameLength, int32_T frameCount,
                       std::span<real_T> presenceLevels, std::span<real_T> activityLevels) {
  FrameTally t;
  const auto length = static_cast<real_T>(frameLength);
  real_T presenceLevel = 0.0;
  real_T activityLevel = 0.0;
  int32_T activeRun = 0;
  for (int32_T i = 0; i < frameCount; ++i) {
    const std::int64_t start = static_cast<std::int64_t>(i) * frameLength;
    const real_T p = clampedLevel(rmsOf(presence + start, frameLength));
    const real_T r = rmsOf(activity + start, frameLength);
    const real_T a = clampedLevel(r);
    presenceLevel = i > 0 ? detail::smooth(p, presenceLevel) : p;
    activityLevel = i > 0 ? detail::smooth(a, activityLevel) : a;
    if (static_cast<std::size_t>(i) < presenceLevels.size()) presenceLevels[i] = presenceLevel;
    if (static_cast<std::size_t>(i) < activityLevels.size()) activityLevels[i] = activityLevel;

    bool active = false;
    if (activityLevel > -30.0) {
      ++activeRun;  // at most frameCount, so it cannot overflow
      active = activeRun > 3;
    } else {
      activeRun = 0;
    }

    const bool present = presenceLevel > -50.0;
    if (active) {
      t.activeFrames += 1.0;
      t.activityPowerSum += r * r;
      t.activePowerSum += sumOfSquares(measured + start, frameLength) / length;
      if (present) t.activePresentFrames += 1.0;
    } else if (present) {
      t.noiseFrames += 1.0;
      t.noisePowerSum += sumOfSquares(measured + start, frameLength) / length;
    }
  }
  return t;
}

void burstra(const emxBuffer_real_T* presenceSignal, const emxBuffer_real_T* activitySignal,
             const emxBuffer_real_T* measuredSignal, real_T sampleRate,
             real_T* levelDifference, real_T* activeLevel, real_T* warningFlag) {
  *warningFlag = 0.0;
  const detail::Framing f = detail::frame(presenceSignal, activitySignal, measuredSignal, sampleRate);
  const FrameTally t = f.count > 0 ? tallyFrames(presenceSignal->data, activitySignal->data,
                                                 measuredSignal->data, f.length, f.count)
                                   : FrameTally{};

  // With no frame the counters stay 0: the 0/0 terms make S NaN and so both
  // levels -120 and their difference 0.
  const real_T A =
      20.0 * std::log10((std::sqrt(t.activityPowerSum / t.activeFrames) + 1.0E-6) / 32767.0);
  const real_T P = 20.0 * std::log10(rmsOf(presenceSignal->data, presenceSignal->size[0]) / 32767.0);
  const real_T S = t.activePowerSum - t.noisePowerSum / t.noiseFrames * t.activePresentFrames;
  *activeLevel = clampedLevel(std::sqrt(S / t.activeFrames));
  const real_T T =
      sumOfSquares(measuredSignal->data, measuredSignal->size[0]) / f.frameLength - S;
  const real_T W = clampedLevel(std::sqrt(T / f.frameCount));
  *levelDifference = W - *activeLevel;

  // Comparisons with NaN are false, so a NaN level never raises the flag; a
  // call without frames always does, also where the rate makes the first
  // bound NaN.
  if (0.05 * sampleRate / f.frameLength > t.activeFrames ||
      t.activeFrames > 10.0 * sampleRate / f.frameLength || A > 0.0 || P > 0.0 ||
      *activeLevel > 0.0 || W > 0.0 || f.count == 0) {
    *warningFlag = 1.0;
  }
}

}  // namespace audiomeas::burstra
