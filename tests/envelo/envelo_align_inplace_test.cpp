// The alignment reads the recording in place and moves it inside the
// transform's load; it must give the bits of the pipeline that copies the
// first 720,000 samples, moves the copy with shiftSamples, correlates it
// with xcorr and takes the magnitudes. Fails if the move goes the wrong way
// or by a wrong amount, if samples beyond 720,000 leak into the moved
// signal, or if the magnitudes are taken from other lags.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "envelo_estimation.hpp"
#include "xcorr.hpp"

namespace {

namespace ev = audiomeas::envelo;
constexpr int32_T kN = ev::kSignalLength;

// Noise from block `from` on, silence before; `length` samples.
std::vector<real_T> activeFrom(int32_T from, int32_T length, uint32_t state) {
  std::vector<real_T> x(length, 0.0);
  for (int32_T n = 240 * from + 1; n < length; ++n) {
    state = state * 1664525u + 1013904223u;
    x[n] = static_cast<real_T>(state >> 8) / 16777216.0 - 0.5;
  }
  return x;
}

ev::Alignment copiedPipeline(const real_T* reference, const real_T* recording) {
  std::vector<real_T> sig(recording, recording + kN), moved(kN), lags(ev::kCorrelationLength);
  const ev::Onsets o = ev::findOnsets(reference, sig.data(), ev::recordingThresholdOf(sig.data()));
  const real_T shift = ev::coarseShiftOf(o);
  ev::shiftSamples(sig.data(), shift, moved.data());
  audiomeas::fixed::xcorr(reference, moved.data(), lags.data());
  ev::b_abs(lags.data(), lags.data());
  const ev::Peak peak = ev::findPeak(lags.data());
  const real_T fineLag = static_cast<real_T>(kN - peak.index);
  ev::Alignment a{fineLag - shift, ev::alignmentVerdict(shift, fineLag - shift, lags.data(), peak)};
  if (!(a.totalDelay > 0.0)) a.failed = 1.0;
  return a;
}

TEST(EnveloAlignInPlace, EqualsTheCopyingPipeline) {
  // Recording onsets later and earlier than the reference's (both shift
  // signs), and a recording that goes on past 720,000 samples with loud
  // content there, which the moved copy must not contain.
  const auto reference = activeFrom(100, kN + 1, 1);
  for (const int32_T recordingOnset : {130, 70}) {
    auto recording = activeFrom(recordingOnset, kN + 48000, 1);
    for (int32_T n = kN; n < kN + 48000; ++n) recording[n] = 1e6;
    const ev::Alignment want = copiedPipeline(reference.data(), recording.data());
    const ev::Alignment got = ev::alignRecording(reference.data(), recording.data());
    EXPECT_EQ(std::memcmp(&want.totalDelay, &got.totalDelay, sizeof(real_T)), 0) << recordingOnset;
    EXPECT_EQ(std::memcmp(&want.failed, &got.failed, sizeof(real_T)), 0) << recordingOnset;
  }
}

// The level track sums several windows' squares side by side; each window
// must keep the bits of windowRms, also where the recording ends inside
// some windows of a group and before others, and in a last, partial group.
TEST(EnveloAlignInPlace, InterleavedWindowsKeepTheirBits) {
  constexpr int32_T kCount = 21, kDelay = 4801;
  auto recording = activeFrom(0, 180000, 9);  // ends in windows 7 .. 18; 19 and 20 see none
  recording[kDelay + 17 + 3] = -0.0;
  recording[kDelay + 9600 * 2 + 5] = 4.9e-324;
  const ev::AlignedRecording aligned =
      ev::alignedRecording(recording.data(), static_cast<int32_T>(recording.size()), {kDelay, 0.0});
  std::vector<real_T> track(kCount, -1.0);
  ev::levelTrack(aligned, 17, kCount, track.data());
  real_T previous = 0.0;
  for (int32_T i = 0; i < kCount; ++i) {
    const real_T v = std::log10((ev::windowRms(aligned, 17 + 9600 * i) + 1e-6) / 32767.0);
    const real_T want = i == 0 ? 20.0 * v : 1.9999999999999996 * v + 0.9 * previous;
    EXPECT_EQ(std::memcmp(&want, &track[i], sizeof want), 0) << "window " << i;
    previous = want;
  }
}

}  // namespace
