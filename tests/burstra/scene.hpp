// Test signals for burstra built frame by frame, and a call of the exported
// entry point that checks every output is written.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "burstra.h"
#include "test_arrays.hpp"

namespace audiomeas::test {

// Amplitudes of the standard scene. Every sample is +a or -a and frames have
// an even length, so each frame's mean square is exactly a * a.
inline constexpr real_T kPresence = 2048.0;   // about -24 dB: present
inline constexpr real_T kActivity = 16384.0;  // about -6 dB: on
inline constexpr real_T kBackground = 64.0;   // measured everywhere: p = 4096
inline constexpr real_T kAdded = 256.0;       // measured in active frames: q = 65536

// Level in dB re an RMS of 32767 of a mean square.
inline real_T levelOf(real_T meanSquare) { return 10.0 * std::log10(meanSquare / (32767.0 * 32767.0)); }

struct Scene {
  int32_T frameLength;
  std::vector<real_T> presence, activity, measured;

  // Appends `count` frames. Measured alternates +/-background around the
  // constant `added`, so its mean square per frame is background^2 + added^2.
  Scene& frames(int32_T count, real_T presenceAmp, real_T activityAmp, real_T background,
                real_T added = 0.0) {
    for (int64_t k = 0; k < static_cast<int64_t>(count) * frameLength; ++k) {
      const real_T sign = (k % 2 == 0) ? 1.0 : -1.0;
      presence.push_back(sign * presenceAmp);
      activity.push_back(sign * activityAmp);
      measured.push_back(sign * background + added);
    }
    return *this;
  }
};

// 20 quiet frames, `activeFrames` + 3 frames with activity on (the first three
// of them still quiet), 20 quiet frames; presence everywhere, the added
// component only in the active frames. Noise frames then give p = 64^2 and
// the active frames q = 256^2 on top.
inline Scene transient(int32_T frameLength, int32_T activeFrames, real_T added = kAdded) {
  Scene s{frameLength, {}, {}, {}};
  s.frames(20, kPresence, 0.0, kBackground)
      .frames(3, kPresence, kActivity, kBackground)
      .frames(activeFrames, kPresence, kActivity, kBackground, added)
      .frames(20, kPresence, 0.0, kBackground);
  return s;
}

struct Outputs {
  real_T levelDifference;
  real_T activeLevel;
  real_T warningFlag;
};

// Calls burstra on wrappers over exact-size heap copies (never NULL, also
// when empty), so that a read past any signal's end hits the allocator's
// guard in the sanitizer build. Outputs start as sentinels; a call that
// leaves one unwritten fails.
inline Outputs measure(const std::vector<real_T>& presence, const std::vector<real_T>& activity,
                       const std::vector<real_T>& measured, real_T sampleRate) {
  auto copy = [](const std::vector<real_T>& v) {
    std::unique_ptr<real_T[]> block(new real_T[v.size()]);
    std::copy(v.begin(), v.end(), block.get());
    return block;
  };
  const auto p = copy(presence), a = copy(activity), m = copy(measured);
  auto wrap = [](const std::unique_ptr<real_T[]>& block, const std::vector<real_T>& v) {
    return emxCreateWrapper_real_T(block.get(), static_cast<int32_T>(v.size()), 1);
  };
  emxBuffer_real_T* pa = wrap(p, presence);
  emxBuffer_real_T* aa = wrap(a, activity);
  emxBuffer_real_T* ma = wrap(m, measured);
  Outputs out{kSentinel, kSentinel, kSentinel};
  burstra(pa, aa, ma, sampleRate, &out.levelDifference, &out.activeLevel, &out.warningFlag);
  emxDestroyArray_real_T(pa);
  emxDestroyArray_real_T(aa);
  emxDestroyArray_real_T(ma);
  EXPECT_NE(out.levelDifference, kSentinel);
  EXPECT_NE(out.activeLevel, kSentinel);
  EXPECT_NE(out.warningFlag, kSentinel);
  EXPECT_TRUE(out.warningFlag == 0.0 || out.warningFlag == 1.0) << out.warningFlag;
  return out;
}

inline Outputs measure(const Scene& s, real_T sampleRate) {
  return measure(s.presence, s.activity, s.measured, sampleRate);
}

// Once per executable, as a host does after loading the library.
class BurstraTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { burstra_initialize(); }
};

}  // namespace audiomeas::test
