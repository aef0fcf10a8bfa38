// The host's second opinion on an alignment, on signals whose delay and drift
// are known exactly: band-limited multitone noise can be evaluated at any
// instant, so a fractional delay or a clock drift is a change of time base,
// free of any filter's error.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "match.hpp"

namespace {

using namespace audiomeas::host;
using Signal = std::vector<double>;
constexpr double kRate = 48000.0;
constexpr double kTwoPi = 6.283185307179586;

// 40 sinusoids of random frequency below a quarter of the rate, phase and
// amplitude, at reference instants (i - delay) / ratio: the recording of a
// clock `ratio` times as fast, `delay` samples late at the start.
Signal multitone(size_t n, double delay = 0.0, double ratio = 1.0, unsigned seed = 7) {
  std::mt19937_64 g(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Signal x(n, 0.0);
  for (int k = 0; k < 40; ++k) {
    const double w = kTwoPi * (0.002 + 0.248 * u(g));  // radians per reference sample
    const double phase = kTwoPi * u(g), amplitude = 0.5 + u(g);
    const std::complex<double> step = std::polar(1.0, w / ratio);
    std::complex<double> z = std::polar(amplitude, phase - w * delay / ratio);
    for (size_t i = 0; i < n; ++i, z *= step) x[i] += z.imag();
  }
  return x;
}

TEST(SubSampleDelay, KnownFractionalDelaysWithinFiveHundredthsOfASample) {
  const Signal ref = multitone(96000);
  for (double fraction : {0.25, 0.5, 0.37, -0.37, 0.0}) {
    const Signal rec = multitone(96000, 100.0 + fraction);
    const WindowDelay d = subSampleDelay(ref, rec, 100, 1);
    EXPECT_NEAR(d.delay, 100.0 + fraction, 0.05) << "fraction " << fraction;
  }
}

TEST(Drift, KnownDriftOverSixtySecondsWithinFivePpm) {
  const size_t n = size_t(60 * kRate);
  const Signal ref = multitone(n);
  struct Case {
    double ratio;
    bool flagged;
  };
  for (const Case c : {Case{1.0, false}, Case{1.0002, true}, Case{1.001, true}, Case{1.0 / 1.001, true}}) {
    const double ppm = (c.ratio - 1.0) * 1e6;
    const Signal rec = multitone(n + 2000, 1000.0, c.ratio);
    // As the library finds it: the delay in the middle, to the whole sample.
    const auto whole = std::int64_t(std::lround(1000.0 + (c.ratio - 1.0) * double(n) / 2.0));
    const Drift d = drift(ref, rec, whole, 1, kRate);
    ASSERT_TRUE(d.reason.empty()) << d.reason;
    EXPECT_NEAR(d.ppm, ppm, 5.0) << "ratio " << c.ratio;
    EXPECT_EQ(std::fabs(d.ppm) > kDriftLimitPpm, c.flagged) << "ratio " << c.ratio;
    ASSERT_EQ(d.series.size(), size_t(kDelaySeriesWindows));
    for (const WindowDelay& w : d.series)
      EXPECT_NEAR(w.delay, 1000.0 + (c.ratio - 1.0) * w.centre, 0.5) << "ratio " << c.ratio;
  }
}

TEST(Drift, NotMeasuredWithoutTwoUsableWindows) {
  const Signal ref = multitone(48000);
  EXPECT_NE(drift(ref, multitone(48000, 10.0), 10, 1, kRate).reason, "");  // 1 s: too short
  Signal half = multitone(480000, 10.0);
  std::fill(half.begin() + 240000, half.end(), 0.0);  // silent end window
  EXPECT_NE(drift(multitone(480000), half, 10, 1, kRate).reason, "");
}

TEST(MatchScore, OpinionAndPolarity) {
  const Signal ref = multitone(48000);
  Signal noisy = multitone(48000, 100.0), inverted = noisy, silent(48000, 0.0);
  std::mt19937_64 g(3);
  std::normal_distribution<double> noise(0.0, 0.5);  // about 17 dB below the signal
  for (double& v : noisy) v += noise(g);
  for (double& v : inverted) v = -v;
  struct Case {
    const char* name;
    Signal rec;
    std::int64_t delay;
    double low, high;  // coefficient
    const char* opinion;
    int polarity;
  };
  const Case cases[] = {
      {"same", ref, 0, 0.999999, 1.0, "good", 1},
      {"noisy", noisy, 100, 0.97, 0.995, "good", 1},
      {"unrelated", multitone(48000, 0.0, 1.0, 9), 0, -0.1, 0.1, "no match", 0},
      {"inverted", inverted, 100, -1.0, -0.999, "good", -1},
      {"off by 100", noisy, 0, -0.2, 0.2, "no match", 0},
  };
  for (const Case& c : cases) {
    const MatchScore s = matchScore(ref, c.rec, c.delay);
    EXPECT_GE(s.coefficient, c.low) << c.name;
    EXPECT_LE(s.coefficient, c.high) << c.name;
    EXPECT_STREQ(s.opinion, c.opinion) << c.name;
    EXPECT_EQ(s.polarity, c.polarity) << c.name;
    // The residual after the best gain is 1 - coefficient^2 of the reference.
    const double unexplained = 1.0 - s.coefficient * s.coefficient;
    if (unexplained > 1e-9)
      EXPECT_NEAR(s.residualDb, 10 * std::log10(unexplained), 0.01) << c.name;
    else
      EXPECT_LT(s.residualDb, -90.0) << c.name;
  }
  for (const std::int64_t delay : {0, 48000, -48000}) {  // silent, no overlap either side
    const MatchScore s = matchScore(ref, delay == 0 ? silent : ref, delay);
    EXPECT_TRUE(std::isnan(s.coefficient)) << delay;
    EXPECT_STREQ(s.opinion, "no match") << delay;
  }
  EXPECT_EQ(matchJson(ref, inverted, 100.0)["polarity"], "inverted");
  EXPECT_TRUE(matchJson(ref, ref, std::nan(""))["coefficient"].is_null());
}

}  // namespace
