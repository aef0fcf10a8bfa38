#include "match.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

#include "host_array.hpp"
#include "rt_nonfinite.hpp"
#include "text.hpp"
#include "xcorr.hpp"

namespace audiomeas::host {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// ---- band-limited interpolation ----

// Kaiser-windowed sinc, kHalfWidth samples each side: flat to about 0.42 of
// the sample rate. Tabulated at kPhases points a sample, read linearly.
constexpr int kHalfWidth = 16;
constexpr int kPhases = 2048;
constexpr double kBeta = 8.0;

double besselI0(double x) {
  double sum = 1.0, term = 1.0;
  for (int k = 1; k < 60 && term > 1e-17 * sum; ++k) {
    term *= (x / (2.0 * k)) * (x / (2.0 * k));
    sum += term;
  }
  return sum;
}

const std::vector<double>& kernelTable() {
  static const std::vector<double> kTable = [] {
    std::vector<double> t(kHalfWidth * kPhases + 2, 0.0);
    const double norm = besselI0(kBeta);
    for (int j = 0; j < kHalfWidth * kPhases; ++j) {
      const double u = double(j) / kPhases;
      // Exact zeros at the whole samples keep integer positions exact.
      const double sinc = j == 0 ? 1.0 : j % kPhases == 0 ? 0.0 : std::sin(kPi * u) / (kPi * u);
      const double w = u / kHalfWidth;
      t[j] = sinc * besselI0(kBeta * std::sqrt(1.0 - w * w)) / norm;
    }
    return t;
  }();
  return kTable;
}

double kernel(double u) {
  const std::vector<double>& t = kernelTable();
  const double a = std::fabs(u) * kPhases;
  // Compared before the cast: u may lie anywhere (or be NaN).
  if (!(a < double(kHalfWidth) * kPhases)) return 0.0;
  const auto j = static_cast<std::int64_t>(a);
  const double f = a - double(j);
  return t[j] + f * (t[j + 1] - t[j]);
}

// x at the fractional index pos (zero outside x).
double interpolate(std::span<const double> x, double pos) {
  const auto n = static_cast<std::int64_t>(x.size());
  // Farther out than the kernel reaches there is nothing to sum, and the
  // index would not fit an integer.
  if (!(pos > -double(kHalfWidth) && pos < double(n + kHalfWidth))) return 0.0;
  const double base = std::floor(pos);
  const double f = pos - base;
  const auto i0 = static_cast<std::int64_t>(base);
  double sum = 0.0;
  for (std::int64_t k = std::max<std::int64_t>(-kHalfWidth + 1, -i0); k <= kHalfWidth && i0 + k < n; ++k)
    sum += x[size_t(i0 + k)] * kernel(f - double(k));
  return sum;
}

// y[i] = the recording at reference sample from + i under the delay model
// d(t) = dc + slope (t - centre). Reads only the part of the recording the
// kernel reaches; shifting the positions by a whole number of samples is
// exact, so the values are those over the whole recording.
std::vector<double> warped(const SampleSource& recording, std::int64_t from, std::int64_t count, double dc,
                           double slope, double centre) {
  std::vector<double> y(static_cast<size_t>(count), 0.0), buffer;
  const std::int64_t m = recording.size();
  if (count <= 0) return y;
  if (slope == 0.0 && dc == std::floor(dc)) {
    const std::int64_t shift = static_cast<std::int64_t>(dc);
    const std::int64_t lo = std::clamp<std::int64_t>(from + shift, 0, m);
    const std::int64_t hi = std::clamp<std::int64_t>(from + shift + count, 0, m);
    if (lo < hi) {
      const std::span<const double> part = recording.read(lo, hi - lo, buffer);
      std::copy(part.begin(), part.end(), y.begin() + (lo - (from + shift)));
    }
    return y;
  }
  const auto at = [&](std::int64_t i) {
    const double t = double(from + i);
    return t + dc + slope * (t - centre);
  };
  const double a = at(0), b = at(count - 1);
  const double low = std::min(a, b) - kHalfWidth - 1, high = std::max(a, b) + kHalfWidth + 2;
  // Compared in double first: a delay may lie anywhere (or be NaN).
  if (!(low < double(m)) || !(high > 0.0)) return y;
  const auto lo = static_cast<std::int64_t>(std::max(0.0, std::floor(low)));
  const auto hi = static_cast<std::int64_t>(std::min(double(m), std::ceil(high)));
  if (lo >= hi) return y;
  const std::span<const double> part = recording.read(lo, hi - lo, buffer);
  for (std::int64_t i = 0; i < count; ++i) y[size_t(i)] = interpolate(part, at(i) - double(lo));
  return y;
}

// ---- correlation over a few lags ----

// r[K + tau] = sum_t x[t] y[K + t + tau] for tau in -K .. K; y holds
// x.size() + 2K samples. Few lags are summed directly, more by the
// runtime's cross-correlation.
constexpr std::int64_t kDirectLags = 64;

std::vector<double> lagCorrelation(std::span<const double> x, std::span<const double> y, std::int64_t K) {
  const auto w = static_cast<std::int64_t>(x.size());
  std::vector<double> r(size_t(2 * K + 1), 0.0);
  if (K <= kDirectLags) {
    for (std::int64_t tau = -K; tau <= K; ++tau) {
      const double* yy = y.data() + (K + tau);
      double s = 0.0;
      for (std::int64_t t = 0; t < w; ++t) s += x[size_t(t)] * yy[t];
      r[size_t(K + tau)] = s;
    }
    return r;
  }
  // xcorr needs the non-finite constants.
  static std::once_flag once;
  std::call_once(once, [] { rt_InitInfAndNaN(sizeof(real_T)); });
  HostColumn cy(y), cx(x);
  const std::int64_t M = w + 2 * K;
  OutputColumn c(size_t(2 * M - 1));
  xcorr(cy.get(), cx.get(), c.get());
  if (c.get()->size[0] != 2 * M - 1) return std::vector<double>(size_t(2 * K + 1), kNaN);
  const double* cd = c.get()->data;
  for (std::int64_t tau = -K; tau <= K; ++tau) r[size_t(K + tau)] = cd[M - 1 + K + tau];
  return r;
}

// r between its samples (band-limited).
double correlationAt(const std::vector<double>& r, std::int64_t K, double tau) {
  double s = 0.0;
  const auto lo = std::max<std::int64_t>(-K, std::int64_t(std::floor(tau)) - kHalfWidth + 1);
  const auto hi = std::min<std::int64_t>(K, std::int64_t(std::floor(tau)) + kHalfWidth);
  for (std::int64_t k = lo; k <= hi; ++k) s += r[size_t(K + k)] * kernel(tau - double(k));
  return s;
}

// The maximum of sign * r near the whole lag p: a grid of 0.05 samples over
// p - 1 .. p + 1, then golden-section search around its best point.
double refinePeak(const std::vector<double>& r, std::int64_t K, std::int64_t p, double sign) {
  auto f = [&](double tau) { return sign * correlationAt(r, K, tau); };
  double best = double(p), bestValue = f(best);
  for (int i = -20; i <= 20; ++i) {
    const double tau = double(p) + 0.05 * i;
    const double v = f(tau);
    if (v > bestValue) best = tau, bestValue = v;
  }
  const double g = (std::sqrt(5.0) - 1.0) / 2.0;
  double a = best - 0.05, b = best + 0.05;
  double c = b - g * (b - a), d = a + g * (b - a);
  double fc = f(c), fd = f(d);
  for (int i = 0; i < 40; ++i) {
    if (fc > fd) {
      b = d, d = c, fd = fc, c = b - g * (b - a), fc = f(c);
    } else {
      a = c, c = d, fc = fd, d = a + g * (b - a), fd = f(d);
    }
  }
  const double tau = (a + b) / 2.0;
  return f(tau) >= bestValue ? tau : best;
}

double sumSquares(const double* x, std::int64_t n) {
  double s = 0.0;
  for (std::int64_t i = 0; i < n; ++i) s += x[i] * x[i];
  return s;
}

// The delay over reference samples from .. from + w - 1, searched within K
// samples of the model d(t) = dc + slope (t - centre); the delay is that at
// the window's middle.
WindowDelay windowDelay(const SampleSource& reference, const SampleSource& recording, std::int64_t from,
                        std::int64_t w, double dc, double slope, std::int64_t K, int polarity) {
  WindowDelay out;
  out.centre = double(from) + double(w) / 2.0;
  out.delay = kNaN;
  out.coefficient = kNaN;
  std::vector<double> buffer;
  const std::span<const double> x = reference.read(from, w, buffer);
  const std::vector<double> y = warped(recording, from - K, w + 2 * K, dc, slope, out.centre);
  const std::vector<double> r = lagCorrelation(x, y, K);
  const double sign = polarity < 0 ? -1.0 : 1.0;
  // The interpolation reads kHalfWidth lags beyond the whole peak.
  const std::int64_t reach = K - kHalfWidth - 1;
  if (reach < 0) return out;
  std::int64_t p = 0;
  for (std::int64_t tau = -reach; tau <= reach; ++tau)
    if (sign * r[size_t(K + tau)] > sign * r[size_t(K + p)]) p = tau;
  const double ex = sumSquares(x.data(), w);
  const double ey = sumSquares(y.data() + (K + p), w);
  const double coefficient = r[size_t(K + p)] / (std::sqrt(ex) * std::sqrt(ey));
  if (!std::isfinite(coefficient)) return out;
  out.coefficient = coefficient;
  out.delay = dc + refinePeak(r, K, p, sign);
  return out;
}

// Reference samples first .. last - 1 overlap the recording at delay d.
struct Overlap {
  std::int64_t first = 0, last = 0;
  std::int64_t size() const { return std::max<std::int64_t>(0, last - first); }
};

Overlap overlapOf(std::int64_t n, std::int64_t m, std::int64_t delay) {
  return {std::clamp<std::int64_t>(-delay, 0, n), std::clamp<std::int64_t>(m - delay, 0, n)};
}

Json finiteOrNull(double v) { return std::isfinite(v) ? Json(v) : Json(); }

const char* kMatchRule =
    "good: |coefficient| >= 0.9 (residual <= -7.2 dB); doubtful: >= 0.5 (<= -1.2 dB); "
    "no match below, or when no coefficient can be formed; a negative coefficient: polarity "
    "inverted";

Json scoreJson(const MatchScore& s) {
  return Json{{"coefficient", finiteOrNull(s.coefficient)},
              {"residual_db", finiteOrNull(s.residualDb)},
              {"overlap_samples", s.overlapSamples},
              {"opinion", s.opinion},
              {"polarity", s.polarity > 0   ? Json("normal")
                           : s.polarity < 0 ? Json("inverted")
                                            : Json()},
              {"rule", kMatchRule}};
}

Json windowJson(const WindowDelay& w, double rate) {
  return Json{{"centre_s", w.centre / rate},
              {"delay_samples", finiteOrNull(w.delay)},
              {"coefficient", finiteOrNull(w.coefficient)}};
}

bool usable(const WindowDelay& w) {
  return std::isfinite(w.delay) && std::fabs(w.coefficient) >= kDoubtfulCoefficient;
}

}  // namespace

