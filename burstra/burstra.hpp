// Transient signal-to-noise measurement over 5 ms frames. Levels are dB
// relative to an RMS of 32767 (16-bit full scale).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "audiomeas_types.h"

namespace audiomeas::burstra {

// 20 * log10(rms / 32767), floored at -120 dB; NaN also gives -120.
real_T clampedLevel(real_T rms);

// Counts and sums of one pass over the frames. Counts are held as real_T, as
// the result formulas use them.
struct FrameTally {
  real_T noiseFrames = 0.0;
  real_T noisePowerSum = 0.0;  // sum of the measured mean squares of noise frames
  real_T activeFrames = 0.0;
  real_T activePowerSum = 0.0;    // sum of the measured mean squares of active frames
  real_T activityPowerSum = 0.0;  // sum of the squared activity RMS of active frames
  real_T activePresentFrames = 0.0;
};

// Classifies frames 0 .. frameCount - 1 of frameLength samples each (> 0).
// All three signals must hold frameCount * frameLength samples; frames are
// measured in place, nothing is allocated. A frame is active from the fourth
// consecutive frame whose smoothed activity level is above -30 dB; a quiet
// frame counts as noise when the smoothed presence level is above -50 dB.
// The smoothed level tracks are written into presenceLevels and
// activityLevels as far as they reach (pass empty spans when not wanted).
FrameTally tallyFrames(const real_T* presence, const real_T* activity, const real_T* measured,
                       int32_T frameLength, int32_T frameCount, std::span<real_T> presenceLevels = {},
                       std::span<real_T> activityLevels = {});

// What one call computed, for a host that explains its result; the exported
// C layer passes none. Levels in dB re RMS 32767.
struct Report {
  // Frame classes, per frame.
  enum Class : std::int8_t { kQuiet = 0, kNoise = 1, kActive = 2 };

  real_T frameLength = 0.0;    // samples, floor(0.005 * rate)
  real_T frameCount = 0.0;     // floor(presence length / frameLength)
  int32_T framesMeasured = 0;  // 0 when no frame could be formed
  FrameTally tally;
  real_T activityCheckLevel = 0.0;  // A
  real_T presenceCheckLevel = 0.0;  // P
  real_T activePower = 0.0;         // S, noise-corrected, summed over active frames
  real_T remainderPower = 0.0;      // T
  real_T remainderLevel = 0.0;      // W
  real_T minActiveFrames = 0.0;     // 0.05 s worth of frames
  real_T maxActiveFrames = 0.0;     // 10 s worth of frames
  // The warning conditions, each as tested.
  bool tooShort = false, tooLong = false, activityAbove0 = false, presenceAbove0 = false,
       activeAbove0 = false, remainderAbove0 = false, noFrames = false;

  // Per-frame data, filled when wanted (frameDetails) before the call.
  bool frameDetails = false;
  std::vector<real_T> presenceLevel, presenceSmoothed, activityLevel, activitySmoothed;
  std::vector<std::int8_t> frameClass;
};

// The entry point: writes *warningFlag (first, 0.0), then *activeLevel, then
// *levelDifference, then raises *warningFlag to 1.0 if a check fails. A call
// that forms no frame (rate not finite or below 200 Hz, presenceSignal shorter
// than a frame, activitySignal or measuredSignal shorter than the frames of
// presenceSignal) gives activeLevel -120, levelDifference 0 and the flag 1.0.
void burstra(const emxBuffer_real_T* presenceSignal, const emxBuffer_real_T* activitySignal,
             const emxBuffer_real_T* measuredSignal, real_T sampleRate, real_T* levelDifference,
             real_T* activeLevel, real_T* warningFlag, Report* report = nullptr);

}  // namespace audiomeas::burstra
