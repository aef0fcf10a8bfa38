// Every number a report shares with a library (lags, flags, settle times,
// levels) is the library's own result, bit for bit: the host layer runs the
// same internals, and the reports must not change what they compute. The
// libraries are loaded as a host loads them (dlopen, RTLD_LOCAL) and called
// through their exported C names.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "envelo_estimation.hpp"
#include "report.hpp"
#include "synkro_2.hpp"
#include "test_arrays.hpp"

namespace {

using audiomeas::host::Json;
using audiomeas::test::Column;
using Signal = std::vector<double>;

// The entry point `name` of lib<library>.so, after its initialise function
// (`name`_initialize) when the library has one.
template <class F>
F* entry(const char* library, const char* name) {
  const std::string path = std::string(AUDIOMEAS_LIB_DIR "/lib") + library + ".so";
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) throw std::runtime_error(dlerror());
  if (void* init = dlsym(handle, (std::string(name) + "_initialize").c_str()))
    reinterpret_cast<void (*)()>(init)();
  return reinterpret_cast<F*>(dlsym(handle, name));
}

using Synkro = void(const emxBuffer_real_T*, const emxBuffer_real_T*, double, emxBuffer_real_T*, double*,
                    double*);
using Envelo = void(const emxBuffer_real_T*, const emxBuffer_real_T*, double, double, double*, double*,
                    double*);
using Burstra = void(const emxBuffer_real_T*, const emxBuffer_real_T*, const emxBuffer_real_T*, double,
                     double*, double*, double*);

// Same bits; a report's null stands for NaN, and for a settle time of 0.0
// ("not found").
void expectBits(const Json& reported, double library, const char* what) {
  const double value = reported.is_null()      ? (library == 0.0 ? 0.0 : std::nan(""))
                       : reported.is_boolean() ? (reported.get<bool>() ? 1.0 : 0.0)
                                               : reported.get<double>();
  if (std::isnan(library) && std::isnan(value)) return;
  EXPECT_EQ(0, std::memcmp(&value, &library, sizeof value))
      << what << ": report " << reported << ", library " << library;
}

// The report's `tests` are the library's records, one entry per test in the
// order the library tries them, none decided again by the host.
void expectTests(const Json& tests,
                 const std::vector<std::pair<const char*, audiomeas::VerdictTest>>& record) {
  ASSERT_EQ(tests.size(), record.size());
  for (size_t i = 0; i < record.size(); ++i) {
    const auto& [name, t] = record[i];
    SCOPED_TRACE(name);
    EXPECT_EQ(tests[i]["test"], name);
    expectBits(tests[i]["value"], t.value, "value");
    expectBits(tests[i]["limit"], t.limit, "limit");
    EXPECT_EQ(tests[i]["passed"], t.passed);
  }
}

// Counts are written as JSON integers (240, not 240.0); null where none
// was formed.
void expectCounts(const Json& object, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const Json& v = object.at(name);
    EXPECT_TRUE(v.is_number_integer() || v.is_null()) << name << ": " << v;
  }
}

// Reproducible noise, uniform in [-1, 1).
Signal noise(size_t n, std::uint64_t seed, double scale = 1.0) {
  Signal x(n);
  for (double& v : x) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    v = scale * (double(seed >> 11) / double(1ULL << 52) - 1.0);
  }
  return x;
}

Signal delayed(const Signal& x, long delay, size_t n, double gain = 1.0) {
  Signal y(n, 0.0);
  for (size_t i = 0; i < n; ++i) {
    const long j = long(i) - delay;
    if (j >= 0 && j < long(x.size())) y[i] = gain * x[size_t(j)];
  }
  return y;
}

// Speech-like: noise in bursts of 0.3 s with 0.2 s pauses, after 0.5 s of silence.
Signal bursts(size_t n, double rate, std::uint64_t seed) {
  Signal x = noise(n, seed, 0.3);
  for (size_t i = 0; i < n; ++i) {
    const double t = double(i) / rate;
    if (t < 0.5 || std::fmod(t - 0.5, 0.5) > 0.3) x[i] = 0.0;
  }
  return x;
}

struct AlignCase {
  const char* name;
  Signal reference, recording;
  double rate;
};

