#include "envelo_estimation.hpp"

#include <algorithm>
#include <cmath>

#include "emx.hpp"
#include "reductions.hpp"
#include "rt_nonfinite.hpp"
#include "xcorr.hpp"

namespace audiomeas::envelo {

namespace {

// The working storage of a call is the correlation's (fixed::correlation:
// two static complex work arrays, which end up holding the lags and then
// their magnitudes) and the process-wide transform tables; the recording is
// read in place, moved by the coarse shift on the fly.

constexpr real_T kReferenceActivity = -50.0;  // dB re 1.0
constexpr real_T kRecordingMargin = 12.0;     // dB below the recording's own level
constexpr real_T kActiveBlocks = 160.0;       // of the last 200
constexpr real_T kFullScale = 32767.0;
constexpr real_T kFloor = 1e-6;

// 20 log10(rms + 1e-6), dB re 1.0.
real_T activityLevel(real_T rmsValue) {
  real_T level = rmsValue + kFloor;
  b_log10(&level);
  return 20.0 * level;
}

void age(real_T history[kHistoryLength]) {
  std::copy_backward(history, history + kHistoryLength - 1, history + kHistoryLength);
  history[0] = 0.0;
}

bool longEnough(const emxBuffer_real_T* x, int32_T minLength) {
  return x != nullptr && x->size != nullptr && x->data != nullptr && x->dimCount >= 1 &&
         emxVectorLength(x) >= minLength;
}

struct SegmentLayout {
  int32_T first;  // sample of window 0 on the reference timeline
  int32_T count;  // windows
};
constexpr SegmentLayout kFalling{1929600, 113};  // 40.2 s .. 65.1 s
constexpr SegmentLayout kRising{3139200, 239};   // 65.4 s .. 115.5 s

real_T segmentSettleTime(const AlignedRecording& aligned, SegmentLayout layout, Segment segment,
                         SegmentReport* report) {
  real_T track[kRising.count];
  levelTrack(aligned, layout.first, layout.count, track);
  if (report != nullptr) {
    report->first = layout.first;
    report->count = layout.count;
    std::copy_n(track, layout.count, report->track);
  }
  return settleTime(track, layout.count, segment, report);
}

}  // namespace

real_T recordingThresholdOf(const real_T sig_tmp[kSignalLength]) {
  return activityLevel(rms(sig_tmp)) - kRecordingMargin;
}

Onsets findOnsets(const real_T* reference, const real_T sig_tmp[kSignalLength], real_T threshold) {
  real_T referenceHistory[kHistoryLength] = {};
  real_T recordingHistory[kHistoryLength] = {};
  Onsets onsets;
  for (int32_T k = 0; k < kBlockCount; ++k) {
    age(referenceHistory);
    age(recordingHistory);
    const int32_T start = kBlockLength * k;
    if (activityLevel(rmsOf(reference + start, kFrameLength)) > kReferenceActivity) {
      referenceHistory[0] = 1.0;
    }
    // The recording copy ends at 720,000: the last frame is one sample short.
    const int32_T recordingFrame = std::min(kFrameLength, kSignalLength - start);
    if (activityLevel(rmsOf(sig_tmp + start, recordingFrame)) > threshold) {
      recordingHistory[0] = 1.0;
    }
    if (onsets.reference == 0 && sum(referenceHistory) > kActiveBlocks) onsets.reference = k + 1;
    if (onsets.recording == 0 && sum(recordingHistory) > kActiveBlocks) onsets.recording = k + 1;
    if (onsets.reference != 0 && onsets.recording != 0) break;
  }
  return onsets;
}

real_T coarseShiftOf(const Onsets& onsets) {
  return static_cast<real_T>(kBlockLength) * static_cast<real_T>(onsets.reference - onsets.recording);
}

void shiftSamples(const real_T sig_tmp[kSignalLength], real_T shift, real_T out[kSignalLength]) {
  std::fill_n(out, kSignalLength, 0.0);
  const real_T magnitude = std::fabs(shift);
  if (!(magnitude < kSignalLength)) return;  // moved out entirely (or not a number)
  const auto s = static_cast<int32_T>(magnitude);
  if (shift >= 0.0) {
    std::copy_n(sig_tmp, kSignalLength - s, out + s);
  } else {
    std::copy_n(sig_tmp + s, kSignalLength - s, out);
  }
}

Peak findPeak(const real_T cross_cor[kCorrelationLength]) {
  int32_T k = 0;
  while (k < kCorrelationLength && rtIsNaN(cross_cor[k])) ++k;
  if (k == kCorrelationLength) return {1, cross_cor[0]};
  Peak peak{k + 1, cross_cor[k]};
  for (++k; k < kCorrelationLength; ++k) {
    if (cross_cor[k] > peak.value) peak = {k + 1, cross_cor[k]};
  }
  return peak;
}

real_T alignmentVerdict(real_T coarseShift, real_T totalDelay, const real_T cross_cor[kCorrelationLength],
                        Peak peak, Report::Tests* tests) {
  const bool shiftPassed = !(coarseShift > kMaxShift);
  const bool delayPassed = !(std::fabs(totalDelay) > kMaxDelay);
  if (tests != nullptr) {
    tests->coarseShift = {coarseShift, kMaxShift, shiftPassed};
    tests->totalDelay = {std::fabs(totalDelay), kMaxDelay, delayPassed};
  }
  const bool earlierReject = !shiftPassed || !delayPassed;
  if (earlierReject && tests == nullptr) return 1.0;
  // 1-based window peak +- 240,000, kept inside the correlation.
  const int32_T first = std::max(peak.index - kPeakHalfWindow, 1);
  const int32_T last = std::min(peak.index + kPeakHalfWindow, kCorrelationLength);
  const real_T windowSum = sumOf(cross_cor + (first - 1), last - first + 1);
  const real_T r = (windowSum - peak.value) / (2.0 * kPeakHalfWindow * peak.value);
  // A zero or non-finite peak gives no ratio and cannot vouch for the delay.
  const bool distinct = r <= kMaxDistinctness;
  if (tests != nullptr) tests->distinctness = {r, kMaxDistinctness, distinct};
  if (earlierReject) return 1.0;
  return distinct ? 0.0 : 1.0;
}

namespace {

Report::Rejection firstRejection(const Report::Tests& t) {
  using Rejection = Report::Rejection;
  return !t.coarseShift.passed     ? Rejection::kCoarseShift
         : !t.totalDelay.passed    ? Rejection::kTotalDelay
         : !t.distinctness.passed  ? Rejection::kDistinctness
         : !t.recordingLags.passed ? Rejection::kNotLagging
                                   : Rejection::kNone;
}

}  // namespace

Alignment alignRecording(const real_T* reference, const real_T* recording, Report* report) {
  // recording[0 .. 719,999] stands for sig_tmp, the same samples moved by the
  // shift (shiftSamples) are formed inside the transform's load.
  const real_T threshold = recordingThresholdOf(recording);
  const Onsets onsets = findOnsets(reference, recording, threshold);
  const real_T shift = coarseShiftOf(onsets);
  // |shift| <= 240 * 2,999; past 720,000 nothing of the recording would remain.
  const real_T clamped =
      std::clamp(shift, -static_cast<real_T>(kSignalLength), static_cast<real_T>(kSignalLength));
  real_T* cross_cor = fixed::correlation(reference, recording, static_cast<int32_T>(clamped));
  b_abs(cross_cor, cross_cor);  // the magnitudes replace the lags in place
  const Peak peak = findPeak(cross_cor);
  if (report != nullptr && report->correlation)
    report->correlation(cross_cor, kCorrelationLength, peak.index);
  const real_T fineLag = static_cast<real_T>(kSignalLength - peak.index);
  Alignment a{fineLag - shift, alignmentVerdict(shift, fineLag - shift, cross_cor, peak,
                                                report != nullptr ? &report->tests : nullptr)};
  const bool lags = a.totalDelay > kMinTotalDelay;
  if (report != nullptr) report->tests.recordingLags = {a.totalDelay, kMinTotalDelay, lags};
  if (!lags) a.failed = 1.0;
  if (report != nullptr) {
    report->referenceOnset = onsets.reference;
    report->recordingOnset = onsets.recording;
    report->recordingThreshold = threshold;
    report->coarseShift = shift;
    report->peakIndex = peak.index;
    report->peakValue = peak.value;
    report->fineLag = fineLag;
    report->totalDelay = a.totalDelay;
    report->rejection = firstRejection(report->tests);
  }
  return a;
}

AlignedRecording alignedRecording(const real_T* recording, int32_T length, const Alignment& a) {
  if (a.failed != 0.0 || !(a.totalDelay > 0.0)) return {recording, 0, 0};
  return {recording, std::max<int32_T>(length, 0), static_cast<std::int64_t>(a.totalDelay)};
}

real_T windowRms(const AlignedRecording& aligned, int32_T start) {
  // Samples past the recording's end are +0.0; adding +0.0 to a sum of
  // squares (never -0.0) leaves it unchanged, so summing only the samples
  // that exist gives the bits of the full zero-padded window.
  const std::int64_t first = start + aligned.delay;
  const std::int64_t available = std::clamp<std::int64_t>(aligned.length - first, 0, kWindowLength);
  const real_T squares =
      available > 0 ? sumOfSquares(aligned.recording + first, static_cast<int32_T>(available)) : 0.0;
  return std::sqrt(squares / static_cast<real_T>(kWindowLength));
}

namespace {

constexpr int32_T kLanes = 8;

// windowRms of the windows starting at first + kWindowHop * k, k = 0 ..
// lanes-1 (lanes <= kLanes), into r. The sums of squares are independent
// sequential sums: they advance together, each still left to right from its
// first square (so each keeps its bits), instead of one after the other
// waiting on its own additions.
void windowRmsLanes(const AlignedRecording& aligned, std::int64_t first, int32_T lanes, real_T* r) {
  const real_T* x[kLanes];
  std::int64_t available[kLanes];
  std::int64_t common = kWindowLength;
  for (int32_T k = 0; k < lanes; ++k) {
    const std::int64_t start = first + static_cast<std::int64_t>(kWindowHop) * k + aligned.delay;
    available[k] = std::clamp<std::int64_t>(aligned.length - start, 0, kWindowLength);
    x[k] = aligned.recording + (available[k] > 0 ? start : 0);
    common = std::min(common, available[k]);
  }
  real_T acc[kLanes] = {};
  if (common > 0) {
    for (int32_T k = 0; k < lanes; ++k) acc[k] = x[k][0] * x[k][0];
    if (lanes == kLanes) {
      // Named locals, not the arrays: the compiler then keeps the eight sums
      // and pointers in registers rather than storing and reloading them on
      // every sample.
      const real_T *x0 = x[0], *x1 = x[1], *x2 = x[2], *x3 = x[3], *x4 = x[4], *x5 = x[5], *x6 = x[6],
                   *x7 = x[7];
      real_T a0 = acc[0], a1 = acc[1], a2 = acc[2], a3 = acc[3], a4 = acc[4], a5 = acc[5], a6 = acc[6],
             a7 = acc[7];
      for (std::int64_t j = 1; j < common; ++j) {
        a0 += x0[j] * x0[j];
        a1 += x1[j] * x1[j];
        a2 += x2[j] * x2[j];
        a3 += x3[j] * x3[j];
        a4 += x4[j] * x4[j];
        a5 += x5[j] * x5[j];
        a6 += x6[j] * x6[j];
        a7 += x7[j] * x7[j];
      }
      acc[0] = a0, acc[1] = a1, acc[2] = a2, acc[3] = a3, acc[4] = a4, acc[5] = a5, acc[6] = a6, acc[7] = a7;
    } else {
      for (std::int64_t j = 1; j < common; ++j) {
        for (int32_T k = 0; k < lanes; ++k) acc[k] += x[k][j] * x[k][j];
      }
    }
  }
  for (int32_T k = 0; k < lanes; ++k) {
    // The rest of a window that reaches further than the shortest one. Past
    // the recording's end the samples are +0.0, which change no sum of
    // squares (see windowRms).
    std::int64_t j = common;
    if (j == 0 && available[k] > 0) {
      acc[k] = x[k][0] * x[k][0];
      j = 1;
    }
    for (; j < available[k]; ++j) acc[k] += x[k][j] * x[k][j];
    r[k] = std::sqrt(acc[k] / static_cast<real_T>(kWindowLength));
  }
}

}  // namespace

void levelTrack(const AlignedRecording& aligned, int32_T first, int32_T count, real_T* track) {
  real_T rms[kLanes];
  for (int32_T i = 0; i < count; ++i) {
    if (i % kLanes == 0) {
      windowRmsLanes(aligned, first + static_cast<std::int64_t>(kWindowHop) * i, std::min(kLanes, count - i),
                     rms);
    }
    const real_T r = rms[i % kLanes];
    const real_T v = std::log10((r + kFloor) / kFullScale);
    // 1.9999999999999996 is 20 * (1 - 0.9) in double, not 2.
    track[i] = i == 0 ? 20.0 * v : 1.9999999999999996 * v + 0.9 * track[i - 1];
  }
}

real_T settleTime(const real_T* track, int32_T count, Segment segment, SegmentReport* report) {
  if (count < kSteadyCount) return 0.0;
  const real_T* steady = track + (count - kSteadyCount);
  const real_T mean = sumOf(steady, kSteadyCount) / static_cast<real_T>(kSteadyCount);
  int32_T k = 0;
  while (k < kSteadyCount && rtIsNaN(steady[k])) ++k;
  real_T hi = k < kSteadyCount ? steady[k] : rtNaN;
  real_T lo = hi;
  for (++k; k < kSteadyCount; ++k) {
    if (steady[k] > hi) hi = steady[k];
    if (steady[k] < lo) lo = steady[k];
  }
  const real_T threshold = segment == Segment::kFalling ? (hi - lo) + mean : mean - (hi - lo);
  if (report != nullptr) {
    report->mean = mean;
    report->maximum = hi;
    report->minimum = lo;
    report->threshold = threshold;
  }
  for (int32_T j = 0; j + 1 < count; ++j) {
    const bool settled = segment == Segment::kFalling ? track[j] < threshold && track[j + 1] < threshold
                                                      : track[j] > threshold && track[j + 1] > threshold;
    if (settled) {
      if (report != nullptr) report->settledPair = j;
      return static_cast<real_T>((j + 1) * kWindowHop) / kSampleRate;
    }
  }
  return 0.0;
}

void envelo_estimation(const emxBuffer_real_T* reference, const emxBuffer_real_T* recording,
                       real_T /*unused1*/, real_T /*unused2*/, real_T* riseSettleTime, real_T* fallSettleTime,
                       real_T* alignmentFailed, Report* report) {
  // Written in this order (a found time last), so that a host passing one
  // address twice sees the same value as always.
  auto write = [](real_T* out, real_T value) {
    if (out != nullptr) *out = value;
  };
  write(riseSettleTime, 0.0);
  write(fallSettleTime, 0.0);
  // Shorter inputs would leave the onset search or the analysis windows
  // without samples: refuse them before anything is read.
  if (!longEnough(reference, kMinReferenceLength) || !longEnough(recording, kSignalLength)) {
    write(alignmentFailed, 1.0);
    return;
  }
  const Alignment a = alignRecording(reference->data, recording->data, report);
  write(alignmentFailed, a.failed);
  const AlignedRecording aligned = alignedRecording(recording->data, emxVectorLength(recording), a);
  if (const real_T t = segmentSettleTime(aligned, kFalling, Segment::kFalling,
                                         report != nullptr ? &report->falling : nullptr);
      t != 0.0) {
    write(fallSettleTime, t);
  }
  if (const real_T t = segmentSettleTime(aligned, kRising, Segment::kRising,
                                         report != nullptr ? &report->rising : nullptr);
      t != 0.0) {
    write(riseSettleTime, t);
  }
}

}  // namespace audiomeas::envelo
