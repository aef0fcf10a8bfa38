// envelo_estimation end to end: a 115.5 s noise test signal through a
// simulated compressor with known time constants and latency; and the
// refusal of inputs that are too short. Each call runs
// three 2^21-point transforms, so the calls are few.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "envelo_estimation.h"
#include "envelo_estimation.hpp"
#include "test_arrays.hpp"

namespace {

namespace ev = audiomeas::envelo;
using audiomeas::test::Column;
using audiomeas::test::kSentinel;

constexpr int32_T kFs = 48000;
constexpr int32_T kLength = 5544000;  // 115.5 s
constexpr int32_T kDelay = 4800;      // 0.1 s

// Input level, dB re 32767: silence for 0.5 s, -30 dB, +20 dB from 40 s
// (the device's output overshoots and comes down: the falling segment),
// back to -30 dB from 65 s (output undershoots and comes up: rising).
real_T inputLevel(int32_T n) { return n < 40 * kFs || n >= 65 * kFs ? -30.0 : -10.0; }

std::vector<real_T> testSignal() {
  std::vector<real_T> x(kLength, 0.0);
  uint32_t state = 2024;
  for (int32_T n = kFs / 2; n < kLength; ++n) {
    state = state * 1664525u + 1013904223u;
    const real_T uniform = static_cast<real_T>(state >> 8) / 16777216.0 - 0.5;  // RMS 1/sqrt(12)
    x[n] = uniform * std::sqrt(12.0) * 32767.0 * std::pow(10.0, inputLevel(n) / 20);
  }
  return x;
}

// Compressor with an ideal level detector: threshold -40 dB, ratio 3, gain
// smoothed in dB with time constants attackS (gain falling) and releaseS
// (rising); then kDelay samples of latency.
std::vector<real_T> throughDevice(const std::vector<real_T>& in, real_T attackS, real_T releaseS) {
  const real_T attack = 1 - std::exp(-1 / (attackS * kFs));
  const real_T release = 1 - std::exp(-1 / (releaseS * kFs));
  std::vector<real_T> out(in.size() + kDelay, 0.0);
  real_T gainDb = -(2.0 / 3.0) * (inputLevel(0) + 40);
  for (std::size_t n = 0; n < in.size(); ++n) {
    const real_T target = -(2.0 / 3.0) * (inputLevel(static_cast<int32_T>(n)) + 40);
    gainDb += (target - gainDb) * (target < gainDb ? attack : release);
    out[n + kDelay] = in[n] * std::pow(10.0, gainDb / 20);
  }
  return out;
}

struct Result {
  real_T rise = kSentinel, fall = kSentinel, failed = kSentinel;
};

Result estimate(std::vector<real_T>& reference, std::vector<real_T>& recording) {
  emxBuffer_real_T* ref =
      emxCreateWrapper_real_T(reference.data(), static_cast<int32_T>(reference.size()), 1);
  emxBuffer_real_T* rec =
      emxCreateWrapper_real_T(recording.data(), static_cast<int32_T>(recording.size()), 1);
  Result r;
  envelo_estimation(ref, rec, NAN, NAN, &r.rise, &r.fall, &r.failed);  // 3 and 4 are not read
  emxDestroyArray_real_T(ref);
  emxDestroyArray_real_T(rec);
  return r;
}

class EnveloEstimation : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    envelo_estimation_initialize();
    reference_ = new std::vector<real_T>(testSignal());
  }
  static void TearDownTestSuite() { delete reference_; }
  static std::vector<real_T>* reference_;
};
std::vector<real_T>* EnveloEstimation::reference_ = nullptr;

// Fails if the delay is misjudged or its sign reversed, or if a recording
// that does not lag the reference (total delay 0) is accepted.
TEST_F(EnveloEstimation, AlignmentFindsTheDeviceLatency) {
  const std::vector<real_T> recording = throughDevice(*reference_, 0.3, 1.5);
  ev::Alignment a = ev::alignRecording(reference_->data(), recording.data());
  EXPECT_EQ(a.totalDelay, kDelay);
  EXPECT_EQ(a.failed, 0.0);
  a = ev::alignRecording(reference_->data(), reference_->data());
  EXPECT_EQ(a.totalDelay, 0.0);
  EXPECT_EQ(a.failed, 1.0);
}

// The alignment reads 720,001 reference and 720,000 recording samples:
// silence up to block `from`, then noise around dc.
std::vector<real_T> onsetAt(int32_T from, real_T dc = 0.0) {
  std::vector<real_T> x(ev::kSignalLength + 1, 0.0);
  uint32_t state = 77;
  for (int32_T n = ev::kBlockLength * from; n < ev::kSignalLength + 1; ++n) {
    state = state * 1664525u + 1013904223u;
    x[n] = dc + static_cast<real_T>(state >> 8) / 16777216.0 - 0.5;
  }
  return x;
}

// x delayed by d samples (advanced when d < 0), zero-filled.
std::vector<real_T> delayed(const std::vector<real_T>& x, int32_T d) {
  std::vector<real_T> y(x.size(), 0.0);
  for (std::size_t i = 0; i < x.size(); ++i) {
    const auto j = static_cast<std::int64_t>(i) - d;
    if (j >= 0 && j < static_cast<std::int64_t>(x.size())) y[i] = x[static_cast<std::size_t>(j)];
  }
  return y;
}