TEST(ReportIdentity, AlignMatchesSynkro) {
  auto* synkro = entry<Synkro>("synkro", "synkro_2");
  const Signal n1 = noise(96000, 1);
  const Signal speech = bursts(144000, 48000, 7);
  const AlignCase cases[] = {
      {"noise delayed", n1, delayed(n1, 1260, 96000, 0.5), 48000},
      {"noise early", n1, delayed(n1, -700, 90000), 48000},
      {"bursts against themselves", speech, speech, 48000},
      {"bursts delayed, longer", speech, delayed(speech, 3000, 150000), 48000},
      {"silent recording", n1, Signal(96000, 0.0), 48000},
      {"unrelated", n1, noise(96000, 99), 48000},
      {"short, no coarse stage", noise(3000, 3), delayed(noise(3000, 3), 5, 3000), 48000},
      {"44.1 kHz", noise(88200, 4), delayed(noise(88200, 4), 441, 88200), 44100},
      {"shorter recording", n1, delayed(n1, 100, 30000), 48000},
  };
  for (const AlignCase& c : cases) {
    SCOPED_TRACE(c.name);
    Column ref(c.reference), rec(c.recording), out;
    double lag = 0.0, failed = 0.0;
    synkro(ref.get(), rec.get(), c.rate, out.get(), &lag, &failed);
    audiomeas::host::Options library;
    library.libraryOutput = true;
    const auto m = audiomeas::host::align(c.reference, c.recording, c.rate, library);
    expectBits(m.report["fine_lag_samples"], lag, "fine lag");
    expectBits(m.report["alignment_failed"], failed, "flag");
    audiomeas::synkro::Report rep;
    Column internalOut;
    double internalLag = 0.0, internalFailed = 0.0;
    audiomeas::synkro::synkro_2(ref.get(), rec.get(), c.rate, internalOut.get(), &internalLag,
                                &internalFailed, &rep);
    expectTests(m.report["tests"], {{"coarse_shift", rep.tests.coarseShift},
                                    {"fine_lag", rep.tests.fineLag},
                                    {"peak_distinctness", rep.tests.distinctness}});
    expectCounts(m.report, {"reference_samples", "recording_samples"});
    expectCounts(m.report["onsets"], {"block_length_samples", "reference_block", "recording_block"});
    expectCounts(m.report["peak"], {"index"});
    ASSERT_EQ(m.samples.size(), size_t(out.length()));
    EXPECT_EQ(0, std::memcmp(m.samples.data(), out.values().data(), m.samples.size() * 8));
    // The default output keeps every sample the total delay brings in.
    const auto d = audiomeas::host::align(c.reference, c.recording, c.rate);
    const long total = long(d.report["total_delay_samples"].get<double>());
    EXPECT_EQ(d.samples, delayed(c.recording, -total, c.reference.size()));
    EXPECT_EQ(d.report["failed_test"].is_null(), failed == 0.0);
  }
}

struct TransientCase {
  const char* name;
  Signal presence, activity, measured;
  double rate;
};

TEST(ReportIdentity, TransientMatchesBurstra) {
  auto* burstra = entry<Burstra>("burstra", "burstra");
  const Signal floor = noise(144000, 11, 300.0);
  Signal burst = floor, gate(144000, 0.0);
  for (size_t i = 48000; i < 72000; ++i) burst[i] += noise(1, i, 8000.0)[0], gate[i] = 16000.0;
  const TransientCase cases[] = {
      {"burst over noise", Signal(144000, 2000.0), gate, burst, 48000},
      {"three identical inputs", burst, burst, burst, 48000},
      {"no activity", Signal(144000, 2000.0), Signal(144000, 0.0), floor, 48000},
      {"too loud", Signal(144000, 40000.0), gate, burst, 48000},
      {"44.1 kHz", Signal(132300, 2000.0), Signal(132300, 16000.0), noise(132300, 5, 3000.0), 44100},
      {"less than a frame", Signal(200, 1.0), Signal(200, 1.0), Signal(200, 1.0), 48000},
  };
  for (const TransientCase& c : cases) {
    SCOPED_TRACE(c.name);
    Column p(c.presence), a(c.activity), m(c.measured);
    double difference = 0.0, active = 0.0, warning = 0.0;
    burstra(p.get(), a.get(), m.get(), c.rate, &difference, &active, &warning);
    try {
      const auto r = audiomeas::host::transientSnr(c.presence, c.activity, c.measured, c.rate);
      expectBits(r.report["level_difference_db"], difference, "difference");
      expectBits(r.report["active_level_db"], active, "active level");
      expectBits(r.report["warning"], warning, "warning");
      EXPECT_EQ(r.report["warnings_fired"].empty(), warning == 0.0);
      expectCounts(r.report, {"frame_length_samples", "frame_count", "active_frames", "noise_frames",
                              "active_present_frames"});
      for (const Json& check : r.report["checks"]) {
        if (check["test"] == "frames" || check["test"] == "active_too_short") expectCounts(check, {"value"});
      }
    } catch (const audiomeas::host::InputError& e) {
      // Refused only where no frame can be formed, which the library flags.
      EXPECT_EQ(warning, 1.0) << e.what();
    }
  }
}

