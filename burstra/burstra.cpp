#include "burstra.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "emx.hpp"
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
  f.frameCount = std::floor(static_cast<real_T>(emxVectorLength(presence)) / f.frameLength);
  // A zero frame length makes frameCount infinite (or NaN); with both at
  // least 1, 1 <= frameLength <= n <= INT32_MAX and frameCount <= n.
  if (!(f.frameLength >= 1.0 && f.frameCount >= 1.0)) return f;
  const auto length = static_cast<int32_T>(f.frameLength);
  const auto count = static_cast<int32_T>(f.frameCount);
  const std::int64_t covered = static_cast<std::int64_t>(count) * length;
  if (emxVectorLength(activity) < covered || emxVectorLength(measured) < covered) return f;
  f.length = length;
  f.count = count;
  return f;
}

// The three signals' sums of squares over one frame in one pass: three
// independent left-to-right sums, each starting from its first square, so
// each has the bits of sumOfSquares over that frame alone (n >= 1).
struct FrameSquares {
  real_T presence, activity, measured;
};
// Sums of squares of presence and measured over their whole extents, left
// to right; the frame loop carries them along (two more independent chains)
// when asked, so that the signals are read once.
struct WholeSquares {
  real_T presence = 0.0, measured = 0.0;
  std::int64_t done = 0;  // samples summed so far
};
template <bool kWhole>
inline FrameSquares frameSquares(const real_T* p, const real_T* a, const real_T* m, int32_T n,
                                 WholeSquares* whole) {
  FrameSquares s{p[0] * p[0], a[0] * a[0], m[0] * m[0]};
  if constexpr (kWhole) {
    if (whole->done == 0) {
      whole->presence = s.presence;
      whole->measured = s.measured;
    } else {
      whole->presence += s.presence;
      whole->measured += s.measured;
    }
    for (int32_T k = 1; k < n; ++k) {
      const real_T pp = p[k] * p[k], mm = m[k] * m[k];
      s.presence += pp;
      s.activity += a[k] * a[k];
      s.measured += mm;
      whole->presence += pp;
      whole->measured += mm;
    }
    whole->done += n;
  } else {
    for (int32_T k = 1; k < n; ++k) {
      s.presence += p[k] * p[k];
      s.activity += a[k] * a[k];
      s.measured += m[k] * m[k];
    }
  }
  return s;
}

}  // namespace detail

real_T clampedLevel(real_T rms) {
  const real_T level = 20.0 * std::log10(rms / 32767.0);
  return (level < -120.0 || rtIsNaN(level)) ? -120.0 : level;
}

namespace detail {

template <bool kWhole>
FrameTally tally(const real_T* presence, const real_T* activity, const real_T* measured, int32_T frameLength,
                 int32_T frameCount, std::span<real_T> presenceLevels, std::span<real_T> activityLevels,
                 WholeSquares* whole, Report* report = nullptr) {
  const bool details = report != nullptr && report->frameDetails;
  if (details) {
    for (auto* v : {&report->presenceLevel, &report->presenceSmoothed, &report->activityLevel,
                    &report->activitySmoothed}) {
      v->assign(static_cast<std::size_t>(frameCount), 0.0);
    }
    report->frameClass.assign(static_cast<std::size_t>(frameCount), Report::kQuiet);
  }
  FrameTally t;
  const auto length = static_cast<real_T>(frameLength);
  real_T presenceLevel = 0.0;
  real_T activityLevel = 0.0;
  int32_T activeRun = 0;
  for (int32_T i = 0; i < frameCount; ++i) {
    const std::int64_t start = static_cast<std::int64_t>(i) * frameLength;
    const FrameSquares sq =
        frameSquares<kWhole>(presence + start, activity + start, measured + start, frameLength, whole);
    const real_T p = clampedLevel(std::sqrt(sq.presence / length));
    const real_T r = std::sqrt(sq.activity / length);
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
    if (details) {
      report->presenceLevel[i] = p;
      report->presenceSmoothed[i] = presenceLevel;
      report->activityLevel[i] = a;
      report->activitySmoothed[i] = activityLevel;
      report->frameClass[i] = active ? Report::kActive : present ? Report::kNoise : Report::kQuiet;
    }
    if (active) {
      t.activeFrames += 1.0;
      t.activityPowerSum += r * r;
      t.activePowerSum += sq.measured / length;
      if (present) t.activePresentFrames += 1.0;
    } else if (present) {
      t.noiseFrames += 1.0;
      t.noisePowerSum += sq.measured / length;
    }
  }
  return t;
}

}  // namespace detail

