// Numbers from outside through the C interface: each out-of-range value is
// refused with its code and a message naming it, and the caller's arrays
// stay as they were. Under UBSan a value that reached a float-to-integer
// conversion unchecked fails here (float-cast-overflow).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "audiomeas.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Owned {
  audiomeas_result* r;
  explicit Owned(audiomeas_result* p) : r(p) {}
  ~Owned() { audiomeas_result_free(r); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
};

// Inputs every case reads: a second of noise-like samples at 48 kHz.
struct Inputs {
  std::vector<double> a, b;
  Inputs() : a(48000), b(48000) {
    for (size_t i = 0; i < a.size(); ++i) {
      a[i] = std::sin(0.37 * double(i) * double(i % 97));
      b[i] = i >= 60 ? a[i - 60] : 0.0;
    }
  }
};

struct Case {
  const char* what;
  std::function<audiomeas_result*(Inputs&)> call;
  int code;
  std::vector<const char*> says;
};

std::string job(const char* tail) {
  return std::string(R"({"measurement":"align","files":["a.wav","b.wav"],)") + tail + "}";
}

TEST(CapiRanges, OutOfRangeNumbersAreRefusedAtEntry) {
  const std::string channels[] = {job(R"("channel":4294967297)"), job(R"("channel":1.9)"),
                                  job(R"("channel":true)"), job(R"("channel":-4294967295)")};
  const std::vector<Case> cases = {
      {"align at 1e300 Hz",
       [](Inputs& in) { return audiomeas_align(in.a.data(), 48000, in.b.data(), 48000, 1e300, 0.0, 0); },
       AUDIOMEAS_BAD_INPUT,
       {"sample_rate", "1e+300 Hz", "above"}},
      {"align at 1e300 Hz, empty",
       [](Inputs& in) { return audiomeas_align(in.a.data(), 0, in.b.data(), 0, 1e300, 0.0, 0); },
       AUDIOMEAS_BAD_INPUT,
       {"sample_rate"}},
      {"align, a window of 1e-9 s",
       [](Inputs& in) { return audiomeas_align(in.a.data(), 48000, in.b.data(), 48000, 48000, 1e-9, 0); },
       AUDIOMEAS_BAD_INPUT,
       {"window", "1e-09 s", "at least 1 s"}},
      {"measure, window_s 1e-6",
       [](Inputs& in) {
         const double* s[] = {in.a.data(), in.b.data()};
         const int64_t n[] = {48000, 48000};
         return audiomeas_measure("align", s, n, 2, 48000, R"({"window_s":1e-6})");
       },
       AUDIOMEAS_USAGE,
       {"window_s", "at least 1 s"}},
      {"measure at 1e300 Hz",
       [](Inputs& in) {
         const double* s[] = {in.a.data(), in.b.data(), in.b.data()};
         const int64_t n[] = {48000, 48000, 48000};
         return audiomeas_measure("transient-snr", s, n, 3, 1e300, nullptr);
       },
       AUDIOMEAS_BAD_INPUT,
       {"sample_rate"}},
      {"measure, pad_samples 1e300",
       [](Inputs& in) {
         const double* s[] = {in.a.data(), in.b.data()};
         const int64_t n[] = {48000, 48000};
         return audiomeas_measure("attack-release", s, n, 2, 48000, R"({"pad_samples":1e300})");
       },
       AUDIOMEAS_USAGE,
       {"pad_samples"}},
      {"job, pad_samples 9.3e18",
       [](Inputs&) {
         return audiomeas_measure_files(
             R"({"measurement":"attack-release","files":["a.wav","b.wav"],"pad_samples":9.3e18})");
       },
       AUDIOMEAS_USAGE,
       {"pad_samples"}},
      {"job, channel 4294967297",
       [&](Inputs&) { return audiomeas_measure_files(channels[0].c_str()); },
       AUDIOMEAS_USAGE,
       {"4294967297", "not a channel"}},
      {"job, channel 1.9",
       [&](Inputs&) { return audiomeas_measure_files(channels[1].c_str()); },
       AUDIOMEAS_USAGE,
       {"1.9", "not a channel"}},
      {"job, channel true",
       [&](Inputs&) { return audiomeas_measure_files(channels[2].c_str()); },
       AUDIOMEAS_USAGE,
       {"true", "not a channel"}},
      {"job, channel -4294967295",
       [&](Inputs&) { return audiomeas_measure_files(channels[3].c_str()); },
       AUDIOMEAS_USAGE,
       {"-4294967295", "not a channel"}},
      {"compressor at 1e300 Hz",
       [](Inputs& in) { return audiomeas_model_compressor(in.a.data(), 48000, 1e300, -20.0, 4.0, 0.5, 2.0); },
       AUDIOMEAS_BAD_INPUT,
       {"sample_rate"}},
      {"compressor, a NaN sample",
       [](Inputs& in) {
         in.a[5] = kNaN;
         return audiomeas_model_compressor(in.a.data(), 48000, 48000, -20.0, 4.0, 0.5, 2.0);
       },
       AUDIOMEAS_USAGE,
       {"signal", "sample 5 ", "NaN"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Inputs in;
    // Once to set up the inputs as the case gives them (a NaN written in).
    { const Owned first(c.call(in)); }
    Inputs given = in;
    const Owned r(c.call(in));
    EXPECT_EQ(audiomeas_result_code(r.r), c.code);
    const std::string json = audiomeas_result_json(r.r);
    for (const char* word : c.says) EXPECT_NE(json.find(word), std::string::npos) << json;
    int64_t count = -1;
    EXPECT_EQ(audiomeas_result_samples(r.r, &count), nullptr);
    EXPECT_EQ(count, 0);
    // The caller's arrays are read, never written (NaN compares unequal).
    for (size_t i = 0; i < in.a.size(); ++i) {
      EXPECT_TRUE(in.a[i] == given.a[i] || (std::isnan(in.a[i]) && std::isnan(given.a[i])));
      EXPECT_EQ(in.b[i], given.b[i]);
    }
  }
}

// The highest rates still taken run to a report: counts formed from the
// rate stay within their integer types.
TEST(CapiRanges, TheHighestRatesStillMeasure) {
  Inputs in;
  for (double rate : {2147483647.0, 1e9}) {
    SCOPED_TRACE(rate);
    const Owned r(audiomeas_align(in.a.data(), 48000, in.b.data(), 48000, rate, 0.0, 0));
    EXPECT_LE(audiomeas_result_code(r.r), AUDIOMEAS_FLAGGED) << audiomeas_result_json(r.r);
    const Owned c(audiomeas_model_compressor(in.a.data(), 48000, rate, -20.0, 4.0, 0.5, 2.0));
    EXPECT_EQ(audiomeas_result_code(c.r), AUDIOMEAS_OK) << audiomeas_result_json(c.r);
  }
}

}  // namespace
