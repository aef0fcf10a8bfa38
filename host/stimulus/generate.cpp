#include "generate.hpp"

#include <algorithm>
#include <cmath>

#include "status.hpp"
#include "text.hpp"

namespace audiomeas::host {

namespace {

constexpr double kGrid = 32768.0;  // 16-bit steps per unit of full scale

double dbToAmplitude(double db) { return std::pow(10.0, db / 20.0); }

// Noise of unit-order amplitude, n values. Pink: white noise through a fixed
// three-pole, three-zero filter that falls 3 dB per octave across the audio
// band, run for one second first so that the output starts settled.
std::vector<double> noise(NoiseColour colour, uint64_t seed, long long n) {
  Lcg rng(seed);
  std::vector<double> x(static_cast<size_t>(n));
  if (colour == NoiseColour::kWhite) {
    for (auto& v : x) v = rng.next();
    return x;
  }
  constexpr double b0 = 0.049922035, b1 = -0.095993537, b2 = 0.050612699, b3 = -0.004408786;
  constexpr double a1 = -2.494956002, a2 = 2.017265875, a3 = -0.522189400;
  double x1 = 0, x2 = 0, x3 = 0, y1 = 0, y2 = 0, y3 = 0;
  auto step = [&](double in) {
    const double y = b0 * in + b1 * x1 + b2 * x2 + b3 * x3 - a1 * y1 - a2 * y2 - a3 * y3;
    x3 = x2, x2 = x1, x1 = in;
    y3 = y2, y2 = y1, y1 = y;
    return y;
  };
  for (int i = 0; i < kStimulusRate; ++i) step(rng.next());
  for (auto& v : x) v = step(rng.next());
  return x;
}

double rms(const std::vector<double>& x, size_t from, size_t to) {
  double squares = 0.0;
  for (size_t i = from; i < to; ++i) squares += x[i] * x[i];
  return std::sqrt(squares / double(to - from));
}

// Scales x[from, to) to levelDb RMS.
void setLevel(std::vector<double>& x, size_t from, size_t to, double levelDb) {
  const double gain = dbToAmplitude(levelDb) / rms(x, from, to);
  for (size_t i = from; i < to; ++i) x[i] *= gain;
}

double peakOf(const std::vector<double>& x) {
  double peak = 0.0;
  for (double v : x) peak = std::max(peak, std::fabs(v));
  return peak;
}

void toGrid(std::vector<double>& x) {
  for (auto& v : x) v = std::nearbyint(v * kGrid) / kGrid;
}

void requireFinite(double value, const char* what) {
  if (!std::isfinite(value)) throw usageError(fmt("%s must be a finite number", what));
}

struct Stretch {
  long long from, to;
  double levelDb;
};

std::vector<Stretch> stretches(const StimulusOptions& o) {
  const double step = o.baseLevelDb + o.stepDb;
  return {{0, kStepUpSample, o.baseLevelDb},
          {kStepUpSample, kStepDownSample, step},
          {kStepDownSample, kStimulusSamples, o.baseLevelDb}};
}

}  // namespace

std::optional<NoiseColour> parseColour(std::string_view name) {
  if (name == "white") return NoiseColour::kWhite;
  if (name == "pink") return NoiseColour::kPink;
  return std::nullopt;
}

const char* colourName(NoiseColour colour) { return colour == NoiseColour::kPink ? "pink" : "white"; }

std::vector<double> attackReleaseStimulus(const StimulusOptions& o) {
  requireFinite(o.baseLevelDb, "the base level");
  requireFinite(o.stepDb, "the step");
  if (o.baseLevelDb < kMinBaseLevelDb || o.baseLevelDb >= 0.0)
    throw usageError(
        fmt("the base level must be from %.0f dBFS to below 0 dBFS, not %g", kMinBaseLevelDb, o.baseLevelDb));
  if (o.stepDb <= 0.0 || o.stepDb > kMaxStepDb)
    throw usageError(fmt("the step must be above 0 dB and at most %.0f dB, not %g", kMaxStepDb, o.stepDb));

  std::vector<double> x = noise(o.colour, o.seed, kStimulusSamples);
  for (const Stretch& s : stretches(o)) setLevel(x, size_t(s.from), size_t(s.to), s.levelDb);
  // The grid's largest value is 32767 / 32768: anything that rounds beyond
  // it would clip in a 16-bit file.
  const double peak = peakOf(x);
  const double ceiling = (kGrid - 1.0) / kGrid;
  if (std::nearbyint(peak * kGrid) > kGrid - 1.0) {
    // Peaks scale with the level: this base level would just reach the ceiling.
    const double fits = o.baseLevelDb + 20.0 * std::log10(ceiling / peak);
    throw usageError(
        fmt("%s noise at a base level of %.1f dBFS with a %+.1f dB step would "
            "peak at %+.2f dBFS and clip; use a base level of %.1f dBFS or lower, "
            "or a smaller step",
            colourName(o.colour), o.baseLevelDb, o.stepDb, 20.0 * std::log10(peak),
            std::floor(fits * 10.0 - 0.5) / 10.0));
  }
  toGrid(x);
  return x;
}

nlohmann::ordered_json describeStimulus(const StimulusOptions& o, const std::vector<double>& stimulus) {
  using Json = nlohmann::ordered_json;
  Json levels = Json::array();
  for (const Stretch& s : stretches(o))
    levels.push_back({{"from_s", double(s.from) / kStimulusRate},
                      {"to_s", double(s.to) / kStimulusRate},
                      {"level_dbfs", s.levelDb}});
  const double peak = peakOf(stimulus);
  return Json{{"stimulus", "attack-release"},
              {"sample_rate", kStimulusRate},
              {"samples", static_cast<long long>(stimulus.size())},
              {"seconds", double(stimulus.size()) / kStimulusRate},
              {"colour", colourName(o.colour)},
              {"seed", o.seed},
              {"base_level_dbfs", o.baseLevelDb},
              {"step_db", o.stepDb},
              {"step_up_s", double(kStepUpSample) / kStimulusRate},
              {"step_down_s", double(kStepDownSample) / kStimulusRate},
              {"levels", levels},
              {"peak_dbfs", peak > 0.0 ? 20.0 * std::log10(peak) : -HUGE_VAL}};
}

std::vector<double> compress(const std::vector<double>& x, double rate, const CompressorModel& m) {
  for (double v :
       {rate, m.thresholdDb, m.ratio, m.attackSeconds, m.releaseSeconds, m.detectorSeconds, m.fullScale})
    requireFinite(v, "every compressor parameter");
  if (rate <= 0.0 || m.fullScale <= 0.0) throw usageError("the rate and full scale must be positive");
  if (m.ratio < 1.0) throw usageError("the ratio must be 1 or more");
  if (m.attackSeconds < 0.0 || m.releaseSeconds < 0.0 || m.detectorSeconds <= 0.0)
    throw usageError("the attack and release times must be 0 or more, the detector's above 0");
  // One NaN would hold the detector at NaN, and every later sample would
  // pass ungained: refused instead, like a measurement's input.
  for (size_t i = 0; i < x.size(); ++i)
    if (!std::isfinite(x[i]))
      throw usageError(fmt("signal: sample %zu is %s; the compressor needs finite samples", i,
                           std::isnan(x[i]) ? "NaN" : "infinite"));

  const double fast = std::exp(-1.0 / (m.detectorSeconds * rate));
  const double attack = std::exp(-1.0 / (m.attackSeconds * rate));
  const double release = std::exp(-1.0 / (m.releaseSeconds * rate));
  const double slope = 1.0 - 1.0 / m.ratio;
  const double fullScale2 = m.fullScale * m.fullScale;
  std::vector<double> y(x.size());
  if (x.empty()) return y;
  // Starts settled on the opening level: the mean power of its first 5 ms.
  // Limited in double before the cast: any finite rate fits.
  const auto opening = size_t(std::clamp(std::floor(rate / 200.0), 1.0, double(x.size())));
  double power = 0.0;
  for (size_t i = 0; i < opening; ++i) power += x[i] * x[i];
  power /= double(opening);
  double smoothed = 10.0 * std::log10(power / fullScale2 + 1e-20);
  for (size_t i = 0; i < x.size(); ++i) {
    const double v = x[i];
    power = v * v + (power - v * v) * fast;
    const double level = 10.0 * std::log10(power / fullScale2 + 1e-20);
    smoothed = level + (smoothed - level) * (level > smoothed ? attack : release);
    const double gainDb = smoothed > m.thresholdDb ? -slope * (smoothed - m.thresholdDb) : 0.0;
    y[i] = v * dbToAmplitude(gainDb);
  }
  return y;
}

TransientExample transientSnrExample(uint64_t seed) {
  TransientExample e;
  constexpr double kPi = 3.14159265358979323846;
  const long long n = 4LL * kStimulusRate;
  const long long start = std::llround(e.burstStartSeconds * kStimulusRate);
  const long long end = std::llround(e.burstEndSeconds * kStimulusRate);
  const long long fade = kStimulusRate / 50;  // 20 ms

  // Speech-like: pink noise whose amplitude swings between 0.5 and 1 four
  // times a second (a syllable rate), never dipping 30 dB under its level.
  std::vector<double> burst = noise(NoiseColour::kPink, seed, end - start);
  for (long long i = 0; i < end - start; ++i) {
    const double t = double(i) / kStimulusRate;
    double envelope = 0.75 - 0.25 * std::cos(2.0 * kPi * 4.0 * t);
    const long long edge = std::min(i, end - start - 1 - i);
    if (edge < fade) envelope *= 0.5 - 0.5 * std::cos(kPi * double(edge) / double(fade));
    burst[size_t(i)] *= envelope;
  }
  setLevel(burst, 0, burst.size(), e.burstDb);

  e.presence = noise(NoiseColour::kWhite, seed + 1, n);
  setLevel(e.presence, 0, e.presence.size(), e.pilotDb);
  e.measured = noise(NoiseColour::kWhite, seed + 2, n);
  setLevel(e.measured, 0, e.measured.size(), e.floorDb);
  for (long long i = start; i < end; ++i) e.measured[size_t(i)] += burst[size_t(i - start)];
  // Four 5 ms frames early: a frame counts as active from the fourth in a
  // row above -30 dB, and the first, smoothed from silence, stays below
  // (-25 dB at 0.9 weight over -120 dB): the active frames are the burst's.
  const long long lead = std::llround(e.markerLeadSeconds * kStimulusRate);
  std::vector<double> marker = noise(NoiseColour::kWhite, seed + 3, end - start + lead);
  setLevel(marker, 0, marker.size(), e.markerDb);
  e.activity.assign(size_t(n), 0.0);
  std::copy(marker.begin(), marker.end(), e.activity.begin() + (start - lead));
  toGrid(e.presence);
  toGrid(e.activity);
  toGrid(e.measured);
  return e;
}

}  // namespace audiomeas::host
