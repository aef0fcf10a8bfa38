// synkro_2 through its C entry point: reference and recording of unrelated
// lengths (0 .. 40,000 samples), any sample rate, non-finite and denormal
// samples, and an output array of any capacity and ownership.
//
// Fails on a crash or sanitizer report, and when a result breaks what a
// host relies on: the output has the reference's length, holds only zeros
// and recording samples, the lag is a whole number within +-(n - 1), the
// flag is 0 or 1, and the inputs are untouched.
#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "fuzz_input.hpp"
#include "synkro_2.h"

using namespace audiomeas::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Input in(data, size);
  const double sampleRate = in.rate();
  const HostInput reference(in.signal(40000), in);
  const HostInput recording(in.signal(40000), in);
  const int32_t n = reference.length();
  HostOutput aligned(in, n);

  double fineLag = HostOutput::kSentinel;
  double failed = HostOutput::kSentinel;
  synkro_2(reference.get(), recording.get(), sampleRate, aligned.get(), &fineLag, &failed);

  reference.check();
  recording.check();
  aligned.checkResized(n);
  FUZZ_CHECK(failed == 0.0 || failed == 1.0);
  if (n == 0) {
    FUZZ_CHECK(fineLag == 0.0 && failed == 1.0);
    return 0;
  }
  FUZZ_CHECK(fineLag == std::floor(fineLag) && std::fabs(fineLag) <= n - 1);

  // Every output sample is 0.0 or a copy of one of the recording's first n.
  std::unordered_set<uint64_t> samples{bitsOf(0.0)};
  const emxBuffer_real_T* rec = recording.get();
  for (int32_t i = 0; i < std::min(n, rec->size[0]); ++i) samples.insert(bitsOf(rec->data[i]));
  for (int32_t i = 0; i < n; ++i) FUZZ_CHECK(samples.count(bitsOf(aligned.data()[i])) == 1);
  return 0;
}