// ---- match score ----

MatchScore matchScore(const SampleSource& reference, const SampleSource& recording, std::int64_t delay) {
  MatchScore s;
  const Overlap o = overlapOf(reference.size(), recording.size(), delay);
  s.overlapSamples = o.size();
  // In blocks, each sum in sample order as over the whole arrays.
  constexpr std::int64_t kBlock = std::int64_t(1) << 16;
  std::vector<double> bufferR, bufferA;
  const auto blocks = [&](auto&& each) {
    for (std::int64_t t = o.first; t < o.last; t += kBlock) {
      const std::int64_t b = std::min(kBlock, o.last - t);
      each(reference.read(t, b, bufferR), recording.read(t + delay, b, bufferA));
    }
  };
  double rr = 0.0, aa = 0.0, ra = 0.0;
  blocks([&](std::span<const double> r, std::span<const double> a) {
    for (size_t i = 0; i < r.size(); ++i) rr += r[i] * r[i], aa += a[i] * a[i], ra += r[i] * a[i];
  });
  s.coefficient = s.overlapSamples > 0 ? ra / (std::sqrt(rr) * std::sqrt(aa)) : kNaN;
  s.residualDb = kNaN;
  if (std::isfinite(s.coefficient)) {
    // Summed, not taken as 1 - coefficient^2, which cancels near a match.
    const double gain = ra / aa;
    double e = 0.0;
    blocks([&](std::span<const double> r, std::span<const double> a) {
      for (size_t i = 0; i < r.size(); ++i) {
        const double d = r[i] - gain * a[i];
        e += d * d;
      }
    });
    s.residualDb = e > 0.0 ? std::max(kResidualFloorDb, 10.0 * std::log10(e / rr)) : kResidualFloorDb;
  }
  const double c = std::fabs(s.coefficient);
  s.opinion = c >= kGoodCoefficient ? "good" : c >= kDoubtfulCoefficient ? "doubtful" : "no match";
  if (c >= kDoubtfulCoefficient) s.polarity = s.coefficient > 0.0 ? 1 : -1;
  return s;
}

