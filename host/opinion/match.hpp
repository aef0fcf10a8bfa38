// The host's second opinion on an alignment: how well the aligned recording
// matches the reference, the delay to a fraction of a sample and the drift
// between the two sample clocks. All of it is computed beside the library's
// result; the library's numbers and its flag stay as they are.
//
// Delays follow the reports' convention: positive when the recording comes
// later, i.e. reference sample t is heard at recording sample t + delay.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "report.hpp"
#include "sample_source.hpp"

namespace audiomeas::host {

// The opinion on |coefficient|: "good" from kGoodCoefficient (the best-gain
// residual is at most -7.2 dB), "doubtful" from kDoubtfulCoefficient (at
// most -1.2 dB), "no match" below or when no coefficient can be formed.
inline constexpr double kGoodCoefficient = 0.9;
inline constexpr double kDoubtfulCoefficient = 0.5;
// An exact match has no residual; it is reported at this floor.
inline constexpr double kResidualFloorDb = -300.0;

// Drift: windows of kDriftWindowSeconds (a quarter of the overlap when that
// is shorter; at least kMinDriftWindowSeconds), searched up to kMaxDriftPpm.
inline constexpr double kDriftWindowSeconds = 10.0;
inline constexpr double kMinDriftWindowSeconds = 0.5;
inline constexpr double kMaxDriftPpm = 2000.0;
inline constexpr double kDriftLimitPpm = 20.0;
// The delay-over-time series: at least kDelaySeriesWindows windows across
// the overlap, one every kDelaySeriesSpacingSeconds on a longer one, at
// most kMaxDelaySeriesWindows.
inline constexpr int kDelaySeriesWindows = 8;
inline constexpr double kDelaySeriesSpacingSeconds = 60.0;
inline constexpr int kMaxDelaySeriesWindows = 120;

struct MatchScore {
  double coefficient = 0.0;  // NaN: no overlap, or a side silent over it
  double residualDb = 0.0;   // dB re the reference over the overlap
  std::int64_t overlapSamples = 0;
  const char* opinion = "";  // "good", "doubtful", "no match"
  int polarity = 0;          // +1 normal, -1 inverted, 0 not said (no match)
};

// The reference against the recording moved by the whole delay, over the
// samples where both exist.
MatchScore matchScore(const SampleSource& reference, const SampleSource& recording, std::int64_t delay);

struct WindowDelay {
  double centre = 0.0;       // reference sample at the window's middle
  double delay = 0.0;        // samples; NaN when not found
  double coefficient = 0.0;  // normalised correlation at the peak
};

// The delay to a fraction of a sample over the overlap at the whole delay
// (its middle kMaxSubSampleWindow samples when longer): the correlation
// peak, band-limited-interpolated. polarity picks the peak's sign.
inline constexpr std::int64_t kMaxSubSampleWindow = std::int64_t(1) << 22;
WindowDelay subSampleDelay(const SampleSource& reference, const SampleSource& recording, std::int64_t delay,
                           int polarity, std::int64_t maxWindow = kMaxSubSampleWindow);

struct Drift {
  std::string reason;  // empty when measured
  std::int64_t windowSamples = 0;
  WindowDelay start, end;
  double ppm = 0.0;                 // positive: the delay grows (the recording's clock runs fast)
  std::vector<WindowDelay> series;  // windows across the overlap (kDelaySeriesWindows ..)
};

Drift drift(const SampleSource& reference, const SampleSource& recording, std::int64_t delay, int polarity,
            double sampleRate);

// The report entries: "match" (attack-release carries that one alone) and,
// for align, "sub_sample_delay_samples", "sub_sample_delay_ms" (null without
// a match) and "drift" (sought even without a match: a large drift spoils
// the match over a long overlap). A delay that is not finite gives nulls.
Json matchJson(const SampleSource& reference, const SampleSource& recording, double delay);
Json alignmentOpinion(const SampleSource& reference, const SampleSource& recording, double delay,
                      double sampleRate, std::int64_t maxSubSampleWindow = kMaxSubSampleWindow);

// The same on arrays in memory.
inline MatchScore matchScore(std::span<const double> reference, std::span<const double> recording,
                             std::int64_t delay) {
  return matchScore(SpanSource(reference), SpanSource(recording), delay);
}
inline WindowDelay subSampleDelay(std::span<const double> reference, std::span<const double> recording,
                                  std::int64_t delay, int polarity) {
  return subSampleDelay(SpanSource(reference), SpanSource(recording), delay, polarity);
}
inline Drift drift(std::span<const double> reference, std::span<const double> recording, std::int64_t delay,
                   int polarity, double sampleRate) {
  return drift(SpanSource(reference), SpanSource(recording), delay, polarity, sampleRate);
}
inline Json matchJson(std::span<const double> reference, std::span<const double> recording, double delay) {
  return matchJson(SpanSource(reference), SpanSource(recording), delay);
}

}  // namespace audiomeas::host
