// Inputs from which burstra can form no frame: every such call gives the
// floor level, a zero difference and the warning flag, reads nothing past an
// array and converts no out-of-range double to an integer (the sanitizer
// build catches both).
#include <gtest/gtest.h>

#include <limits>

#include "scene.hpp"

namespace audiomeas::test {
namespace {

using BurstraInputs = BurstraTest;

void expectNoFrameResult(const Outputs& out) {
  EXPECT_EQ(out.activeLevel, -120.0);
  EXPECT_EQ(out.levelDifference, 0.0);
  EXPECT_EQ(out.warningFlag, 1.0);
}

// Rates that give no frame length of a whole sample, or none that fits.
// Fails on UB in the frame count (NaN or infinite before truncation), on a
// division by a zero frame length reaching the loop, or on a NaN/zero rate
// leaving the flag at 0.
TEST_F(BurstraInputs, RatesThatFormNoFrame) {
  const Scene s = transient(240, 37);
  const real_T rates[] = {
      std::numeric_limits<real_T>::quiet_NaN(),
      std::numeric_limits<real_T>::infinity(),
      -std::numeric_limits<real_T>::infinity(),
      0.0,
      -0.0,
      -48000.0,
      -100.0,
      199.99,  // frameLength 0
      100.0,
      5e-324,                              // 0.05 * rate underflows to 0: the first bound is 0/0
      std::numeric_limits<real_T>::max(),  // one frame longer than any signal
  };
  for (real_T rate : rates) {
    SCOPED_TRACE(rate);
    expectNoFrameResult(measure(s, rate));
  }
}

// presenceSignal sets the frames; the other two must cover them. One sample
// short in either (read through an exact-size buffer) gives the no-frame
// result; covering exactly the frames, while presence has a tail, is fine.
// Fails on a read past the end or on a partial result.
TEST_F(BurstraInputs, SignalsShorterThanTheFrames) {
  const Scene base = transient(240, 37);
  const Outputs ref = measure(base, 48000.0);
  ASSERT_EQ(ref.warningFlag, 0.0);

  Scene shortActivity = base;
  shortActivity.activity.pop_back();
  expectNoFrameResult(measure(shortActivity, 48000.0));

  Scene shortMeasured = base;
  shortMeasured.measured.pop_back();
  expectNoFrameResult(measure(shortMeasured, 48000.0));

  expectNoFrameResult(measure(base.presence, {}, {}, 48000.0));

  Scene presenceTail = base;
  presenceTail.presence.insert(presenceTail.presence.end(), 5, kPresence);
  const Outputs tail = measure(presenceTail, 48000.0);
  EXPECT_EQ(tail.activeLevel, ref.activeLevel);
  EXPECT_EQ(tail.levelDifference, ref.levelDifference);
  EXPECT_EQ(tail.warningFlag, 0.0);
}

// presenceSignal shorter than one frame, or empty: no frame at any rate.
TEST_F(BurstraInputs, PresenceShorterThanOneFrame) {
  const std::vector<real_T> some(239, kPresence);
  expectNoFrameResult(measure(some, some, some, 48000.0));
  expectNoFrameResult(measure({}, {}, {}, 48000.0));
  expectNoFrameResult(measure({}, {}, {}, 44100.0));
}

}  // namespace
}  // namespace audiomeas::test
