// Results are the same bits on every machine the libraries build for
// (x86-64 with and without AVX2, aarch64): each case's output is hashed and
// compared with the hash recorded on x86-64. The cases reach what could
// differ between machines: the C library's cos and sin (twiddle tables,
// Bluestein's chirp), log10 and pow, the fast and the plain transform, and
// two entry points end to end. A failure names the case; if a machine's C
// library rounds differently, record that machine's hash for the case here
// with the reason, rather than loosening the comparison.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "burstra.h"
#include "fft.hpp"
#include "fft_detail.hpp"
#include "synkro_2.h"
#include "test_arrays.hpp"

namespace audiomeas::test {
namespace {

// FNV-1a over the bytes of each value.
class Hash {
 public:
  void add(real_T v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int i = 0; i < 8; ++i) {
      hash_ ^= (bits >> (8 * i)) & 0xFF;
      hash_ *= 1099511628211ULL;
    }
  }
  void add(const creal_T& c) {
    add(c.re);
    add(c.im);
  }
  template <class T>
  void add(const T* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) add(p[i]);
  }
  uint64_t value() const { return hash_; }

 private:
  uint64_t hash_ = 1469598103934665603ULL;
};

std::vector<real_T> noise(int32_T n, real_T amplitude, uint32_t seed, int32_T onset = 0) {
  std::vector<real_T> x(static_cast<std::size_t>(n), 0.0);
  for (int32_T i = onset; i < n; ++i) {
    seed = seed * 1664525u + 1013904223u;
    x[static_cast<std::size_t>(i)] = amplitude * (static_cast<real_T>(seed) / 2147483648.0 - 1.0);
  }
  return x;
}

uint64_t quarterWave(int32_T N) {
  std::vector<real_T> q(static_cast<std::size_t>(detail::quarterWaveCount(N)));
  detail::quarterWaveTable(N, q.data());
  Hash h;
  h.add(q.data(), q.size());
  return h.value();
}

uint64_t chirp(int32_T n) {
  std::vector<creal_T> w(static_cast<std::size_t>(2 * n - 1));
  detail::bluesteinChirp(n, false, w.data());
  Hash h;
  h.add(w.data(), w.size());
  return h.value();
}

uint64_t transform(int32_T n) {
  Column x(noise(n, 1000.0, 7));
  emxBuffer_creal_T* y = nullptr;
  emxInit(&y, 1);
  fft(x.get(), static_cast<real_T>(n), y);
  Hash h;
  h.add(y->data, static_cast<std::size_t>(y->size[0]));
  emxFree(&y);
  return h.value();
}

uint64_t logarithmsAndPowers() {
  Hash h;
  for (int i = 1; i <= 200000; ++i) {
    const real_T x = i * 0.0173 + 1e-9 * i * i;
    h.add(std::log10(x));
    h.add(std::pow(2.0, x * 1e-3));
  }
  return h.value();
}

uint64_t match() {
  // 1 s at 8 kHz, the recording 37 samples late.
  std::vector<real_T> ref = noise(8000, 0.25, 1, 1600), rec(8000, 0.0);
  std::copy(ref.begin(), ref.end() - 37, rec.begin() + 37);
  Column r(ref), m(rec), aligned({}, 0);
  real_T lag = kSentinel, failed = kSentinel;
  synkro_2(r.get(), m.get(), 8000.0, aligned.get(), &lag, &failed);
  Hash h;
  h.add(aligned.get()->data, static_cast<std::size_t>(aligned.length()));
  h.add(lag);
  h.add(failed);
  return h.value();
}

uint64_t transientSnr() {
  burstra_initialize();
  Column p(noise(16000, 2000, 3)), a(noise(16000, 16000, 5, 4000)), s(noise(16000, 60, 7));
  real_T out[3] = {kSentinel, kSentinel, kSentinel};
  burstra(p.get(), a.get(), s.get(), 8000.0, &out[0], &out[1], &out[2]);
  Hash h;
  h.add(out, 3);
  return h.value();
}

struct Case {
  const char* what;
  std::function<uint64_t()> run;
  uint64_t x86;  // recorded on x86-64
};

TEST(PortableBits, EveryCaseHasTheBitsRecordedOnX86) {
  const Case cases[] = {
      {"quarter wave of 2^6", [] { return quarterWave(1 << 6); }, 0xda864d9973653bdeULL},
      {"quarter wave of 2^21", [] { return quarterWave(1 << 21); }, 0x7f67ff07ad2077e5ULL},
      {"Bluestein chirp of 1000", [] { return chirp(1000); }, 0xb798682f8c1b2b92ULL},
      {"Bluestein chirp of 720000", [] { return chirp(720000); }, 0x6080ffc2c9aec8eaULL},
      {"plain radix-2 transform of 32", [] { return transform(32); }, 0x89086722a55286f1ULL},
      {"Bluestein transform of 1000", [] { return transform(1000); }, 0x4ba9cad1bbc7ba4bULL},
      {"fast transform of 4096", [] { return transform(4096); }, 0x683f3574f8cf9bf3ULL},
      {"log10 and pow", logarithmsAndPowers, 0xb32ebe79dd501a0aULL},
      {"synkro_2", match, 0xd34cd7f18ffa6d38ULL},
      {"burstra", transientSnr, 0x720ed5cef76150afULL},
  };
  for (const Case& c : cases) {
    const uint64_t got = c.run();
    EXPECT_EQ(got, c.x86) << c.what << ": 0x" << std::hex << got;
  }
}

}  // namespace
}  // namespace audiomeas::test
