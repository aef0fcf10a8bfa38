// Results of burstra through its C API: the levels of a transient scene, the
// samples after the last frame, the degenerate scenes and the warning checks.
#include <gtest/gtest.h>

#include "scene.hpp"

namespace audiomeas::test {
namespace {

constexpr real_T kTol = 1e-9;  // dB; the scenes' sums are exact in double

using BurstraResults = BurstraTest;

// Background p everywhere, q added in the active frames: activeLevel is the
// level of q, the difference that of p / q. Fails if the noise estimate, the
// correction by present active frames or the division by the frame count is
// wrong, or if frame boundaries slip (frame lengths 240, 220, 80, 2).
TEST_F(BurstraResults, TransientSceneGivesNoiseCorrectedLevels) {
  const real_T p = kBackground * kBackground;
  const real_T q = kAdded * kAdded;
  for (real_T rate : {48000.0, 44100.0, 16000.0, 400.0}) {
    SCOPED_TRACE(rate);
    const auto frameLength = static_cast<int32_T>(std::floor(0.005 * rate));
    const Outputs out = measure(transient(frameLength, 37), rate);
    EXPECT_NEAR(out.activeLevel, levelOf(q), kTol);
    EXPECT_NEAR(out.levelDifference, 10.0 * std::log10(p / q), kTol);
    EXPECT_EQ(out.warningFlag, 0.0);
  }
}

// Frames without presence: quiet ones give no noise estimate but still count
// in W's frame count; active ones keep their noise, which is subtracted only
// for present active frames. Fails if W divides by the counted frames only or
// if the noise is subtracted for every active frame.
TEST_F(BurstraResults, NoiseIsSubtractedOnlyWherePresent) {
  const real_T p = kBackground * kBackground;
  const real_T q = kAdded * kAdded;

  Scene absentTail = transient(240, 37);
  absentTail.frames(20, 0.0, 0.0, kBackground);
  const Outputs a = measure(absentTail, 48000.0);
  EXPECT_NEAR(a.activeLevel, levelOf(q), kTol);
  EXPECT_NEAR(a.levelDifference, levelOf(p) - levelOf(q), kTol);
  EXPECT_EQ(a.warningFlag, 0.0);

  // Presence drops out for the last 20 of 37 active frames: S = 37 q + 20 p,
  // T = 80 p + 37 q - S = 60 p over 80 frames.
  Scene absentActive{240, {}, {}, {}};
  absentActive.frames(20, kPresence, 0.0, kBackground)
      .frames(3, kPresence, kActivity, kBackground)
      .frames(17, kPresence, kActivity, kBackground, kAdded)
      .frames(20, 0.0, kActivity, kBackground, kAdded)
      .frames(20, kPresence, 0.0, kBackground);
  const Outputs b = measure(absentActive, 48000.0);
  const real_T active = levelOf((37.0 * q + 20.0 * p) / 37.0);
  EXPECT_NEAR(b.activeLevel, active, kTol);
  EXPECT_NEAR(b.levelDifference, levelOf(60.0 * p / 80.0) - active, kTol);
  EXPECT_EQ(b.warningFlag, 0.0);
}

// Samples after the last full frame: presence's count for the overall check
// level P (a loud tail raises the flag) and measured's for the remainder
// power; activity's are never read. None of them forms a frame, so a count
// rounded up would change W. Fails if tails are dropped or framed.
TEST_F(BurstraResults, SamplesAfterTheLastFrame) {
  const Scene base = transient(240, 37);
  const Outputs ref = measure(base, 48000.0);
  const std::vector<real_T> tail(239, 1.0e6);

  Scene loudPresence = base;
  loudPresence.presence.insert(loudPresence.presence.end(), tail.begin(), tail.end());
  const Outputs p = measure(loudPresence, 48000.0);
  EXPECT_EQ(p.activeLevel, ref.activeLevel);
  EXPECT_EQ(p.levelDifference, ref.levelDifference);
  EXPECT_EQ(p.warningFlag, 1.0);

  Scene longActivity = base;
  longActivity.activity.insert(longActivity.activity.end(), tail.begin(), tail.end());
  const Outputs a = measure(longActivity, 48000.0);
  EXPECT_EQ(a.activeLevel, ref.activeLevel);
  EXPECT_EQ(a.levelDifference, ref.levelDifference);
  EXPECT_EQ(a.warningFlag, 0.0);

  // 239 samples of 1024 add 239 * 1024^2 / 240 to T over 80 frames.
  Scene longMeasured = base;
  longMeasured.measured.insert(longMeasured.measured.end(), 239, 1024.0);
  const Outputs m = measure(longMeasured, 48000.0);
  const real_T W = levelOf((80.0 * 4096.0 + 239.0 * 1024.0 * 1024.0 / 240.0) / 80.0);
  EXPECT_EQ(m.activeLevel, ref.activeLevel);
  EXPECT_NEAR(m.levelDifference, W - ref.activeLevel, kTol);
  EXPECT_EQ(m.warningFlag, 0.0);
}

// Scenes the noise correction cannot resolve end in the floor level, with the
// flag from the checks alone. Fails on a NaN leaking out, on a missing clamp
// or on a flag raised by a NaN comparison.
TEST_F(BurstraResults, DegenerateScenes) {
  const real_T backgroundLevel = levelOf(kBackground * kBackground);
  struct Case {
    const char* name;
    Scene scene;
    real_T activeLevel, levelDifference, warningFlag;
  };
  const Case cases[] = {
      // Presence silent: no noise frame, mean noise 0/0 and so S NaN.
      {"no noise frame",
       Scene{240, {}, {}, {}}
           .frames(20, 0.0, 0.0, kBackground)
           .frames(40, 0.0, kActivity, kBackground, kAdded)
           .frames(20, 0.0, 0.0, kBackground),
       -120.0, 0.0, 0.0},
      // Activity never on: S = 0, W is the level of the whole measured
      // signal per frame; too short an active part raises the flag.
      {"no active frame", Scene{240, {}, {}, {}}.frames(80, kPresence, 0.0, kBackground), -120.0,
       backgroundLevel + 120.0, 1.0},
      // Measured silent in the active frames: the noise estimate exceeds the
      // active power, S < 0, and T = 80 p.
      {"negative corrected power",
       Scene{240, {}, {}, {}}
           .frames(20, kPresence, 0.0, kBackground)
           .frames(3, kPresence, kActivity, kBackground)
           .frames(37, kPresence, kActivity, 0.0)
           .frames(20, kPresence, 0.0, kBackground),
       -120.0, backgroundLevel + 120.0, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outputs out = measure(c.scene, 48000.0);
    EXPECT_EQ(out.activeLevel, c.activeLevel);
    EXPECT_NEAR(out.levelDifference, c.levelDifference, kTol);
    EXPECT_EQ(out.warningFlag, c.warningFlag);
  }
}

// The duration bounds are 0.05 and 10 s worth of frames in double
// arithmetic: at 48 kHz 10 and 2000 frames pass; at 44.1 kHz (220-sample
// frames, bounds 10.02 and 2004.5) 10 and 2005 raise. Fails on an integer
// bound, on >= for >, or on an active count off by one.
TEST_F(BurstraResults, ActiveDurationBounds) {
  struct Case {
    real_T rate;
    int32_T activeFrames;
    real_T warningFlag;
  };
  const Case cases[] = {
      {48000.0, 9, 1.0},  {48000.0, 10, 0.0}, {48000.0, 2000, 0.0}, {48000.0, 2001, 1.0},
      {44100.0, 10, 1.0}, {44100.0, 11, 0.0}, {44100.0, 2004, 0.0}, {44100.0, 2005, 1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.activeFrames << " frames");
    const auto frameLength = static_cast<int32_T>(std::floor(0.005 * c.rate));
    const Outputs out = measure(transient(frameLength, c.activeFrames), c.rate);
    EXPECT_NEAR(out.activeLevel, levelOf(kAdded * kAdded), kTol);
    EXPECT_EQ(out.warningFlag, c.warningFlag);
  }
}

// Each level above 0 dB raises the flag on its own; just below it does not.
// Fails if a check is missing or reads the wrong quantity.
TEST_F(BurstraResults, LevelChecks) {
  const real_T loud = 40000.0;  // above 32767: about +1.7 dB
  struct Case {
    const char* name;
    Scene scene;
    real_T warningFlag;
  };
  const Case cases[] = {
      // Activity check level A from the active frames' activity RMS.
      {"A",
       Scene{240, {}, {}, {}}
           .frames(20, kPresence, 0.0, kBackground)
           .frames(40, kPresence, loud, kBackground, kAdded),
       1.0},
      // An activity RMS of exactly 32767: the 0.000001 added to the RMS
      // lifts A just above 0 dB; one unit less stays below.
      {"A at full scale",
       Scene{240, {}, {}, {}}
           .frames(20, kPresence, 0.0, kBackground)
           .frames(40, kPresence, 32767.0, kBackground, kAdded),
       1.0},
      {"A below full scale",
       Scene{240, {}, {}, {}}
           .frames(20, kPresence, 0.0, kBackground)
           .frames(40, kPresence, 32766.0, kBackground, kAdded),
       0.0},
      // Presence check level P from the whole presence signal.
      {"P",
       Scene{240, {}, {}, {}}
           .frames(20, loud, 0.0, kBackground)
           .frames(40, loud, kActivity, kBackground, kAdded),
       1.0},
      {"activeLevel", transient(240, 37, loud), 1.0},
      // Remainder level W: a loud background, the active part louder still.
      {"W",
       Scene{240, {}, {}, {}}.frames(20, kPresence, 0.0, loud).frames(40, kPresence, kActivity, loud, 1000.0),
       1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(measure(c.scene, 48000.0).warningFlag, c.warningFlag);
  }
}

}  // namespace
}  // namespace audiomeas::test
