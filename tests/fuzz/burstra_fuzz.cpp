// burstra through its C entry point: three signals of unrelated lengths
// (0 .. 60,000 samples), any sample rate, non-finite and denormal samples.
//
// Fails on a crash or sanitizer report, and when a result breaks the
// contract: the active level is never NaN nor below -120 dB, the flag is 0 or
// 1, a call that can form no frame gives -120 dB, 0 dB and the flag, a second
// call gives the same bits (no state kept), and the inputs are untouched.
#include <cmath>
#include <cstring>

#include "burstra.h"
#include "fuzz_input.hpp"

using namespace audiomeas::fuzz;

namespace {

struct Results {
  double levelDifference = HostOutput::kSentinel;
  double activeLevel = HostOutput::kSentinel;
  double warningFlag = HostOutput::kSentinel;
};

// Whether the call has whole 5 ms frames that all three signals cover.
bool formsFrames(double sampleRate, int32_t presence, int32_t activity, int32_t measured) {
  const double frameLength = std::floor(0.005 * sampleRate);
  if (!(frameLength >= 1.0)) return false;
  const double frames = std::floor(presence / frameLength);
  if (!(frames >= 1.0)) return false;
  const double covered = frames * frameLength;
  return activity >= covered && measured >= covered;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const bool initialised = (burstra_initialize(), true);
  (void)initialised;

  Input in(data, size);
  const double sampleRate = in.rate();
  const HostInput presence(in.signal(60000), in);
  // The other two signals have unrelated lengths, or the presence signal's,
  // which covers all its frames.
  const bool sameLength = in.flag();
  const int64_t length = sameLength ? presence.length() : -1;
  const HostInput activity(in.signal(60000, length), in);
  const HostInput measured(in.signal(60000, length), in);

  Results r;
  burstra(presence.get(), activity.get(), measured.get(), sampleRate, &r.levelDifference, &r.activeLevel,
          &r.warningFlag);
  presence.check();
  activity.check();
  measured.check();

  FUZZ_CHECK(r.warningFlag == 0.0 || r.warningFlag == 1.0);
  FUZZ_CHECK(r.activeLevel >= -120.0);  // also false for NaN
  if (!formsFrames(sampleRate, presence.length(), activity.length(), measured.length())) {
    FUZZ_CHECK(r.activeLevel == -120.0 && r.levelDifference == 0.0 && r.warningFlag == 1.0);
  }

  Results again;
  burstra(presence.get(), activity.get(), measured.get(), sampleRate, &again.levelDifference,
          &again.activeLevel, &again.warningFlag);
  FUZZ_CHECK(std::memcmp(&r, &again, sizeof r) == 0);
  return 0;
}
