// Deterministic test signals for the demo, with the truth each measurement
// should find in them.
#pragma once

#include <cstdint>
#include <vector>

#include "generate.hpp"

namespace audiomeas::cli::demo {

inline constexpr int kRate = 48000;

// Reproducible uniform noise, shared with the signal generators.
using host::Lcg;

// align: the reference is silent, then noise from onsetSample; the recording
// is the reference scaled by gain, delaySamples later, over faint noise.
// Samples at full scale 1.0, on the 16-bit grid (k / 32768) so that a 16-bit
// file holds them exactly.
struct AlignCase {
  std::vector<double> reference, recording;
  long long onsetSample = 0;
  long long delaySamples = 0;
  double gainDb = 0.0;
  double backgroundDb = 0.0;  // re full scale 1.0
  // Truth: the coarse stage moves by whole 5 ms blocks, the fine lag is the rest.
  long long coarseShift = 0;  // samples, negative: recording advanced
  long long fineLag = 0;
};
AlignCase makeAlignCase();

// attack-release: the generator's 115.5 s stimulus stepping up at
// stepUpSeconds and back down at stepDownSeconds, through the reference
// compressor (attackSeconds while its level rises, releaseSeconds while it
// falls); recorded delaySamples late. 16-bit scale, integer samples.
struct AttackReleaseCase {
  std::vector<double> reference, recording;
  std::vector<double> deviceOutput;    // the recording without its delay
  double quietDb = 0.0, loudDb = 0.0;  // dBFS RMS (full scale: 16-bit value 32768)
  double stepUpSeconds = 0.0, stepDownSeconds = 0.0;
  double thresholdDb = 0.0;  // re 32767
  double ratio = 0.0, attackSeconds = 0.0, releaseSeconds = 0.0;
  long long delaySamples = 0;
  // Truth: the settle times of deviceOutput, as the measurement defines them
  // (see settleTimes), found without any alignment.
  double riseSettleTime = 0.0, fallSettleTime = 0.0;
};
AttackReleaseCase makeAttackReleaseCase();

// The settle times (rise, fall) of a signal already on the test signal's
// timeline: smoothed 2.5 s level windows every 0.2 s from 40.2 s (falling)
// and 65.4 s (rising), settled at the first two consecutive values on the
// steady side of a band set by the last 51 values. 0.0 when none.
struct SettleTimes {
  double rise = 0.0, fall = 0.0;
};
SettleTimes settleTimes(const std::vector<double>& aligned);

// transient-snr: a steady presence signal; an activity signal that is on
// from 20 ms before the burst to its end; a measured signal with background
// noise everywhere and a burst on top. 16-bit scale, integer samples.
struct TransientCase {
  std::vector<double> presence, activity, measured;
  double burstStartSeconds = 0.0, burstEndSeconds = 0.0;
  // Truth, dB re RMS 32767: the burst's own level over its span, the
  // background's over the whole signal, and their difference.
  double activeLevel = 0.0, restLevel = 0.0, levelDifference = 0.0;
};
TransientCase makeTransientCase();

}  // namespace audiomeas::cli::demo
