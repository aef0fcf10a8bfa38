// synkro_2 and burstra called from four threads at once, on distinct data,
// give bit for bit the results of serial calls. The concurrent calls come
// first in the process, so synkro's one-time set-up of its constants is
// raced too. Under ThreadSanitizer any data race fails the test even when
// the results happen to agree.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <latch>
#include <thread>
#include <vector>

#include "burstra.h"
#include "synkro_2.h"
#include "test_arrays.hpp"

namespace audiomeas::test {
namespace {

constexpr int kThreads = 4;
constexpr int kRepeats = 3;  // calls per thread, so that calls overlap at every stage

std::vector<real_T> noise(int32_T n, real_T amplitude, uint64_t seed) {
  std::vector<real_T> x(static_cast<std::size_t>(n));
  for (auto& v : x) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    v = amplitude * (static_cast<real_T>(seed >> 11) * 0x1.0p-52 - 1.0);
  }
  return x;
}

// silence, then noise from `onset` on
std::vector<real_T> burst(int32_T n, int32_T onset, real_T amplitude, uint64_t seed) {
  std::vector<real_T> x = noise(n, amplitude, seed);
  std::fill(x.begin(), x.begin() + onset, 0.0);
  return x;
}

// Runs job(i) for i = 0 .. kThreads - 1, all released at the same moment.
void concurrently(const std::function<void(int)>& job) {
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      job(i);
    });
  }
  for (auto& t : threads) t.join();
}

// Bitwise equality, so that NaN results compare too.
template <class T>
bool sameBits(const T& a, const T& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), sizeof(a[0]) * a.size()) == 0;
}

// ---- synkro_2 ----

struct MatchCase {
  std::vector<real_T> reference, recording;
  real_T sampleRate;
};

struct MatchResult {
  std::vector<real_T> values;  // aligned recording, then lag and flag
};

MatchCase matchCase(int i) {
  // Different rates, delays and lengths per thread: 8 and 16 kHz, 1.6 s.
  const real_T rate = i % 2 == 0 ? 16000.0 : 8000.0;
  const auto n = static_cast<int32_T>(1.6 * rate);
  const auto onset = static_cast<int32_T>(0.2 * rate);
  std::vector<real_T> reference = burst(n, onset, 0.25, 11 + i);
  std::vector<real_T> recording(static_cast<std::size_t>(n - 50 * i), 0.0);
  const int32_T delay = 37 * (i + 1);
  for (std::size_t j = delay; j < recording.size(); ++j) recording[j] = 0.5 * reference[j - delay];
  return {reference, recording, rate};
}

MatchResult match(const MatchCase& c) {
  Column reference(c.reference), recording(c.recording);
  Column aligned({}, 0);  // grows inside the call: the heap is shared by all threads
  real_T fineLag = kSentinel, failed = kSentinel;
  synkro_2(reference.get(), recording.get(), c.sampleRate, aligned.get(), &fineLag, &failed);
  MatchResult r{aligned.values()};
  r.values.push_back(fineLag);
  r.values.push_back(failed);
  return r;
}

// ---- burstra ----

struct SnrCase {
  std::vector<real_T> presence, activity, measured;
  real_T sampleRate;
};

SnrCase snrCase(int i) {
  const real_T rate = i % 2 == 0 ? 48000.0 : 44100.0;
  const auto n = static_cast<int32_T>(2.0 * rate);
  const auto on = static_cast<int32_T>((0.5 + 0.1 * i) * rate);
  SnrCase c{noise(n, 2000.0, 3 + i), burst(n, on, 16000.0, 5 + i), noise(n, 60.0, 7 + i), rate};
  for (int32_T k = on; k < n; ++k) c.measured[k] += 250.0 * (k % 2 == 0 ? 1.0 : -1.0);
  return c;
}

std::vector<real_T> snr(const SnrCase& c) {
  Column presence(c.presence), activity(c.activity), measured(c.measured);
  std::vector<real_T> out(3, kSentinel);
  burstra(presence.get(), activity.get(), measured.get(), c.sampleRate, &out[0], &out[1], &out[2]);
  return out;
}

// Fails on a data race (TSan), on a result that depends on what other
// threads do at the same time, or on a first call that saw the constants
// unset.
TEST(Threads, SynkroFromFourThreadsMatchesSerialCalls) {
  std::vector<MatchCase> cases;
  for (int i = 0; i < kThreads; ++i) cases.push_back(matchCase(i));

  std::vector<std::vector<MatchResult>> concurrent(kThreads);
  concurrently([&](int i) {
    for (int r = 0; r < kRepeats; ++r) concurrent[i].push_back(match(cases[i]));
  });

  for (int i = 0; i < kThreads; ++i) {
    const MatchResult serial = match(cases[i]);
    ASSERT_EQ(serial.values.size(), cases[i].reference.size() + 2);
    for (const MatchResult& r : concurrent[i]) EXPECT_TRUE(sameBits(r.values, serial.values)) << i;
  }
}

TEST(Threads, BurstraFromFourThreadsMatchesSerialCalls) {
  burstra_initialize();
  std::vector<SnrCase> cases;
  for (int i = 0; i < kThreads; ++i) cases.push_back(snrCase(i));

  std::vector<std::vector<std::vector<real_T>>> concurrent(kThreads);
  concurrently([&](int i) {
    for (int r = 0; r < kRepeats; ++r) concurrent[i].push_back(snr(cases[i]));
  });

  for (int i = 0; i < kThreads; ++i) {
    const std::vector<real_T> serial = snr(cases[i]);
    EXPECT_EQ(serial[2], 0.0) << "case " << i << " should be a clean measurement";
    for (const auto& r : concurrent[i]) EXPECT_TRUE(sameBits(r, serial)) << i;
  }
}

// Both libraries at once: two threads each.
TEST(Threads, BothLibrariesAtOnceMatchSerialCalls) {
  burstra_initialize();
  const MatchCase m[2] = {matchCase(0), matchCase(1)};
  const SnrCase s[2] = {snrCase(2), snrCase(3)};
  std::vector<real_T> matched[2], measured[2];
  concurrently([&](int i) {
    if (i < 2) {
      matched[i] = match(m[i]).values;
    } else {
      measured[i - 2] = snr(s[i - 2]);
    }
  });
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(sameBits(matched[i], match(m[i]).values)) << i;
    EXPECT_TRUE(sameBits(measured[i], snr(s[i]))) << i;
  }
}

}  // namespace
}  // namespace audiomeas::test