// The alignment's tests as recorded: each decided in the order tried, also
// after one that rejected, the first failure naming the rejection and
// agreeing with the flag; a report changes no result. Fails on a record
// taken from another value, a test dropped after a rejection, or a rejection
// the flag does not show. The coarse shift rejects only a recording that
// starts more than 7.5 s before the reference (an onset 1,800 blocks late in
// the reference); a constant offset makes every lag correlate, so that no
// peak is distinct.
TEST(EnveloAlignment, RecordedTestsAgreeWithTheFlag) {
  using Rejection = ev::Report::Rejection;
  const std::vector<real_T> reference = onsetAt(100), lateOnset = onsetAt(1800), offset = onsetAt(0, 4.0);
  struct Case {
    const char* what;
    const std::vector<real_T>& reference;
    std::vector<real_T> recording;
    Rejection rejection;
    bool coarse, delay, distinct, lags;  // passed
  };
  const Case cases[] = {
      {"0.1 s late", reference, delayed(reference, 4800), Rejection::kNone, true, true, true, true},
      {"no latency", reference, reference, Rejection::kNotLagging, true, true, true, false},
      {"9 s early", lateOnset, delayed(lateOnset, -432000), Rejection::kCoarseShift, false, false, true,
       false},
      {"6 s early", reference, delayed(reference, -288000), Rejection::kTotalDelay, true, false, true, false},
      {"constant offset", offset, delayed(offset, 4800), Rejection::kDistinctness, true, true, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ev::Report rep;
    const ev::Alignment got = ev::alignRecording(c.reference.data(), c.recording.data(), &rep);
    const ev::Alignment plain = ev::alignRecording(c.reference.data(), c.recording.data());
    EXPECT_EQ(std::memcmp(&got, &plain, sizeof got), 0);

    const ev::Report::Tests& t = rep.tests;
    EXPECT_EQ(rep.rejection, c.rejection);
    EXPECT_EQ(got.failed, c.rejection == Rejection::kNone ? 0.0 : 1.0);
    EXPECT_EQ(t.coarseShift.passed, c.coarse);
    EXPECT_EQ(t.totalDelay.passed, c.delay);
    EXPECT_EQ(t.distinctness.passed, c.distinct);
    EXPECT_EQ(t.recordingLags.passed, c.lags);
    EXPECT_EQ(t.coarseShift.value, rep.coarseShift);
    EXPECT_EQ(t.totalDelay.value, std::fabs(got.totalDelay));
    EXPECT_EQ(t.recordingLags.value, got.totalDelay);
    EXPECT_FALSE(std::isnan(t.distinctness.value));
  }
}

// A device without dynamics is steady from the first window on (both steps
// lie before their segments). With a compressor the falling segment depends
// on the attack alone and the rising one on the release: doubling the
// release leaves the falling time unchanged and delays the rising one by at
// least 1.5 s * ln(13.3 dB / 1 dB), the extra time its 13.3 dB gain error
// needs to decay into any band narrower than 1 dB. Fails if a segment sits
// elsewhere on the timeline, the delay is not applied to the analysis, or
// the settle search does not follow the level.
TEST_F(EnveloEstimation, SettleTimesFollowTheDeviceTimeConstants) {
  std::vector<real_T> recording = throughDevice(*reference_, 1e-5, 1e-5);
  const Result instant = estimate(*reference_, recording);
  recording = throughDevice(*reference_, 0.3, 1.5);
  const Result fast = estimate(*reference_, recording);
  recording = throughDevice(*reference_, 0.3, 3.0);
  const Result slow = estimate(*reference_, recording);

  EXPECT_EQ(instant.failed, 0.0);
  EXPECT_EQ(instant.fall, 0.2);
  EXPECT_EQ(instant.rise, 0.2);
  EXPECT_EQ(fast.failed, 0.0);
  EXPECT_EQ(slow.failed, 0.0);
  EXPECT_GT(fast.fall, 1.0);
  EXPECT_EQ(slow.fall, fast.fall);
  EXPECT_GT(fast.rise, fast.fall);  // release 1.5 s against attack 0.3 s
  EXPECT_GT(slow.rise - fast.rise, 1.5 * std::log(13.3));
  EXPECT_LE(slow.rise, 47.6);
}

// Inputs too short for the alignment or the analysis windows, or without
// data: nothing is read (exact-size buffers, ASan), the flag is set and
// both times are 0.0.
TEST_F(EnveloEstimation, RefusesInputsThatAreTooShort) {
  auto refused = [](const Result& r) { return r.failed == 1.0 && r.rise == 0.0 && r.fall == 0.0; };
  std::vector<real_T> shortReference(reference_->begin(), reference_->end() - 1);
  std::vector<real_T> recording(reference_->begin(), reference_->begin() + 720000);
  EXPECT_TRUE(refused(estimate(shortReference, recording)));
  recording.pop_back();
  EXPECT_TRUE(refused(estimate(*reference_, recording)));

  Column ok({1.0});
  Column negative({1.0});
  negative.get()->size[0] = -5;
  Column noData;
  noData.get()->size[0] = kLength;
  std::free(noData.get()->data);
  noData.get()->data = nullptr;
  const emxBuffer_real_T* inputs[][2] = {
      {nullptr, ok.get()}, {negative.get(), negative.get()}, {noData.get(), noData.get()}};
  for (const auto& in : inputs) {
    Result r;
    envelo_estimation(in[0], in[1], 0, 0, &r.rise, &r.fall, &r.failed);
    EXPECT_TRUE(refused(r));
  }
}

}  // namespace
