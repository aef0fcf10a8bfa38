// Signal matching: the coarse onset stage and the entry point behind the
// exported synkro_2.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>

#include "audiomeas_types.h"
#include "verdict.hpp"

namespace audiomeas::synkro {

// A peak-distinctness ratio above this rejects the match.
inline constexpr real_T kMaxDistinctness = 0.04;

// What one call computed, for a host that explains its result; the exported
// C layer passes none. Each number is the one the call itself used.
struct Report {
  // Which verdict test rejected the match, in the order they are tried.
  enum class Rejection { kNone, kNoOutput, kCoarseShift, kFineLag, kDistinctness };
  // Each verdict test as the call decided it, in the order tried; a test
  // after one that rejected is still decided and recorded.
  struct Tests {
    // Samples (positive delays) against half the reference length, to
    // which the recording is padded or cut for the coarse stage.
    VerdictTest coarseShift;
    VerdictTest fineLag;       // |fine lag|, samples, against a third of the recording length
    VerdictTest distinctness;  // peak-distinctness ratio; a NaN ratio passes
  };

  real_T blockLength = 0.0;     // samples per 5 ms block; 0: no coarse stage
  real_T referenceOnset = 0.0;  // 1-based blocks; 0: not found
  real_T recordingOnset = 0.0;
  real_T recordingThreshold = std::numeric_limits<real_T>::quiet_NaN();  // dB re 1.0
  real_T coarseShift = 0.0;    // samples; positive delays the recording
  std::int64_t peakIndex = 0;  // 1-based correlation index; lag n - index
  real_T peakValue = std::numeric_limits<real_T>::quiet_NaN();
  real_T fineLag = 0.0;
  Tests tests;
  Rejection rejection = Rejection::kNoOutput;
  // When set, sees the 2n - 1 correlation magnitudes (1-based index k is
  // lag n - k) and the 1-based peak index before they are freed.
  std::function<void(const real_T* magnitude, std::int64_t count, std::int64_t peakIndex)> correlation;
};

// Moves paddedRecording by whole 5 ms blocks so that its onset of sustained
// activity meets the reference's.
//
// reference and paddedRecording hold n samples each (block positions follow
// the reference's length, the bounds of the move the recording's). Levels are
// dB re RMS 1.0 over frames of N + 1 samples, N = floor(0.005 * sampleRate);
// the reference counts as active above -50 dB, the recording above its own
// overall level less 12 dB; an onset is the first block after which more than
// 160 of the last 200 blocks were active.
//
// shiftedRecording (one-dimensional, not an input) is resized to the
// recording's length and receives it delayed by d = N * (reference onset -
// recording onset) samples (negative d advances it), zero-filled elsewhere.
// An onset not found counts as block 0. *coarseFailed is 1.0 when d exceeds
// half the length, else 0.0.
//
// A sample rate below 200 Hz, NaN or infinite, or signals of fewer than 161
// blocks give no onset: an unmoved copy and 0.0. Should shiftedRecording not
// be growable, it is left empty and *coarseFailed is 1.0.
void crude_align(const emxBuffer_real_T* reference, const emxBuffer_real_T* paddedRecording,
                 real_T sampleRate, emxBuffer_real_T* shiftedRecording, real_T* coarseFailed,
                 Report* report = nullptr);

// The exported synkro_2 (see synkro_2.h for the contract).
void synkro_2(const emxBuffer_real_T* reference, const emxBuffer_real_T* recording, real_T sampleRate,
              emxBuffer_real_T* alignedRecording, real_T* fineLag, real_T* alignmentFailed,
              Report* report = nullptr);

}  // namespace audiomeas::synkro
