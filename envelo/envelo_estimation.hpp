// envelo's entry point and its stages. All positions are samples at 48 kHz;
// levels are dB of an RMS value (re 1.0 for activity, re 32767 for tracks).
#pragma once

#include <cstdint>
#include <functional>
#include <limits>

#include "audiomeas_types.h"
#include "envelo_kernels.hpp"
#include "verdict.hpp"

namespace audiomeas::envelo {

inline constexpr int32_T kSampleRate = ENVELO_SAMPLE_RATE;
inline constexpr int32_T kBlockLength = 240;  // 5 ms
inline constexpr int32_T kFrameLength = 241;  // a block and the next block's first sample
inline constexpr int32_T kBlockCount = 3000;  // blocks in the aligned stretch
inline constexpr int32_T kMinReferenceLength =
    ENVELO_MIN_REFERENCE_LENGTH;  // the last analysis window ends there

// The alignment verdict's limits.
inline constexpr real_T kMaxShift = 360000.0;  // coarse shift, samples (7.5 s)
inline constexpr real_T kMaxDelay = 240000.0;  // |total delay|, samples (5 s)
inline constexpr int32_T kPeakHalfWindow = 240000;
inline constexpr real_T kMaxDistinctness = 0.04;  // peak distinctness ratio
inline constexpr real_T kMinTotalDelay = 0.0;     // exclusive: the recording must lag

// ---- Reports ----

inline constexpr real_T kNoValue = std::numeric_limits<real_T>::quiet_NaN();

// One analysis segment as the call measured it.
struct SegmentReport {
  int32_T first = 0;  // reference sample where window 0 starts
  int32_T count = 0;  // track values
  real_T track[239];  // smoothed window levels, dB re 32767, 0.2 s apart
  real_T mean = kNoValue, maximum = kNoValue, minimum = kNoValue;  // of the steady band
  real_T threshold = kNoValue;
  int32_T settledPair = -1;  // j: track values j and j + 1 settled it; -1: none
};

// What one call computed, for a host that explains its result; the exported
// C layer passes none.
struct Report {
  // The first reason the alignment failed, in the order the call tests them.
  enum class Rejection { kNone, kShortInput, kCoarseShift, kTotalDelay, kDistinctness, kNotLagging };
  // Each test as the call decided it, in the order tried; a test after one
  // that rejected is still decided and recorded.
  struct Tests {
    VerdictTest coarseShift;    // samples (positive moves later) against kMaxShift
    VerdictTest totalDelay;     // |total delay|, samples, against kMaxDelay
    VerdictTest distinctness;   // peak distinctness ratio; one that cannot be formed fails
    VerdictTest recordingLags;  // total delay, samples, above kMinTotalDelay
  };
  int32_T referenceOnset = 0;  // 1-based blocks; 0: not found
  int32_T recordingOnset = 0;
  real_T recordingThreshold = kNoValue;  // dB re 1.0
  real_T coarseShift = 0.0;              // samples; positive moves the recording later
  int32_T peakIndex = 0;                 // 1-based; lag 720,000 - index
  real_T peakValue = kNoValue;
  real_T fineLag = 0.0;
  real_T totalDelay = 0.0;  // recording sample n + totalDelay is reference sample n
  Tests tests;
  Rejection rejection = Rejection::kShortInput;
  SegmentReport falling, rising;
  // When set, sees the 1,439,999 correlation magnitudes (1-based index k is
  // lag 720,000 - k) and the 1-based peak index before they are reused.
  std::function<void(const real_T* magnitude, int32_T count, int32_T peakIndex)> correlation;
};

// ---- Alignment ----

// 1-based block at which more than 160 of the last 200 blocks were active;
// 0 when that never happened within the 3,000 blocks.
struct Onsets {
  int32_T reference = 0;
  int32_T recording = 0;
};

// 20 log10(rms(sig_tmp) + 1e-6) - 12: the recording's activity threshold, dB re 1.0.
real_T recordingThresholdOf(const real_T sig_tmp[kSignalLength]);

// Activity onsets of both signals. Needs 720,001 reference samples; the
// recording's last frame (block 2999) has only 240 samples and is measured
// over those. Stops once both onsets are known.
Onsets findOnsets(const real_T* reference, const real_T sig_tmp[kSignalLength], real_T threshold);

// 240 * (reference onset - recording onset), samples; positive moves the
// recording later.
real_T coarseShiftOf(const Onsets& onsets);

// out[n + shift] = sig_tmp[n] where both exist, 0.0 elsewhere.
void shiftSamples(const real_T sig_tmp[kSignalLength], real_T shift, real_T out[kSignalLength]);

// First strongest correlation magnitude; index is 1-based. NaN values are
// skipped; when all are NaN the index is 1 and the value NaN.
struct Peak {
  int32_T index;
  real_T value;
};
Peak findPeak(const real_T cross_cor[kCorrelationLength]);

// 1.0 when the coarse shift exceeds 360,000 samples, the total delay's
// magnitude exceeds 240,000, or the mean of the other magnitudes within
// +-240,000 of the peak exceeds 4 % of it (the window is clipped to the
// correlation, the divisor stays 480,000; an undefined ratio fails too).
// tests, when given, receives the three tests as decided, the peak
// distinctness ratio formed whatever the earlier tests decided.
real_T alignmentVerdict(real_T coarseShift, real_T totalDelay, const real_T cross_cor[kCorrelationLength],
                        Peak peak, Report::Tests* tests = nullptr);

// Total delay (recording sample n + delay is reference sample n) and the
// failure flag, which is also set for a delay of zero or less. Reads the
// first 720,000 samples of each input (720,001 of the reference).
struct Alignment {
  real_T totalDelay;
  real_T failed;
};
Alignment alignRecording(const real_T* reference, const real_T* recording, Report* report = nullptr);

// ---- Analysis ----

// The recording moved earlier by the delay, read in place: sample n is
// recording[n + delay] while that exists, else 0.0. A failed alignment reads
// as silence throughout.
struct AlignedRecording {
  const real_T* recording;
  std::int64_t length;  // samples of recording that may be read
  std::int64_t delay;   // >= 0
};
AlignedRecording alignedRecording(const real_T* recording, int32_T length, const Alignment& a);

inline constexpr int32_T kWindowLength = 120000;  // 2.5 s
inline constexpr int32_T kWindowHop = 9600;       // 0.2 s
inline constexpr int32_T kSteadyCount = 51;       // track values that define the steady band

// b_rms of the 120,000 aligned samples from start (start >= 0).
real_T windowRms(const AlignedRecording& aligned, int32_T start);

// Smoothed window levels in dB re 32767: track[0] = 20 v,
// track[i] = 1.9999999999999996 v + 0.9 track[i - 1], v = log10((r + 1e-6) / 32767).
void levelTrack(const AlignedRecording& aligned, int32_T first, int32_T count, real_T* track);

enum class Segment { kFalling, kRising };
// Seconds until the first pair of consecutive track values lies strictly on
// the steady side of the band edge ((j + 1) * 0.2 s); 0.0 when none does or
// the track is shorter than the steady band.
real_T settleTime(const real_T* track, int32_T count, Segment segment, SegmentReport* report = nullptr);

void envelo_estimation(const emxBuffer_real_T* reference, const emxBuffer_real_T* recording, real_T unused1,
                       real_T unused2, real_T* riseSettleTime, real_T* fallSettleTime,
                       real_T* alignmentFailed, Report* report = nullptr);

}  // namespace audiomeas::envelo
