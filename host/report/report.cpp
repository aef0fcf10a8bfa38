#include "report.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <mutex>
#include <new>

#include "align_window.hpp"
#include "burstra.hpp"
#include "envelo_estimation.hpp"
#include "generate.hpp"
#include "host_array.hpp"
#include "match.hpp"
#include "rt_nonfinite.hpp"
#include "synkro_2.hpp"
#include "text.hpp"
#include "verdict.hpp"

namespace audiomeas::host {

namespace {

// The non-finite constants, set once per process before any library code.
void initialise() {
  static std::once_flag once;
  std::call_once(once, [] { rt_InitInfAndNaN(sizeof(real_T)); });
}

// ---- input checks ----

void requireRate(double rate) {
  if (!std::isfinite(rate) || rate <= 0.0)
    throw InputError("sample_rate", fmt("%g Hz is not a finite positive rate", rate));
}

void requireLength(std::span<const double> x, const char* name, std::int64_t needed, double rate,
                   const char* what) {
  const auto have = static_cast<std::int64_t>(x.size());
  if (have > INT32_MAX)
    throw InputError(name, fmt("%lld samples, more than the %d a call takes", (long long)have, INT32_MAX));
  if (have < needed)
    throw InputError(name, fmt("too short: %s; %s needs at least %s", samplesAndSeconds(have, rate).c_str(),
                               what, samplesAndSeconds(needed, rate).c_str()));
}

// Non-finite samples would pass through the libraries as NaN levels, a
// settle time silently not found or a -120 dB floor: refused instead.
void requireFinite(std::span<const double> x, const char* name, double rate) {
  for (size_t i = 0; i < x.size(); ++i) {
    if (!std::isfinite(x[i]))
      throw InputError(name,
                       fmt("sample %zu (%.6f s) is %s; measurements need finite samples", i, double(i) / rate,
                           std::isnan(x[i]) ? "NaN" : "infinite"),
                       static_cast<std::int64_t>(i));
  }
}

// ---- report pieces ----

Json test(const char* name, const Json& value, const Json& limit, bool passed, const std::string& rule) {
  return Json{{"test", name}, {"value", value}, {"limit", limit}, {"passed", passed}, {"rule", rule}};
}

// A verdict test as the library recorded it.
Json test(const char* name, const VerdictTest& t, const std::string& rule) {
  return test(name, t.value, t.limit, t.passed, rule);
}

// A count that a library holds as real_T, written as a JSON integer; all
// such counts are whole. Anything else (NaN: not formed) stays as it is.
Json countJson(double x) {
  if (x >= -9.0e18 && x <= 9.0e18 && x == std::trunc(x)) return static_cast<std::int64_t>(x);
  return x;
}

// The sign of a delay in words.
std::string direction(double delay) {
  if (delay > 0.0) return "the recording comes later than the reference";
  if (delay < 0.0) return "the recording comes earlier than the reference";
  return "the recording lines up with the reference";
}

// The correlation magnitudes over the distinctness window around the peak,
// ascending in lag: at most kPoints bins, each its largest value and that
// value's lag, and the exact values within kNear lags of the peak.
// lag(k) = base - k for 1-based index k.
constexpr std::int64_t kPoints = 2000;
constexpr std::int64_t kNear = 32;

Json correlationSketch(const double* magnitude, std::int64_t count, std::int64_t peakIndex, std::int64_t base,
                       std::int64_t halfWindow) {
  const std::int64_t lo = std::max<std::int64_t>(1, peakIndex - halfWindow);
  const std::int64_t hi = std::min<std::int64_t>(count, peakIndex + halfWindow);
  const std::int64_t span = hi - lo + 1;
  const std::int64_t bin = std::max<std::int64_t>(1, (span + kPoints - 1) / kPoints);
  Json lags = Json::array(), values = Json::array();
  // Descending index is ascending lag.
  for (std::int64_t top = hi; top >= lo; top -= bin) {
    const std::int64_t bottom = std::max(lo, top - bin + 1);
    std::int64_t best = top;
    for (std::int64_t k = top; k >= bottom; --k)
      if (magnitude[k - 1] > magnitude[best - 1]) best = k;
    lags.push_back(base - best);
    values.push_back(magnitude[best - 1]);
  }
  Json nearLags = Json::array(), nearValues = Json::array();
  for (std::int64_t k = std::min(count, peakIndex + kNear); k >= std::max<std::int64_t>(1, peakIndex - kNear);
       --k) {
    nearLags.push_back(base - k);
    nearValues.push_back(magnitude[k - 1]);
  }
  return Json{{"window_lag_samples", {base - hi, base - lo}},
              {"lag_samples", std::move(lags)},
              {"magnitude", std::move(values)},
              {"near_peak", {{"lag_samples", std::move(nearLags)}, {"magnitude", std::move(nearValues)}}}};
}

Json vectorJson(const double* x, std::int64_t n) { return Json(std::vector<double>(x, x + n)); }

// Samples from .. from + count - 1 of the recording on the reference's time
// line after the whole delay: every recording sample that overlaps the
// reference, zeros elsewhere.
void shiftedPart(const SampleSource& recording, std::int64_t from, std::int64_t count, std::int64_t delay,
                 double* y) {
  std::fill(y, y + count, 0.0);
  const std::int64_t first = std::clamp<std::int64_t>(-delay, from, from + count);
  const std::int64_t last = std::clamp<std::int64_t>(recording.size() - delay, from, from + count);
  if (first >= last) return;
  std::vector<double> buffer;
  const std::span<const double> part = recording.read(first + delay, last - first, buffer);
  std::copy(part.begin(), part.end(), y + (first - from));
}

std::vector<double> shifted(const SampleSource& recording, std::int64_t n, std::int64_t delay) {
  std::vector<double> out(static_cast<size_t>(n), 0.0);
  shiftedPart(recording, 0, n, delay, out.data());
  return out;
}

// ---- the overall verdict ----

// One thing that keeps a report from its good verdict: the library's flag
// or a host opinion that says no (flagged), or one that casts doubt.
struct Concern {
  bool flags;
  std::string reason;
};

// The overall verdict beside the library's own flag, which keeps its name:
// good when nothing stands against the result, "flagged" when anything
// flags it, else "doubtful". The exit code follows it.
void setVerdict(Measurement& m, const char* good, const std::vector<Concern>& concerns) {
  bool flagged = false;
  Json reasons = Json::array();
  for (const Concern& c : concerns) {
    flagged = flagged || c.flags;
    reasons.push_back(c.reason);
  }
  m.report["verdict"] = concerns.empty() ? good : flagged ? kVerdictFlagged : kVerdictDoubtful;
  m.report["verdict_reasons"] = std::move(reasons);
  m.code = concerns.empty() ? kExitOk : kExitFlagged;
}

// What the host's match score and drift say against an alignment.
void opinionConcerns(const Json& report, std::vector<Concern>& concerns) {
  if (report.contains("match")) {
    const Json& match = report["match"];
    const std::string opinion = match.value("opinion", "");
    const std::string coefficient = match["coefficient"].is_number()
                                        ? fmt("coefficient %.3f", match["coefficient"].get<double>())
                                        : std::string("no coefficient could be formed");
    if (opinion == "no match")
      concerns.push_back({true, "the host's match score says no match (" + coefficient +
                                    "): the recording does not resemble the reference at this delay"});
    else if (opinion == "doubtful")
      concerns.push_back({false, "the host's match score is doubtful (" + coefficient + ")"});
  }
  if (report.contains("drift") && report["drift"].value("flagged", Json()).is_boolean() &&
      report["drift"]["flagged"].get<bool>())
    concerns.push_back(
        {false, fmt("the delay drifts by %.1f ppm over the recording (more than %g ppm): the two "
                    "clocks differ, so one delay does not hold throughout",
                    report["drift"]["drift_ppm"].get<double>(), report["drift"]["limit_ppm"].get<double>())});
}

// ---- ambiguity: a second correlation peak ----

// Peaks closer than this to the main one belong to it (the main lobe, the
// pitch periods of speech); a repeat of the content lies farther away.
constexpr double kPeakNeighbourhoodSeconds = 0.05;
// A second peak at least this high, relative to the main one, makes the
// match ambiguous: the content repeats and either peak could be the delay.
constexpr double kAmbiguousPeakRatio = 0.8;

// The highest correlation magnitude outside the main peak's neighbourhood.
// Index k (1-based) is total delay base - k - offset.
struct SecondPeak {
  std::int64_t index = 0;  // 0: no lag outside the neighbourhood
  double ratio = 0.0;      // its magnitude over the main peak's
  std::int64_t neighbourhood = 0;
};

SecondPeak secondPeak(const double* magnitude, std::int64_t count, std::int64_t peakIndex,
                      double sampleRate) {
  SecondPeak p;
  p.neighbourhood =
      std::max<std::int64_t>(1, static_cast<std::int64_t>(kPeakNeighbourhoodSeconds * sampleRate));
  double best = -1.0;
  for (std::int64_t k = 1; k <= count; ++k) {
    if (std::llabs(k - peakIndex) <= p.neighbourhood) continue;
    if (magnitude[k - 1] > best) {
      best = magnitude[k - 1];
      p.index = k;
    }
  }
  const double main = peakIndex >= 1 && peakIndex <= count ? magnitude[peakIndex - 1] : 0.0;
  p.ratio = p.index > 0 && main > 0.0 ? best / main : 0.0;
  return p;
}

// The report's second_peak (null when every lag is in the neighbourhood),
// and the concern it raises. totalAt gives the total delay of index k.
template <class TotalAt>
Json secondPeakJson(const SecondPeak& p, std::int64_t peakIndex, double sampleRate, TotalAt totalAt,
                    std::vector<Concern>& concerns) {
  if (p.index == 0) return Json();
  const double distance = totalAt(p.index) - totalAt(peakIndex);
  const bool ambiguous = p.ratio >= kAmbiguousPeakRatio;
  // Beside a flag already raised (no match: every peak of unrelated signals
  // is alike) a repeat explains nothing.
  const bool flaggedAlready =
      std::any_of(concerns.begin(), concerns.end(), [](const Concern& c) { return c.flags; });
  if (ambiguous && !flaggedAlready)
    concerns.push_back(
        {false,
         fmt("two nearly equal correlation peaks: a second one %.0f samples (%.3f s) away, at a total "
             "delay of %.0f samples, reaches %.3f of the main peak; the content repeats, and the match may "
             "have taken the wrong repeat",
             distance, distance / sampleRate, totalAt(p.index), p.ratio)});
  return Json{{"total_delay_samples", totalAt(p.index)},
              {"distance_samples", distance},
              {"distance_s", distance / sampleRate},
              {"ratio", p.ratio},
              {"neighbourhood_samples", p.neighbourhood},
              {"limit", kAmbiguousPeakRatio},
              {"ambiguous", ambiguous}};
}

}  // namespace

// ---- align ----

Measurement align(std::span<const double> reference, std::span<const double> recording, double sampleRate,
                  const Options& options) {
  requireRate(sampleRate);
  requireLength(reference, "reference", 1, sampleRate, "matching");
  requireLength(recording, "recording", 1, sampleRate, "matching");
  requireFinite(reference, "reference", sampleRate);
  requireFinite(recording, "recording", sampleRate);
  return align(SpanSource(reference), SpanSource(recording), sampleRate, options, true);
}

Measurement align(const SampleSource& reference, const SampleSource& recording, double sampleRate,
                  const Options& options, bool keepSignal) {
  requireRate(sampleRate);
  const double window = options.windowSeconds;
  if (!(window >= 0.0) || !std::isfinite(window))
    throw InputError("window", fmt("%g s is not a length of time", window));
  if (!windowAccepted(window))
    throw InputError("window", fmt("%g s is too short to align on; give 0 (no window) or at least %g s",
                                   window, kMinWindowSeconds));
  if (window > 0.0 && options.libraryOutput)
    throw InputError("window",
                     "the library's own array covers the window only; "
                     "a window and the library output do not go together");

  // The stretch the library sees: all of both signals, or their first
  // window seconds, read from the sources only that far.
  const auto windowSamples = static_cast<std::int64_t>(std::min(window * sampleRate, 2147483647.0));
  std::vector<double> refBuffer, recBuffer;
  const auto cut = [&](const SampleSource& x, std::vector<double>& buffer) {
    const std::int64_t n =
        window > 0.0 ? std::min(x.size(), std::max<std::int64_t>(windowSamples, 1)) : x.size();
    return x.read(0, n, buffer);
  };
  const std::span<const double> refSeen = cut(reference, refBuffer), recSeen = cut(recording, recBuffer);
  requireLength(refSeen, "reference", 1, sampleRate, "matching");
  requireLength(recSeen, "recording", 1, sampleRate, "matching");
  // Arrays were checked whole by the caller; a file read in part is checked
  // where the library reads it.
  requireFinite(refSeen, "reference", sampleRate);
  requireFinite(recSeen, "recording", sampleRate);
  initialise();

  HostColumn r(refSeen), c(recSeen);
  OutputColumn out(refSeen.size());
  const auto n = static_cast<std::int64_t>(refSeen.size());
  const auto m = static_cast<std::int64_t>(recSeen.size());

  synkro::Report rep;
  Json sketch;
  SecondPeak second;
  rep.correlation = [&](const double* magnitude, std::int64_t count, std::int64_t peakIndex) {
    second = secondPeak(magnitude, count, peakIndex, sampleRate);
    if (options.details) sketch = correlationSketch(magnitude, count, peakIndex, n, m / 3);
  };
  double fineLag = 0.0, failed = 1.0;
  synkro::synkro_2(r.get(), c.get(), sampleRate, out.get(), &fineLag, &failed, &rep);
  // The window read from a file is the library's alone: freed before the
  // opinion reads its own parts.
  std::vector<double>().swap(refBuffer);
  std::vector<double>().swap(recBuffer);

  const double delay = fineLag - rep.coarseShift;
  using R = synkro::Report::Rejection;
  const synkro::Report::Tests& decided = rep.tests;
  Json tests = Json::array();
  tests.push_back(test("coarse_shift", decided.coarseShift,
                       "the coarse shift must not exceed half the reference length (the recording is "
                       "padded or cut to that length for the coarse stage; an advance of any size passes)"));
  tests.push_back(test("fine_lag", decided.fineLag,
                       "the fine lag's magnitude must not exceed a third of the recording length"));
  tests.push_back(test("peak_distinctness", decided.distinctness,
                       fmt("the mean correlation magnitude around the peak, relative to the peak, "
                           "must not exceed %g (a ratio that cannot be formed passes)",
                           synkro::kMaxDistinctness)));
  const char* failedTest = nullptr;
  std::string reason;
  switch (rep.rejection) {
    case R::kNone:
      break;
    case R::kNoOutput:
      // The host's memory ran short, not the signals: no verdict to give.
      throw std::bad_alloc();
    case R::kCoarseShift:
      failedTest = "coarse_shift";
      reason = fmt("the coarse shift of %.0f samples exceeds half the reference length (%.1f)",
                   decided.coarseShift.value, decided.coarseShift.limit);
      break;
    case R::kFineLag:
      failedTest = "fine_lag";
      reason = fmt("the fine lag of %.0f samples exceeds a third of the recording length (%.1f)", fineLag,
                   decided.fineLag.limit);
      break;
    case R::kDistinctness:
      failedTest = "peak_distinctness";
      reason = fmt("the correlation peak is not distinct: ratio %.4g above %.2g", decided.distinctness.value,
                   decided.distinctness.limit);
      break;
  }

  Measurement result;
  result.report = Json{{"measurement", "align"},
                       {"sample_rate", sampleRate},
                       {"reference_samples", reference.size()},
                       {"recording_samples", recording.size()},
                       {"verdict", nullptr},
                       {"verdict_reasons", Json::array()},
                       {"window_samples", window > 0.0 ? Json(n) : Json()},
                       {"total_delay_samples", delay},
                       {"total_delay_ms", delay / sampleRate * 1000.0},
                       {"delay_direction", direction(delay)},
                       {"coarse_shift_samples", rep.coarseShift},
                       {"fine_lag_samples", fineLag},
                       {"alignment_failed", failed != 0.0},
                       {"failed_test", failedTest != nullptr ? Json(failedTest) : Json()},
                       {"reason", failedTest != nullptr ? Json(reason) : Json()},
                       {"tests", std::move(tests)},
                       {"peak", {{"index", rep.peakIndex}, {"magnitude", rep.peakValue}}},
                       {"onsets",
                        {{"block_length_samples", countJson(rep.blockLength)},
                         {"reference_block", countJson(rep.referenceOnset)},
                         {"recording_block", countJson(rep.recordingOnset)},
                         {"recording_threshold_db", rep.recordingThreshold}}},
                       {"aligned_samples", options.libraryOutput ? "library" : "total_delay"}};
  // Through a window the sub-sample delay is sought over the window's length.
  result.report.update(
      alignmentOpinion(reference, recording, delay, sampleRate,
                       window > 0.0 ? std::min(kMaxSubSampleWindow, n) : kMaxSubSampleWindow));
  std::vector<Concern> concerns;
  if (failed != 0.0) concerns.push_back({true, "the library rejected the match: " + reason});
  opinionConcerns(result.report, concerns);
  result.report["second_peak"] = secondPeakJson(
      second, rep.peakIndex, sampleRate, [&](std::int64_t k) { return double(n - k) - rep.coarseShift; },
      concerns);
  setVerdict(result, "aligned", concerns);
  // Present without details too, as null, so that a reader finds every field.
  result.report["correlation"] = std::move(sketch);
  const std::int64_t whole = static_cast<std::int64_t>(delay);
  if (options.libraryOutput)
    result.samples = out.values();
  else if (keepSignal)
    result.samples = shifted(recording, reference.size(), whole);
  else
    result.signal = {reference.size(), [&recording, whole](std::int64_t from, std::int64_t count, double* y) {
                       shiftedPart(recording, from, count, whole, y);
                     }};
  return result;
}

// ---- attack-release ----

namespace {

constexpr double kEnveloRate = envelo::kSampleRate;
constexpr std::int64_t kReferenceLength = envelo::kMinReferenceLength;
constexpr std::int64_t kRecordingLength = envelo::kSignalLength;
constexpr double kHop = double(envelo::kWindowHop) / envelo::kSampleRate;  // s

Json segmentJson(const envelo::SegmentReport& s, const char* change, bool details) {
  Json j{{"level_change", change},
         {"first_window_s", double(s.first) / kEnveloRate},
         {"windows", s.count},
         {"steady_band",
          {{"mean_db", s.mean},
           {"maximum_db", s.maximum},
           {"minimum_db", s.minimum},
           {"threshold_db", s.threshold}}},
         {"settled_pair", s.settledPair >= 0 ? Json{s.settledPair, s.settledPair + 1} : Json()}};
  j["track_db"] = details ? vectorJson(s.track, s.count) : Json();
  return j;
}

Json settleJson(double seconds) { return seconds > 0.0 ? Json(seconds) : Json(); }

// The level step the device passed, from the steady levels of the test
// signal and of the recording aligned by the reported delay. Each steady
// stretch of the test signal is measured over its last 10 s, stopping 0.5 s
// short of its end (the next step, or the end of the analysis): that lies
// inside the segments' steady bands, well after any settling that the settle
// times can still see.
constexpr double kFullScale16 = 32767.0;  // envelo's 0 dB: its tracks are dB re RMS 32767

// dB re an RMS of 1.0 on the 16-bit scale (envelo's activity threshold) as dB re full scale.
double dbfsOf16Bit(double db) { return db - 20.0 * std::log10(kFullScale16); }
constexpr std::int64_t kSteadyLength = 10 * kStimulusRate;
constexpr std::int64_t kSteadyMargin = kStimulusRate / 2;
// Base level, stepped level, base level again.
constexpr std::int64_t kStretchEnds[] = {kStepUpSample, kStepDownSample, kReferenceLength};
// A gain change within this of zero, both ways, is no level-dependent gain:
// well above the spread of a 10 s noise level (about 0.01 dB), well below
// what any compressor the test signal's step crosses does to it.
constexpr double kNoGainChangeDb = 1.0;

// RMS level of x[from, from + n), dB re RMS 32767; NaN (null) when the
// stretch is not all inside x or is silent.
double stretchLevel(std::span<const double> x, std::int64_t from, std::int64_t n) {
  if (from < 0 || n <= 0 || from > std::int64_t(x.size()) - n) return envelo::kNoValue;
  double squares = 0.0;
  for (const double v : x.subspan(size_t(from), size_t(n))) squares += v * v;
  if (!(squares > 0.0)) return envelo::kNoValue;
  return 10.0 * std::log10(squares / double(n) / (kFullScale16 * kFullScale16));
}

struct StepLevels {
  double testSignal, recording;  // dB: the higher stretch's level minus the lower's
  double gainChange() const { return recording - testSignal; }
};

Json stepJson(const StepLevels& s) {
  // A ratio only for steps that both went the test signal's way.
  const bool ratio = s.testSignal > 0.0 && s.recording > 0.0;
  return Json{{"test_signal_step_db", s.testSignal},
              {"recording_step_db", s.recording},
              {"gain_change_db", s.gainChange()},
              {"compression_ratio", ratio ? Json(s.testSignal / s.recording) : Json()}};
}

// delay: recording sample n + delay is test signal sample n.
Json gainStepJson(std::span<const double> reference, std::span<const double> recording, double delay) {
  if (!std::isfinite(delay) || std::fabs(delay) > envelo::kMaxDelay) return Json();
  const auto shift = static_cast<std::int64_t>(delay);
  double test[std::size(kStretchEnds)], rec[std::size(kStretchEnds)];
  Json stretches = Json::array();
  for (size_t k = 0; k < std::size(kStretchEnds); ++k) {
    const std::int64_t from = kStretchEnds[k] - kSteadyMargin - kSteadyLength;
    test[k] = stretchLevel(reference, from, kSteadyLength);
    rec[k] = stretchLevel(recording, from + shift, kSteadyLength);
    stretches.push_back({{"from_s", double(from) / kEnveloRate},
                         {"to_s", double(from + kSteadyLength) / kEnveloRate},
                         {"test_signal_dbfs", test[k]},
                         {"recording_dbfs", rec[k]}});
  }
  const StepLevels up{test[1] - test[0], rec[1] - rec[0]}, down{test[1] - test[2], rec[1] - rec[2]};
  // NaN compares false: a level not measured decides nothing.
  const bool measured = std::isfinite(up.gainChange()) && std::isfinite(down.gainChange());
  const bool flat = measured && std::fabs(up.gainChange()) < kNoGainChangeDb &&
                    std::fabs(down.gainChange()) < kNoGainChangeDb;
  return Json{
      {"stretches", std::move(stretches)},
      {"step_up", stepJson(up)},
      {"step_down", stepJson(down)},
      {"no_gain_change_within_db", kNoGainChangeDb},
      {"level_dependent_gain_seen", measured ? Json(!flat) : Json()},
      {"note", flat ? Json(fmt("no level-dependent gain seen: the device passed the %.1f dB step up as "
                               "%.1f dB and the %.1f dB step down as %.1f dB; the settle times "
                               "describe no compressor",
                               up.testSignal, up.recording, down.testSignal, down.recording))
                    : Json()}};
}

}  // namespace

Measurement attackRelease(std::span<const double> reference, std::span<const double> recording,
                          double sampleRate, const Options& options) {
  requireRate(sampleRate);
  if (sampleRate != kEnveloRate)
    throw InputError("sample_rate",
                     fmt("%g Hz; attack-release works at %g Hz only", sampleRate, kEnveloRate));
  const std::int64_t pad = options.padSamples;
  if (pad < 0 || pad > std::int64_t(envelo::kMaxDelay))
    throw InputError("pad_samples",
                     fmt("%lld; the pad must lie in 0 .. %.0f samples", (long long)pad, envelo::kMaxDelay));
  requireLength(reference, "reference", kReferenceLength, sampleRate, "the attack/release test signal");
  requireLength(
      recording, "recording", std::max<std::int64_t>(kRecordingLength - pad, 1), sampleRate,
      fmt("the attack/release alignment (its first %g s, with the pad)", kRecordingLength / kEnveloRate)
          .c_str());
  requireFinite(reference, "reference", sampleRate);
  requireFinite(recording, "recording", sampleRate);
  initialise();

  // The pad needs a copy; without one the caller's samples are lent as they are.
  std::vector<double> padded;
  if (pad > 0) {
    if (recording.size() + size_t(pad) > size_t(INT32_MAX))
      throw InputError("recording", "too long with its pad for one call");
    padded.assign(static_cast<size_t>(pad), 0.0);
    padded.insert(padded.end(), recording.begin(), recording.end());
  }
  const std::span<const double> rec = pad > 0 ? std::span<const double>(padded) : recording;
  HostColumn r(reference), c(rec);

  envelo::Report rep;
  Json sketch;
  SecondPeak second;
  rep.correlation = [&](const double* magnitude, std::int32_t count, std::int32_t peakIndex) {
    second = secondPeak(magnitude, count, peakIndex, sampleRate);
    if (options.details)
      sketch = correlationSketch(magnitude, count, peakIndex, kRecordingLength, envelo::kPeakHalfWindow);
  };
  double rise = 0.0, fall = 0.0, failed = 1.0;
  {
    // envelo's working arrays are static: one call at a time per process.
    static std::mutex oneCall;
    std::lock_guard<std::mutex> lock(oneCall);
    envelo::envelo_estimation(r.get(), c.get(), 0.0, 0.0, &rise, &fall, &failed, &rep);
  }

  const double delay = rep.totalDelay - double(pad);  // net of the pad
  // The analysis windows reach reference sample 5,543,999: a recording that
  // ends before that, after its delay, would be measured partly on silence.
  if (failed == 0.0 && double(rec.size()) < rep.totalDelay + double(kReferenceLength)) {
    const double needed = delay + double(kReferenceLength);
    throw InputError("recording", fmt("too short: %s; with its delay of %.0f samples the analysis segments "
                                      "(to %g s on the test signal's time line) need at least %s",
                                      samplesAndSeconds(std::int64_t(recording.size()), sampleRate).c_str(),
                                      delay, kReferenceLength / kEnveloRate,
                                      samplesAndSeconds(std::int64_t(needed), sampleRate).c_str()));
  }

  using R = envelo::Report::Rejection;
  const envelo::Report::Tests& decided = rep.tests;
  // Whole samples: the smallest delay above the exclusive lower bound is one more.
  const std::string accepted =
      fmt("delays from %.0f to %.0f samples are accepted with a pad of %lld samples",
          envelo::kMinTotalDelay + 1.0 - double(pad), envelo::kMaxDelay - double(pad), (long long)pad);
  const double maxShiftS = envelo::kMaxShift / kEnveloRate, maxDelayS = envelo::kMaxDelay / kEnveloRate;
  Json tests = Json::array();
  tests.push_back(test("coarse_shift", decided.coarseShift,
                       fmt("the onset-based coarse shift must not exceed %g s", maxShiftS)));
  tests.push_back(
      test("total_delay", decided.totalDelay,
           fmt("the delay's magnitude (with the pad) must not exceed %g s; ", maxDelayS) + accepted));
  tests.push_back(test("peak_distinctness", decided.distinctness,
                       fmt("the mean correlation magnitude around the peak, relative to the peak, "
                           "must not exceed %g (a ratio that cannot be formed fails)",
                           envelo::kMaxDistinctness)));
  tests.push_back(test("recording_lags", decided.recordingLags,
                       "the recording (with the pad) must come later than the test signal"));
  const char* failedTest = nullptr;
  std::string reason;
  switch (rep.rejection) {
    case R::kNone:
      break;
    case R::kShortInput:
      failedTest = "input_length";
      reason = "an input is too short";
      break;
    case R::kCoarseShift:
      failedTest = "coarse_shift";
      reason = fmt("the coarse shift of %.0f samples exceeds %.0f (%g s)", decided.coarseShift.value,
                   decided.coarseShift.limit, maxShiftS);
      break;
    case R::kTotalDelay:
      failedTest = "total_delay";
      reason = fmt("the delay of %.0f samples (%.0f with the pad) exceeds %.0f (%g s); ", delay,
                   rep.totalDelay, decided.totalDelay.limit, maxDelayS) +
               accepted;
      break;
    case R::kDistinctness:
      failedTest = "peak_distinctness";
      reason =
          fmt("the correlation peak is not distinct: ratio %.4g above %.2g (is the "
              "recording of this test signal?)",
              decided.distinctness.value, decided.distinctness.limit);
      break;
    case R::kNotLagging:
      failedTest = "recording_lags";
      reason =
          fmt("the recording does not lag the test signal (delay %.0f samples with a pad "
              "of %lld); pad the recording by more (--pad, pad_samples)",
              decided.recordingLags.value, (long long)pad);
      break;
  }

  Measurement result;
  result.report = Json{{"measurement", "attack-release"},
                       {"sample_rate", sampleRate},
                       {"reference_samples", reference.size()},
                       {"recording_samples", recording.size()},
                       {"verdict", nullptr},
                       {"verdict_reasons", Json::array()},
                       {"pad_samples", pad},
                       {"attack_settle_time_s", settleJson(fall)},
                       {"release_settle_time_s", settleJson(rise)},
                       {"alignment_failed", failed != 0.0},
                       {"failed_test", failedTest != nullptr ? Json(failedTest) : Json()},
                       {"reason", failedTest != nullptr ? Json(reason) : Json()},
                       {"total_delay_samples", delay},
                       {"total_delay_ms", delay / sampleRate * 1000.0},
                       {"delay_direction", direction(delay)},
                       {"coarse_shift_samples", rep.coarseShift},
                       {"fine_lag_samples", rep.fineLag},
                       {"tests", std::move(tests)},
                       {"peak", {{"index", rep.peakIndex}, {"magnitude", rep.peakValue}}},
                       {"onsets",
                        {{"block_length_samples", envelo::kBlockLength},
                         {"reference_block", rep.referenceOnset},
                         {"recording_block", rep.recordingOnset},
                         {"recording_threshold_db", rep.recordingThreshold},
                         {"recording_threshold_dbfs", dbfsOf16Bit(rep.recordingThreshold)}}},
                       {"settle_step_s", kHop},
                       {"attack", segmentJson(rep.falling, "falling", options.details)},
                       {"release", segmentJson(rep.rising, "rising", options.details)}};
  // Only where the delay is trusted: a failed alignment lines up nothing.
  result.report["gain_step"] = failed == 0.0 ? gainStepJson(reference, recording, delay) : Json();
  // The alignment's own span: the first 15 s of the test signal.
  result.report["match"] = matchJson(reference.first(size_t(kRecordingLength)), recording, delay);
  std::vector<Concern> concerns;
  if (failed != 0.0) concerns.push_back({true, "the library rejected the alignment: " + reason});
  opinionConcerns(result.report, concerns);
  result.report["second_peak"] = secondPeakJson(
      second, rep.peakIndex, sampleRate,
      [&](std::int64_t k) { return double(kRecordingLength - k) - rep.coarseShift - double(pad); }, concerns);
  if (failed == 0.0) {
    if (!(fall > 0.0)) concerns.push_back({false, "the attack settle time was not found"});
    if (!(rise > 0.0)) concerns.push_back({false, "the release settle time was not found"});
    // A device that passes both steps unchanged has no attack or release:
    // its settle times say nothing about one.
    const Json& gain = result.report["gain_step"];
    if (gain.is_object() && gain["note"].is_string())
      concerns.push_back({false, gain["note"].get<std::string>()});
  }
  setVerdict(result, "measured", concerns);
  // Present without details too, as null, so that a reader finds every field.
  result.report["correlation"] = std::move(sketch);
  return result;
}

// ---- transient-snr ----

std::int64_t transientFrameLength(double sampleRate) {
  const double f = std::floor(0.005 * sampleRate);
  return f >= 1.0 && f <= double(INT32_MAX) ? static_cast<std::int64_t>(f) : 0;
}

Measurement transientSnr(std::span<const double> presence, std::span<const double> activity,
                         std::span<const double> measured, double sampleRate, const Options& options) {
  requireRate(sampleRate);
  const std::int64_t frame = transientFrameLength(sampleRate);
  if (frame < 1)
    throw InputError("sample_rate", fmt("%g Hz; transient-snr needs at least 200 Hz for its "
                                        "5 ms frames",
                                        sampleRate));
  requireLength(presence, "presence", frame, sampleRate, "transient-snr (one 5 ms frame)");
  // The activity and measured signals are read over the presence signal's frames.
  const std::int64_t covered = std::int64_t(presence.size()) / frame * frame;
  requireLength(activity, "activity", covered, sampleRate, "transient-snr (the presence signal's frames)");
  requireLength(measured, "measured", covered, sampleRate, "transient-snr (the presence signal's frames)");
  requireFinite(presence, "presence", sampleRate);
  requireFinite(activity, "activity", sampleRate);
  requireFinite(measured, "measured", sampleRate);
  initialise();

  HostColumn cp(presence), ca(activity), cm(measured);
  burstra::Report rep;
  rep.frameDetails = options.details;
  double difference = 0.0, active = -120.0, warning = 1.0;
  burstra::burstra(cp.get(), ca.get(), cm.get(), sampleRate, &difference, &active, &warning, &rep);

  const burstra::FrameTally& t = rep.tally;
  Json checks = Json::array();
  checks.push_back(test("active_too_short", countJson(t.activeFrames), rep.minActiveFrames, !rep.tooShort,
                        "the active part must last at least 50 ms (frames)"));
  checks.push_back(test("active_too_long", countJson(t.activeFrames), rep.maxActiveFrames, !rep.tooLong,
                        "the active part must last at most 10 s (frames)"));
  checks.push_back(test("activity_level", rep.activityCheckLevel, 0.0, !rep.activityAbove0,
                        "the activity signal's level over the active frames must not exceed 0 dB"));
  checks.push_back(test("presence_level", rep.presenceCheckLevel, 0.0, !rep.presenceAbove0,
                        "the presence signal's overall level must not exceed 0 dB"));
  checks.push_back(
      test("active_level", active, 0.0, !rep.activeAbove0, "the active level must not exceed 0 dB"));
  checks.push_back(test("remainder_level", rep.remainderLevel, 0.0, !rep.remainderAbove0,
                        "the level of the rest must not exceed 0 dB"));
  checks.push_back(
      test("frames", rep.framesMeasured, 1, !rep.noFrames, "at least one 5 ms frame must be formed"));
  Json fired = Json::array();
  for (const Json& c : checks)
    if (!c["passed"].get<bool>()) fired.push_back(c["test"]);

  // What the numbers cannot say by themselves.
  Json notes = Json::array();
  const double noisePower = t.noisePowerSum / t.noiseFrames;
  if (t.noiseFrames == 0.0)
    notes.push_back(
        "no noise frame (quiet and with the presence signal above -50 dB): there is "
        "no noise estimate, so both levels are at the -120 dB floor");
  else if (t.activeFrames > 0.0 && active == -120.0)
    notes.push_back(
        fmt("the active level is at the -120 dB floor: the noise estimate (from %.0f "
            "frames) is not below the active part's power",
            t.noiseFrames));
  if (t.noiseFrames > 0.0 && t.noiseFrames < 10.0)
    notes.push_back(fmt("the noise estimate rests on %.0f frames only", t.noiseFrames));

  // The warning flags; what the notes say casts doubt on the levels.
  std::vector<Concern> concerns;
  for (const Json& c : checks)
    if (!c["passed"].get<bool>())
      concerns.push_back({true, "burstra's warning: " + c["rule"].get<std::string>()});
  for (const Json& n : notes) concerns.push_back({false, n.get<std::string>()});

  Measurement result;
  result.report = Json{{"measurement", "transient-snr"},
                       {"sample_rate", sampleRate},
                       {"presence_samples", std::int64_t(presence.size())},
                       {"activity_samples", std::int64_t(activity.size())},
                       {"measured_samples", std::int64_t(measured.size())},
                       {"verdict", nullptr},
                       {"verdict_reasons", Json::array()},
                       {"active_level_db", active},
                       {"level_difference_db", difference},
                       {"warning", warning != 0.0},
                       {"warnings_fired", std::move(fired)},
                       {"checks", std::move(checks)},
                       {"notes", std::move(notes)},
                       {"frame_length_samples", countJson(rep.frameLength)},
                       {"frame_count", countJson(rep.frameCount)},
                       {"active_frames", countJson(t.activeFrames)},
                       {"noise_frames", countJson(t.noiseFrames)},
                       {"active_present_frames", countJson(t.activePresentFrames)},
                       {"noise_power", noisePower},
                       {"noise_level_db", 10.0 * std::log10(noisePower / (32767.0 * 32767.0))},
                       {"activity_check_level_db", rep.activityCheckLevel},
                       {"presence_check_level_db", rep.presenceCheckLevel},
                       {"remainder_level_db", rep.remainderLevel}};
  result.report["frames"] = nullptr;
  if (options.details) {
    result.report["frames"] =
        Json{{"presence_level_db", rep.presenceLevel}, {"presence_smoothed_db", rep.presenceSmoothed},
             {"activity_level_db", rep.activityLevel}, {"activity_smoothed_db", rep.activitySmoothed},
             {"frame_class", rep.frameClass},          {"frame_classes", {"quiet", "noise", "active"}}};
  }
  setVerdict(result, "measured", concerns);
  return result;
}

}  // namespace audiomeas::host