// ---- sub-sample delay ----

WindowDelay subSampleDelay(const SampleSource& reference, const SampleSource& recording, std::int64_t delay,
                           int polarity, std::int64_t maxWindow) {
  const Overlap o = overlapOf(reference.size(), recording.size(), delay);
  const std::int64_t w = std::min(o.size(), maxWindow);
  if (w < 1) return {0.0, kNaN, kNaN};
  const std::int64_t from = o.first + (o.size() - w) / 2;
  // The whole peak within 8 samples of the delay, with the interpolator's reach.
  return windowDelay(reference, recording, from, w, double(delay), 0.0, 8 + kHalfWidth + 1, polarity);
}

// ---- drift ----

Drift drift(const SampleSource& reference, const SampleSource& recording, std::int64_t delay, int polarity,
            double sampleRate) {
  Drift d;
  const Overlap o = overlapOf(reference.size(), recording.size(), delay);
  const std::int64_t n = o.size();
  // Limited in double before rounding: any rate gives a window that fits.
  const auto w = std::llround(std::min(kDriftWindowSeconds * sampleRate, double(n / 4)));
  d.windowSamples = w;
  if (double(w) < kMinDriftWindowSeconds * sampleRate || w < 2 * kHalfWidth) {
    d.reason =
        fmt("the overlap (%lld sample%s (%.3f s)) is too short: the drift needs two windows of at least "
            "%.1f s within a quarter of it",
            (long long)n, n == 1 ? "" : "s", double(n) / sampleRate, kMinDriftWindowSeconds);
    return d;
  }
  const std::int64_t a1 = o.first, a2 = o.last - w;
  const double c1 = double(a1) + double(w) / 2.0, c2 = double(a2) + double(w) / 2.0;
  // Far enough for the largest drift across the overlap, and the interpolator.
  const std::int64_t search = std::int64_t(std::ceil(kMaxDriftPpm * 1e-6 * double(n))) + kHalfWidth + 9;
  // A window's correlation smears over the delay's change across it; each
  // pass measures both windows through the previous pass's drift, which
  // shrinks the smear, until the drift settles.
  // A smeared peak is low, so only the last pass's coefficients are judged.
  double slope = 0.0, d1 = double(delay), d2 = double(delay);
  std::int64_t k = search;
  for (int pass = 0; pass < 8; ++pass) {
    d.start = windowDelay(reference, recording, a1, w, d1, slope, k, polarity);
    d.end = windowDelay(reference, recording, a2, w, d2, slope, k, polarity);
    if (!std::isfinite(d.start.delay) || !std::isfinite(d.end.delay)) break;
    const double next = (d.end.delay - d.start.delay) / (c2 - c1);
    const double moved = std::max(std::fabs(d.start.delay - d1), std::fabs(d.end.delay - d2));
    d1 = d.start.delay, d2 = d.end.delay;
    const bool settled = std::fabs(next - slope) < 0.01e-6;
    slope = next;
    if (settled) break;
    k = std::min(search, std::int64_t(std::ceil(2.0 * moved)) + kHalfWidth + 9);
  }
  if (!usable(d.start) || !usable(d.end)) {
    const bool startFails = !usable(d.start);
    d.reason =
        fmt("the %s window (%.1f s from %.1f s) does not match: coefficient %.3g, "
            "below %.2g",
            startFails ? "start" : "end", double(w) / sampleRate, double(startFails ? a1 : a2) / sampleRate,
            startFails ? d.start.coefficient : d.end.coefficient, kDoubtfulCoefficient);
    return d;
  }
  d.ppm = slope * 1e6;
  // One window a kDelaySeriesSpacingSeconds over a long overlap, so that
  // drift and dropouts show over its whole length.
  const auto windows = static_cast<int>(
      std::clamp<double>(std::floor(double(n) / (kDelaySeriesSpacingSeconds * sampleRate)) + 1.0,
                         kDelaySeriesWindows, kMaxDelaySeriesWindows));
  const std::int64_t step = (a2 - a1) / std::max(1, windows - 1);
  for (int i = 0; i < windows; ++i) {
    const std::int64_t from = i + 1 == windows ? a2 : a1 + i * step;
    const double centre = double(from) + double(w) / 2.0;
    WindowDelay wd = windowDelay(reference, recording, from, w, d1 + slope * (centre - c1), slope,
                                 kHalfWidth + 17, polarity);
    if (!usable(wd)) wd.delay = kNaN;
    d.series.push_back(wd);
  }
  return d;
}