// 115.5 s of noise, 20 dB louder from 40 s to 65 s, through a gain that
// settles over about a second after each step (a crude compressor).
Signal stimulus() {
  Signal x = noise(5544000, 21, 1000.0);
  for (size_t i = 1920000; i < 3120000; ++i) x[i] *= 10.0;
  return x;
}
Signal device(const Signal& x) {
  Signal y(x.size());
  double g = 1.0;
  for (size_t i = 0; i < x.size(); ++i) {
    const double target = (i >= 1920000 && i < 3120000) ? 0.3 : 1.0;
    g += (target - g) * 2e-5;
    y[i] = g * x[i];
  }
  return y;
}

TEST(ReportIdentity, AttackReleaseMatchesEnvelo) {
  auto* envelo = entry<Envelo>("envelo", "envelo_estimation");
  const Signal ref = stimulus();
  const Signal out = device(ref);
  struct {
    const char* name;
    Signal recording;
    std::int64_t pad;
  } cases[] = {
      {"100 ms late", delayed(out, 4800, out.size() + 4800), 0},
      {"no latency, no pad", out, 0},
      {"unrelated", noise(out.size(), 5, 1000.0), 0},
      {"10 s late", delayed(out, 480000, out.size() + 480000), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Column r(ref), rec(c.recording);
    double rise = 0.0, fall = 0.0, failed = 0.0;
    envelo(r.get(), rec.get(), 0.0, 0.0, &rise, &fall, &failed);
    audiomeas::host::Options o;
    o.padSamples = c.pad;
    const auto m = audiomeas::host::attackRelease(ref, c.recording, 48000, o);
    expectBits(m.report["release_settle_time_s"], rise, "release (rise)");
    expectBits(m.report["attack_settle_time_s"], fall, "attack (fall)");
    expectBits(m.report["alignment_failed"], failed, "flag");
    EXPECT_EQ(m.report["failed_test"].is_null(), failed == 0.0);
    audiomeas::envelo::Report rep;
    audiomeas::envelo::envelo_estimation(r.get(), rec.get(), 0.0, 0.0, &rise, &fall, &failed, &rep);
    expectTests(m.report["tests"], {{"coarse_shift", rep.tests.coarseShift},
                                    {"total_delay", rep.tests.totalDelay},
                                    {"peak_distinctness", rep.tests.distinctness},
                                    {"recording_lags", rep.tests.recordingLags}});
    expectCounts(m.report["onsets"], {"block_length_samples", "reference_block", "recording_block"});
    expectCounts(m.report["attack"], {"windows"});
  }
  // A recording with no latency measures with the default pad, as the same
  // recording padded by hand does in the library.
  const Signal padded =
      delayed(out, audiomeas::host::kDefaultPadSamples, out.size() + audiomeas::host::kDefaultPadSamples);
  Column r(ref), rec(padded);
  double rise = 0.0, fall = 0.0, failed = 0.0;
  envelo(r.get(), rec.get(), 0.0, 0.0, &rise, &fall, &failed);
  const auto m = audiomeas::host::attackRelease(ref, out, 48000);
  EXPECT_EQ(failed, 0.0);
  expectBits(m.report["release_settle_time_s"], rise, "release");
  expectBits(m.report["attack_settle_time_s"], fall, "attack");
  EXPECT_EQ(m.report["total_delay_samples"].get<double>(), 0.0);
}

}  // namespace
