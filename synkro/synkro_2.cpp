#include "synkro_2.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <optional>

#include "emx.hpp"
#include "fft_detail.hpp"  // EmxTemp
#include "reductions.hpp"
#include "rt_nonfinite.hpp"
#include "work_block.hpp"
#include "xcorr.hpp"

namespace audiomeas::synkro {

namespace detail {

// Level in dB re RMS 1.0 of the n samples at x; the offset floors silence at
// -120 dB. n <= 0 gives NaN, which is never active.
inline real_T levelOf(const real_T* x, int64_t n) {
  return 20.0 * std::log10(rmsOf(x, static_cast<int32_T>(n)) + 1.0E-6);
}

// Frame of the block starting at sample s (0-based): N + 1 samples, clipped
// to the len samples that exist.
inline real_T frameLevel(const emxBuffer_real_T* x, int64_t len, int64_t s, int64_t blockLength) {
  return levelOf(x->data + std::min(s, len), std::clamp<int64_t>(len - s, 0, blockLength + 1));
}

constexpr int kHistoryLength = 200;
constexpr real_T kOnsetCount = 160.0;  // more than this many active blocks of 200

// Last 200 activity marks, newest first, and the 1-based onset block (0 while
// not found).
struct Activity {
  std::array<real_T, kHistoryLength> history{};
  real_T onset = 0.0;