// ---- report entries ----

// A delay that converts to a whole number of samples (finite, within
// int64_t); any other has no match to score.
static bool wholeFits(double delay) { return std::fabs(delay) < 0x1p62; }

Json matchJson(const SampleSource& reference, const SampleSource& recording, double delay) {
  if (!wholeFits(delay)) return scoreJson(MatchScore{kNaN, kNaN, 0, "no match", 0});
  return scoreJson(matchScore(reference, recording, std::int64_t(delay)));
}

Json alignmentOpinion(const SampleSource& reference, const SampleSource& recording, double delay,
                      double sampleRate, std::int64_t maxSubSampleWindow) {
  const bool finite = wholeFits(delay);
  const auto whole = finite ? std::int64_t(delay) : 0;
  const MatchScore score =
      finite ? matchScore(reference, recording, whole) : MatchScore{kNaN, kNaN, 0, "no match", 0};
  Json subSample, driftJson;
  if (score.polarity != 0)
    subSample =
        finiteOrNull(subSampleDelay(reference, recording, whole, score.polarity, maxSubSampleWindow).delay);
  // A large drift spoils the match over a long overlap while each window
  // still matches: the drift is sought even without a match, with either
  // polarity when the score cannot tell.
  std::string unmeasured = "the delay is not a number";
  if (finite) {
    Drift dr = drift(reference, recording, whole, score.polarity < 0 ? -1 : 1, sampleRate);
    if (!dr.reason.empty() && score.polarity == 0) {
      Drift inverted = drift(reference, recording, whole, -1, sampleRate);
      if (inverted.reason.empty()) dr = std::move(inverted);
    }
    unmeasured = dr.reason;
    if (dr.reason.empty()) {
      Json centres = Json::array(), delays = Json::array(), coefficients = Json::array();
      for (const WindowDelay& w : dr.series) {
        centres.push_back(w.centre / sampleRate);
        delays.push_back(finiteOrNull(w.delay));
        coefficients.push_back(finiteOrNull(w.coefficient));
      }
      driftJson = Json{{"drift_ppm", dr.ppm},
                       {"flagged", std::fabs(dr.ppm) > kDriftLimitPpm},
                       {"limit_ppm", kDriftLimitPpm},
                       {"window_samples", dr.windowSamples},
                       {"window_s", double(dr.windowSamples) / sampleRate},
                       {"start", windowJson(dr.start, sampleRate)},
                       {"end", windowJson(dr.end, sampleRate)},
                       {"reason", Json()},
                       {"series",
                        {{"centre_s", std::move(centres)},
                         {"delay_samples", std::move(delays)},
                         {"coefficient", std::move(coefficients)}}}};
    }
  }
  if (driftJson.is_null()) {
    driftJson = Json{{"drift_ppm", Json()},
                     {"flagged", Json()},
                     {"limit_ppm", kDriftLimitPpm},
                     {"window_samples", Json()},
                     {"window_s", Json()},
                     {"start", Json()},
                     {"end", Json()},
                     {"reason", unmeasured},
                     {"series", Json()}};
  }
  return Json{{"match", scoreJson(score)},
              {"sub_sample_delay_samples", subSample},
              {"sub_sample_delay_ms",
               subSample.is_number() ? Json(subSample.get<double>() / sampleRate * 1000.0) : Json()},
              {"drift", std::move(driftJson)}};
}

}  // namespace audiomeas::host
