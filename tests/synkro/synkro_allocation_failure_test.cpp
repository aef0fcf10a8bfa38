// synkro_2 when the heap runs dry: each block allocation of a call fails in
// turn (calloc and malloc are interposed for this executable and the
// library it loads).
// Every failure must end in a rejected match with no write past the output's
// block. Skipped under AddressSanitizer, which owns the heap.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <vector>

#include "signals.hpp"
#include "synkro_2.h"

#if !defined(__SANITIZE_ADDRESS__)
namespace {
int gLargeCalls = 0;  // blocks of 1 KiB or more; header and size blocks are smaller
int gFailAt = -1;     // 1-based large call to refuse; 0 counts only; -1 disarmed
bool refuse(std::size_t bytes) { return gFailAt >= 0 && bytes >= 1024 && ++gLargeCalls == gFailAt; }
}  // namespace

extern "C" void* __libc_calloc(std::size_t count, std::size_t size);
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* calloc(std::size_t count, std::size_t size) {
  return refuse(count * size) ? nullptr : __libc_calloc(count, size);
}
extern "C" void* malloc(std::size_t size) { return refuse(size) ? nullptr : __libc_malloc(size); }
#endif

namespace {

using audiomeas::test::Exact;
using audiomeas::test::HostArray;
using audiomeas::test::moved;

TEST(SynkroAllocation, EveryFailedBlockRejectsTheMatch) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "calloc belongs to AddressSanitizer";
#else
  const int32_T n = 1000;
  const auto reference = audiomeas::test::noise(n, 1.0, 3);
  const Exact ref(reference);
  // A recording as long as the reference is read where it lies; a shorter
  // one is padded into a temporary first.
  for (const int32_T m : {n, n - 100}) {
    SCOPED_TRACE(m);
    auto recording = moved(reference, 7);
    recording.resize(static_cast<std::size_t>(m));
    const Exact rec(recording);
    // The output has no block, so that it must grow first of all.
    auto call = [&](int failAt, real_T& lag, real_T& failed) {
      HostArray out(nullptr, 0, 0, true);
      gLargeCalls = 0;
      gFailAt = failAt;
      synkro_2(ref.get(), rec.get(), 100.0, &out.a, &lag, &failed);
      gFailAt = -1;
      const std::vector<real_T> values = out.values();
      std::free(out.a.data);
      return values;
    };
    real_T lag = 0.0;
    real_T failed = 0.0;
    call(-1, lag, failed);  // the transform plans are built once per process: not counted
    call(0, lag, failed);
    ASSERT_EQ(lag, 7.0);
    ASSERT_EQ(failed, 0.0);
    const int largeCalls = gLargeCalls;
    // The output (which holds the shifted recording), the correlation and,
    // for the shorter recording, the padded one.
    ASSERT_GE(largeCalls, m < n ? 3 : 2);

    for (int k = 1; k <= largeCalls; ++k) {
      SCOPED_TRACE(k);
      lag = failed = -1.0;
      const std::vector<real_T> aligned = call(k, lag, failed);
      EXPECT_EQ(failed, 1.0);
      // The output itself left empty, the lag still found; or a temporary,
      // and the output stays the zeros it was cleared to.
      EXPECT_EQ(aligned, k == 1 ? std::vector<real_T>{} : std::vector<real_T>(n, 0.0));
      EXPECT_EQ(lag, k == 1 ? 7.0 : 0.0);
    }
  }
#endif
}

}  // namespace
