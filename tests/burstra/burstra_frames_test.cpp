// Frame classification inside burstra: clamped levels, the level smoother,
// the activity run and the -30 dB / -50 dB thresholds, seen through the
// smoothed tracks and the frame counts.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "burstra.hpp"
#include "reductions.hpp"

namespace audiomeas::test {
namespace {

using burstra::clampedLevel;
using burstra::FrameTally;
using burstra::tallyFrames;

constexpr int32_T kLength = 8;

// Signals of whole frames, each frame a constant amplitude.
struct Frames {
  std::vector<real_T> presence, activity, measured;
  void add(real_T p, real_T a, real_T m = 1.0) {
    presence.insert(presence.end(), kLength, p);
    activity.insert(activity.end(), kLength, a);
    measured.insert(measured.end(), kLength, m);
  }
  int32_T count() const { return static_cast<int32_T>(presence.size()) / kLength; }
  FrameTally tally(std::vector<real_T>* presenceTrack = nullptr,
                   std::vector<real_T>* activityTrack = nullptr) const {
    if (presenceTrack) presenceTrack->assign(count(), -1.0);
    if (activityTrack) activityTrack->assign(count(), -1.0);
    return tallyFrames(presence.data(), activity.data(), measured.data(), kLength, count(),
                       presenceTrack ? std::span<real_T>(*presenceTrack) : std::span<real_T>(),
                       activityTrack ? std::span<real_T>(*activityTrack) : std::span<real_T>());
  }
};

// Level of a frame of kLength samples of amplitude c, as the frames measure it.
real_T frameLevel(real_T c) {
  const std::vector<real_T> frame(kLength, c);
  return clampedLevel(rmsOf(frame.data(), kLength));
}

// An amplitude whose frame level is exactly `level` dB (searched over the
// doubles next to the ideal one), or NaN if none is.
real_T amplitudeAt(real_T level) {
  real_T up = 32767.0 * std::pow(10.0, level / 20.0);
  real_T down = up;
  for (int k = 0; k < 4096; ++k) {
    if (frameLevel(up) == level) return up;
    if (frameLevel(down) == level) return down;
    up = std::nextafter(up, 1e9);
    down = std::nextafter(down, 0.0);
  }
  return std::numeric_limits<real_T>::quiet_NaN();
}

// Silence, NaN and anything below -120 dB clamp to -120; full scale is 0 dB.
TEST(BurstraFrames, ClampedLevel) {
  EXPECT_EQ(clampedLevel(0.0), -120.0);
  EXPECT_EQ(clampedLevel(std::numeric_limits<real_T>::quiet_NaN()), -120.0);
  EXPECT_EQ(clampedLevel(32767.0 * 1e-7), -120.0);
  EXPECT_EQ(clampedLevel(32767.0), 0.0);
  EXPECT_NEAR(clampedLevel(327.67), -40.0, 1e-12);
}

// Frame 0 is not smoothed; frame 1 at 0 dB after silence is
// 0.9 * 0 + 0.09999999999999998 * -120 = -11.999999999999996 (0.1 would give
// -12); the smoother feeds back its own output. Fails on a wrong weight, a
// smoothed frame 0, or smoothing from the unsmoothed previous level.
TEST(BurstraFrames, SmoothedTracks) {
  Frames f;
  f.add(0.0, 0.0);
  f.add(32767.0, 32767.0);
  f.add(32767.0, 0.0);
  std::vector<real_T> presence, activity;
  f.tally(&presence, &activity);
  const real_T s1 = -11.999999999999996;
  EXPECT_EQ(presence, (std::vector<real_T>{-120.0, s1, 0.09999999999999998 * s1}));
  EXPECT_EQ(activity, (std::vector<real_T>{-120.0, s1, -108.0 + 0.09999999999999998 * s1}));
}

// Activity above -30 dB counts from the fourth frame of a run; a frame at or
// below -30 dB resets the run. Fails on an off-by-one in the run or a run
// that survives a quiet frame.
TEST(BurstraFrames, ActivityRun) {
  struct Case {
    std::vector<int> on;  // 1 = activity at about -6 dB, 0 = silence
    real_T activeFrames;
  };
  const Case cases[] = {
      {{1, 1, 1, 0, 0}, 0.0},
      {{1, 1, 1, 1, 0}, 1.0},
      {{1, 1, 1, 0, 1, 1, 1, 0}, 0.0},
      {{0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, 7.0},
      {{1, 1, 1, 1, 1, 0, 1, 1, 1, 1}, 3.0},
  };
  for (const Case& c : cases) {
    Frames f;
    for (int on : c.on) f.add(3000.0, on ? 16384.0 : 0.0);
    const FrameTally t = f.tally();
    EXPECT_EQ(t.activeFrames, c.activeFrames) << testing::PrintToString(c.on);
    // Presence is on everywhere: every frame is active or noise.
    EXPECT_EQ(t.activePresentFrames, t.activeFrames);
    EXPECT_EQ(t.noiseFrames + t.activeFrames, static_cast<real_T>(c.on.size()));
  }
}

// A track held at exactly -30 dB (activity) or -50 dB (presence) stays there
// under smoothing and does not count; the next amplitude up does. Fails on
// >= for >.
TEST(BurstraFrames, ThresholdsAreExclusive) {
  const real_T at30 = amplitudeAt(-30.0);
  const real_T at50 = amplitudeAt(-50.0);
  ASSERT_FALSE(std::isnan(at30));
  ASSERT_FALSE(std::isnan(at50));
  struct Case {
    real_T presence, activity;
    real_T activeFrames, noiseFrames, activePresentFrames;
  };
  const Case cases[] = {
      {3000.0, at30, 0.0, 10.0, 0.0}, {3000.0, 2.0 * at30, 7.0, 3.0, 7.0},
      {at50, 0.0, 0.0, 0.0, 0.0},     {2.0 * at50, 0.0, 0.0, 10.0, 0.0},
      {at50, 16384.0, 7.0, 0.0, 0.0}, {2.0 * at50, 16384.0, 7.0, 3.0, 7.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.presence << " / " << c.activity);
    Frames f;
    for (int i = 0; i < 10; ++i) f.add(c.presence, c.activity, 2.0);
    std::vector<real_T> presence, activity;
    const FrameTally t = f.tally(&presence, &activity);
    if (c.activity == at30) {
      EXPECT_EQ(activity, std::vector<real_T>(10, -30.0));
    }
    if (c.presence == at50) {
      EXPECT_EQ(presence, std::vector<real_T>(10, -50.0));
    }
    EXPECT_EQ(t.activeFrames, c.activeFrames);
    EXPECT_EQ(t.noiseFrames, c.noiseFrames);
    EXPECT_EQ(t.activePresentFrames, c.activePresentFrames);
    // Mean square of measured is 4 in every counted frame.
    EXPECT_EQ(t.noisePowerSum, 4.0 * c.noiseFrames);
    EXPECT_EQ(t.activePowerSum, 4.0 * c.activeFrames);
  }
}

}  // namespace
}  // namespace audiomeas::test