FrameTally tallyFrames(const real_T* presence, const real_T* activity, const real_T* measured,
                       int32_T frameLength, int32_T frameCount, std::span<real_T> presenceLevels,
                       std::span<real_T> activityLevels) {
  return detail::tally<false>(presence, activity, measured, frameLength, frameCount, presenceLevels,
                              activityLevels, nullptr);
}

namespace detail {

// Finishes a whole-signal sum of squares that the frame loop started: the
// samples from `done` to the end of x, in order (sumOfSquares of all of x).
real_T finishSquares(const real_T* x, int32_T n, std::int64_t done, real_T carried) {
  if (done == 0) return sumOfSquares(x, n);
  for (std::int64_t k = done; k < n; ++k) carried += x[k] * x[k];
  return carried;
}

}  // namespace detail

void burstra(const emxBuffer_real_T* presenceSignal, const emxBuffer_real_T* activitySignal,
             const emxBuffer_real_T* measuredSignal, real_T sampleRate, real_T* levelDifference,
             real_T* activeLevel, real_T* warningFlag, Report* report) {
  *warningFlag = 0.0;
  const detail::Framing f = detail::frame(presenceSignal, activitySignal, measuredSignal, sampleRate);
  detail::WholeSquares whole;
  const FrameTally t =
      f.count > 0 ? detail::tally<true>(presenceSignal->data, activitySignal->data, measuredSignal->data,
                                        f.length, f.count, {}, {}, &whole, report)
                  : FrameTally{};
  const int32_T presenceLength = emxVectorLength(presenceSignal);
  const int32_T measuredLength = emxVectorLength(measuredSignal);
  const real_T presenceSquares =
      detail::finishSquares(presenceSignal->data, presenceLength, whole.done, whole.presence);
  const real_T measuredSquares =
      detail::finishSquares(measuredSignal->data, measuredLength, whole.done, whole.measured);

  // With no frame the counters stay 0: the 0/0 terms make S NaN and so both
  // levels -120 and their difference 0.
  const real_T A = 20.0 * std::log10((std::sqrt(t.activityPowerSum / t.activeFrames) + 1.0E-6) / 32767.0);
  // rmsOf(presence): sqrt of its sum of squares over its length (0/0 when empty).
  const real_T P =
      20.0 * std::log10(std::sqrt(presenceSquares / static_cast<real_T>(presenceLength)) / 32767.0);
  const real_T S = t.activePowerSum - t.noisePowerSum / t.noiseFrames * t.activePresentFrames;
  *activeLevel = clampedLevel(std::sqrt(S / t.activeFrames));
  const real_T T = measuredSquares / f.frameLength - S;
  const real_T W = clampedLevel(std::sqrt(T / f.frameCount));
  *levelDifference = W - *activeLevel;

  // Comparisons with NaN are false, so a NaN level never raises the flag; a
  // call without frames always does, also where the rate makes the first
  // bound NaN.
  const real_T minFrames = 0.05 * sampleRate / f.frameLength;
  const real_T maxFrames = 10.0 * sampleRate / f.frameLength;
  if (minFrames > t.activeFrames || t.activeFrames > maxFrames || A > 0.0 || P > 0.0 || *activeLevel > 0.0 ||
      W > 0.0 || f.count == 0) {
    *warningFlag = 1.0;
  }
  if (report != nullptr) {
    report->frameLength = f.frameLength;
    report->frameCount = f.frameCount;
    report->framesMeasured = f.count;
    report->tally = t;
    report->activityCheckLevel = A;
    report->presenceCheckLevel = P;
    report->activePower = S;
    report->remainderPower = T;
    report->remainderLevel = W;
    report->minActiveFrames = minFrames;
    report->maxActiveFrames = maxFrames;
    report->tooShort = minFrames > t.activeFrames;
    report->tooLong = t.activeFrames > maxFrames;
    report->activityAbove0 = A > 0.0;
    report->presenceAbove0 = P > 0.0;
    report->activeAbove0 = *activeLevel > 0.0;
    report->remainderAbove0 = W > 0.0;
    report->noFrames = f.count == 0;
  }
}

}  // namespace audiomeas::burstra
