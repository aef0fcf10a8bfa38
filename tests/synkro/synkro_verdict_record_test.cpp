// The verdict tests synkro_2 records in its report: each as decided, in the
// order tried, agreeing with the flag and the rejection it returns, and the
// report changing no result. A rate of 100 Hz leaves the coarse stage out.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "signals.hpp"
#include "synkro_2.hpp"
#include "test_arrays.hpp"

namespace {

namespace sk = audiomeas::synkro;
using audiomeas::test::blocks;
using audiomeas::test::Column;
using audiomeas::test::Exact;
using audiomeas::test::moved;
using audiomeas::test::noise;
using Rejection = sk::Report::Rejection;

struct Call {
  real_T lag = 0.0, failed = 0.0;
  std::vector<real_T> aligned;
};

Call run(const std::vector<real_T>& reference, const std::vector<real_T>& recording, real_T rate,
         sk::Report* report) {
  const Exact ref(reference), rec(recording);
  Column out;
  Call c;
  sk::synkro_2(ref.get(), rec.get(), rate, out.get(), &c.lag, &c.failed, report);
  c.aligned = out.values();
  return c;
}

// The peak-ratio case of synkro_2_test: a lone 25 with 52 more inside the
// window, 52 / 1275 above 0.04.
std::vector<real_T> indistinct() {
  std::vector<real_T> x(77, 0.0);
  for (const auto& [i, v] :
       {std::pair{38, 25.0}, {13, 17.0}, {39, -17.0}, {12, 20.0}, {64, 20.0}, {63, 18.0}})
    x[i] = v;
  return x;
}

std::vector<real_T> impulseAt(int32_T m, int32_T p) {
  std::vector<real_T> x(m, 0.0);
  x[p] = 1.0;
  return x;
}

// Fails if a record disagrees with the flag or the rejection, is taken from
// the wrong length (the coarse limit is half the reference length, the
// recording being padded or cut to it; the lag limit a third of the
// recording's own), loses the NaN-passes rule, or if asking for a report
// changes a result.
TEST(SynkroVerdictRecord, AgreesWithFlagAndRejection) {
  const auto reference = noise(1500, 1.0, 21);
  const auto late = blocks(
      3400, 10, [](int64_t k) { return k > 171; }, 1.0, 9);
  struct Case {
    const char* what;
    std::vector<real_T> reference, recording;
    real_T rate;
    Rejection rejection;
    bool coarse, lag, distinct;  // passed
    bool noRatio = false;        // the peak is 0: the ratio is NaN
  };
  const Case cases[] = {
      {"good match", reference, moved(reference, 37), 100.0, Rejection::kNone, true, true, true},
      {"coarse shift 1710 above 3400 / 2, recording 4000 long", late, moved(late, -1710, 4000), 2000.0,
       Rejection::kCoarseShift, false, true, true},
      {"fine lag 501 above 1500 / 3", reference, moved(reference, 501), 100.0, Rejection::kFineLag, true,
       false, true},
      {"ratio 52 / 1275", indistinct(), impulseAt(77, 38), 100.0, Rejection::kDistinctness, true, true,
       false},
      {"silence: fine lag rejects, NaN ratio passes", std::vector<real_T>(4, 0.0),
       std::vector<real_T>(4, 0.0), 100.0, Rejection::kFineLag, true, false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sk::Report rep;
    const Call got = run(c.reference, c.recording, c.rate, &rep);
    const Call plain = run(c.reference, c.recording, c.rate, nullptr);
    EXPECT_EQ(std::memcmp(&got.lag, &plain.lag, sizeof got.lag), 0);
    EXPECT_EQ(got.failed, plain.failed);
    EXPECT_EQ(got.aligned, plain.aligned);

    const sk::Report::Tests& t = rep.tests;
    EXPECT_EQ(rep.rejection, c.rejection);
    EXPECT_EQ(got.failed, c.rejection == Rejection::kNone ? 0.0 : 1.0);
    EXPECT_EQ(t.coarseShift.passed, c.coarse);
    EXPECT_EQ(t.fineLag.passed, c.lag);
    EXPECT_EQ(t.distinctness.passed, c.distinct);

    const auto n = static_cast<real_T>(c.reference.size()), m = static_cast<real_T>(c.recording.size());
    EXPECT_EQ(t.coarseShift.value, rep.coarseShift);
    EXPECT_EQ(t.coarseShift.limit, 0.5 * n);
    EXPECT_EQ(t.fineLag.value, std::fabs(got.lag));
    EXPECT_EQ(t.fineLag.limit, m / 3.0);
    // Formed after an earlier rejection too.
    EXPECT_EQ(std::isnan(t.distinctness.value), c.noRatio);
  }
}

}  // namespace