  // Shifts in this block's mark; records k as the onset when the history
  // first holds more than 160 active blocks.
  void push(bool active, real_T k) {
    std::copy_backward(history.begin(), history.end() - 1, history.end());
    history[0] = active ? 1.0 : 0.0;
    if (onset == 0.0 && std::accumulate(history.begin(), history.end(), 0.0) > kOnsetCount) {
      onset = k;
    }
  }
};

// Samples per 5 ms block; 0 (no blocks) when the rate gives no whole sample
// or no finite count that fits int32.
inline int64_t blockLengthOf(real_T sampleRate) {
  const real_T blockLength = std::floor(0.005 * sampleRate);
  if (!(blockLength >= 1.0 && blockLength <= 2147483647.0)) return 0;
  return static_cast<int64_t>(blockLength);
}

}  // namespace detail

void crude_align(const emxBuffer_real_T* reference, const emxBuffer_real_T* paddedRecording,
                 real_T sampleRate, emxBuffer_real_T* shiftedRecording, real_T* coarseFailed,
                 Report* report) {
  const int64_t n = emxVectorLength(reference);
  const int32_T recordingLength = emxVectorLength(paddedRecording);
  const int64_t m = recordingLength;
  if (!emxResize1(shiftedRecording, recordingLength)) {
    *coarseFailed = 1.0;
    return;
  }
  const int64_t blockLength = detail::blockLengthOf(sampleRate);
  const int64_t blockCount = blockLength > 0 ? n / blockLength : 0;
  const real_T recordingThreshold = detail::levelOf(paddedRecording->data, m) - 12.0;

  detail::Activity ref;
  detail::Activity rec;
  for (int64_t k = 1; k <= blockCount; ++k) {
    const int64_t s = (k - 1) * blockLength;
    const bool refActive = detail::frameLevel(reference, n, s, blockLength) > -50.0;
    const bool recActive = detail::frameLevel(paddedRecording, m, s, blockLength) > recordingThreshold;
    ref.push(refActive, static_cast<real_T>(k));
    rec.push(recActive, static_cast<real_T>(k));
    if (ref.onset > 0.0 && rec.onset > 0.0) break;
  }

  // Signed: positive delays the recording. Exact, |d| <= n.
  const real_T d = static_cast<real_T>(blockLength) * (ref.onset - rec.onset);
  const auto shift = static_cast<int64_t>(d);
  const int64_t first = std::clamp<int64_t>(shift, 0, m);
  const int64_t last = std::clamp<int64_t>(m + shift, 0, m);
  // Zeros where the moved recording has no sample, its samples elsewhere.
  real_T* shifted = shiftedRecording->data;
  if (first < last) {
    std::fill(shifted, shifted + first, 0.0);
    std::copy(paddedRecording->data + (first - shift), paddedRecording->data + (last - shift),
              shifted + first);
    std::fill(shifted + last, shifted + m, 0.0);
  } else {
    std::fill_n(shifted, m, 0.0);
  }
  // Only a delay beyond half the length rejects; an advance of any size passes.
  const real_T shiftLimit = 0.5 * static_cast<real_T>(m);
  const bool shiftPassed = !(d > shiftLimit);
  *coarseFailed = shiftPassed ? 0.0 : 1.0;
  if (report != nullptr) {
    report->tests.coarseShift = {d, shiftLimit, shiftPassed};
    report->blockLength = static_cast<real_T>(blockLength);
    report->referenceOnset = ref.onset;
    report->recordingOnset = rec.onset;
    report->recordingThreshold = recordingThreshold;
    report->coarseShift = d;
  }
}

void synkro_2(const emxBuffer_real_T* reference, const emxBuffer_real_T* recording, real_T sampleRate,
              emxBuffer_real_T* alignedRecording, real_T* fineLag, real_T* alignmentFailed, Report* report) {
  const int32_T n = emxVectorLength(reference);
  const int32_T m = emxVectorLength(recording);

  // Sized and cleared before any input sample is read. Should the block not
  // grow, the array is left empty and the match is reported as failed.
  const bool outputReady = emxResize1(alignedRecording, n);
  if (outputReady) std::fill_n(alignedRecording->data, n, 0.0);
  *fineLag = 0.0;
  *alignmentFailed = 1.0;
  // With no reference there is no correlation to search.
  if (n == 0) return;

  using Temporary = audiomeas::detail::EmxTemp<emxBuffer_real_T>;
  // The coarsely shifted recording is held in the output array itself,
  // which the fine move then shifts in place: one array of n values fewer at
  // the correlation, the peak of a long call. Only an output that could not
  // be had needs an array of its own.
  std::optional<Temporary> spare;
  if (!outputReady) spare.emplace(1);
  emxBuffer_real_T* shiftedRecording = outputReady ? alignedRecording : spare->get();
  const Temporary correlation(1);
  if (shiftedRecording == nullptr || correlation.get() == nullptr) return;
  // A call that stops early leaves the output as it promised: all zeros.
  const auto stop = [&] {
    if (outputReady) std::fill_n(alignedRecording->data, n, 0.0);
  };
  real_T coarseFailed = 0.0;
  if (m >= n) {
    // The padded recording is then the recording's first n samples, read
    // where they lie rather than copied.
    int32_T length = n;
    const emxBuffer_real_T firstSamples{recording->data, &length, n, 1, false};
    crude_align(reference, &firstSamples, sampleRate, shiftedRecording, &coarseFailed, report);
  } else {
    // Needed by the coarse stage only: released before the correlation.
    const Temporary paddedRecording(1);
    if (paddedRecording.get() == nullptr || !audiomeas::detail::resizeWorkArray(paddedRecording.get(), n))
      return;
    std::copy_n(recording->data, m, paddedRecording.get()->data);
    std::fill_n(paddedRecording.get()->data + m, n - m, 0.0);
    crude_align(reference, paddedRecording.get(), sampleRate, shiftedRecording, &coarseFailed, report);
  }
  if (shiftedRecording->size[0] != n) return stop();

  // Lag k - n at 1-based index k; magnitudes overwrite the values in place.
  xcorr(reference, shiftedRecording, correlation.get());
  const int64_t lagCount = 2 * static_cast<int64_t>(n) - 1;
  if (correlation.get()->size[0] != lagCount) return stop();
  real_T* magnitude = correlation.get()->data;

  // In the same pass as the magnitudes: the first non-NaN value, replaced
  // only by a strictly greater one. Ties keep the earlier index, and an
  // all-NaN correlation peaks at index 0.
  int64_t peak = 0;
  int64_t k = 0;
  for (; k < lagCount; ++k) {
    magnitude[k] = std::fabs(magnitude[k]);
    if (!rtIsNaN(magnitude[k])) break;
  }
  if (k < lagCount) peak = k;
  for (++k; k < lagCount; ++k) {
    magnitude[k] = std::fabs(magnitude[k]);
    if (magnitude[k] > magnitude[peak]) peak = k;
  }
  const real_T peakValue = magnitude[peak];
  if (report != nullptr && report->correlation) report->correlation(magnitude, lagCount, peak + 1);

  // Positive when the recording comes later than the reference. In place:
  // aligned(j) = shifted(j + lag) where that exists, zeros elsewhere
  // (|lag| <= n - 1, so some samples always stay).
  const int64_t lag = n - (peak + 1);
  *fineLag = static_cast<real_T>(lag);
  if (outputReady) {
    real_T* y = alignedRecording->data;
    const auto kept = static_cast<std::size_t>(n - std::llabs(lag));
    if (lag >= 0) {
      std::memmove(y, y + lag, kept * sizeof(real_T));
      std::fill(y + kept, y + n, 0.0);
    } else {
      std::memmove(y - lag, y, kept * sizeof(real_T));
      std::fill(y, y - lag, 0.0);
    }
  }

  using Rejection = Report::Rejection;
  const real_T lagLimit = static_cast<real_T>(m) / 3.0;
  const bool lagPassed = !(std::fabs(*fineLag) > lagLimit);
  if (report != nullptr) report->tests.fineLag = {std::fabs(*fineLag), lagLimit, lagPassed};
  Rejection rejection = !outputReady         ? Rejection::kNoOutput
                        : coarseFailed > 0.0 ? Rejection::kCoarseShift
                        : !lagPassed         ? Rejection::kFineLag
                                             : Rejection::kNone;
  // Peak distinctness: the window's magnitudes beside the peak (summed in
  // place, left to right as combineVectorElements does), over the peak times
  // floor(2m/3). The window is clipped to the correlation; the divisor stays.
  // A NaN ratio does not reject. Without a report the ratio is formed only
  // when it can still decide.
  if (rejection == Rejection::kNone || report != nullptr) {
    const int64_t halfWidth = m / 3;
    const int64_t lo = std::max<int64_t>(0, peak - halfWidth);
    const int64_t hi = std::min<int64_t>(lagCount - 1, peak + halfWidth);
    const real_T windowSum = sumOf(magnitude + lo, static_cast<int32_T>(hi - lo + 1));
    const auto divisor = static_cast<real_T>(2 * static_cast<int64_t>(m) / 3);
    const real_T ratio = (windowSum - peakValue) / (divisor * peakValue);
    const bool distinct = !(ratio > kMaxDistinctness);
    if (report != nullptr) report->tests.distinctness = {ratio, kMaxDistinctness, distinct};
    if (rejection == Rejection::kNone && !distinct) rejection = Rejection::kDistinctness;
  }
  *alignmentFailed = rejection == Rejection::kNone ? 0.0 : 1.0;
  if (report != nullptr) {
    report->peakIndex = peak + 1;
    report->peakValue = peakValue;
    report->fineLag = *fineLag;
    report->rejection = rejection;
  }
}

}  // namespace audiomeas::synkro
