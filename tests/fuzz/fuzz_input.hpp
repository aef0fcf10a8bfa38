// Turns fuzzer bytes into test cases: numbers that favour degenerate values,
// signals of up to tens of thousands of samples built from a short recipe,
// and emxBuffer_real_T containers laid out the way a host lays them out.
// Every byte string is a valid case: reads past the end yield zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "audiomeas_types.h"

namespace audiomeas::fuzz {

// Aborts with a message; libFuzzer keeps the input that got here.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "model mismatch: %s\n", what);
  std::abort();
}
#define FUZZ_CHECK(cond)                                                          \
  do {                                                                            \
    if (!(cond)) ::audiomeas::fuzz::fail(#cond " (" __FILE__ ":" FUZZ_LINE_ ")"); \
  } while (0)
#define FUZZ_STR2_(x) #x
#define FUZZ_STR_(x) FUZZ_STR2_(x)
#define FUZZ_LINE_ FUZZ_STR_(__LINE__)

inline uint64_t bitsOf(double x) {
  uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

inline bool sameBits(const double* a, const double* b, std::size_t n) {
  return n == 0 || std::memcmp(a, b, n * sizeof(double)) == 0;
}

class Input {
 public:
  Input(const uint8_t* data, std::size_t size) : next_(data), remaining_(size) {}

  std::size_t remaining() const { return remaining_; }

  uint8_t byte() {
    if (remaining_ == 0) return 0;
    --remaining_;
    return *next_++;
  }
  uint32_t u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(byte()) << (8 * i);
    return v;
  }
  uint64_t u64() {
    const uint64_t lo = u32();
    return lo | static_cast<uint64_t>(u32()) << 32;
  }
  double raw() {
    const uint64_t b = u64();
    double x;
    std::memcpy(&x, &b, sizeof x);
    return x;
  }
  bool flag() { return (byte() & 1) != 0; }

  // Uniform-ish value in [lo, hi] (lo <= hi), from as few bytes as it needs.
  int64_t range(int64_t lo, int64_t hi) {
    const uint64_t span = static_cast<uint64_t>(hi - lo);
    uint64_t v = 0;
    for (uint64_t s = span; s != 0; s >>= 8) v = v << 8 | byte();
    return lo + static_cast<int64_t>(span == UINT64_MAX ? v : v % (span + 1));
  }

  // A value that is often degenerate: NaN of both signs, infinities, signed
  // zeros, denormals, extremes; otherwise the next 8 bytes as a double.
  double special() {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    static const double kTable[] = {std::numeric_limits<double>::quiet_NaN(),
                                    -std::numeric_limits<double>::quiet_NaN(),
                                    kInf,
                                    -kInf,
                                    0.0,
                                    -0.0,
                                    std::numeric_limits<double>::denorm_min(),
                                    -std::numeric_limits<double>::denorm_min(),
                                    2.2250738585072009e-308,  // largest denormal
                                    std::numeric_limits<double>::max(),
                                    -std::numeric_limits<double>::max(),
                                    1.0,
                                    -1.0,
                                    32767.0,
                                    -32768.0,
                                    1e-6,
                                    1e154,
                                    1e-154};
    const uint8_t pick = byte();
    constexpr std::size_t kTableSize = sizeof kTable / sizeof kTable[0];
    return pick < kTableSize ? kTable[pick] : raw();
  }

  // Sample rates around every boundary the libraries have (200 Hz gives one
  // sample per 5 ms, 0.005 * rate above INT32_MAX), the usual rates, and
  // arbitrary doubles.
  double rate() {
    static const double kTable[] = {48000.0,
                                    44100.0,
                                    8000.0,
                                    16000.0,
                                    96000.0,
                                    1000.0,
                                    400.0,
                                    200.0,
                                    200.00000000000003,
                                    199.99999999999997,
                                    100.0,
                                    0.0,
                                    -0.0,
                                    -48000.0,
                                    std::numeric_limits<double>::quiet_NaN(),
                                    -std::numeric_limits<double>::quiet_NaN(),
                                    std::numeric_limits<double>::infinity(),
                                    -std::numeric_limits<double>::infinity(),
                                    std::numeric_limits<double>::max(),
                                    1e300,
                                    429496729400.0,
                                    429496729600.0,
                                    std::numeric_limits<double>::denorm_min(),
                                    1e-300};
    const uint8_t pick = byte();
    constexpr std::size_t kTableSize = sizeof kTable / sizeof kTable[0];
    if (pick < kTableSize) return kTable[pick];
    if (pick < 200) return static_cast<double>(range(0, 200000)) / (1 + (pick & 3));
    return raw();
  }

  // A signal of at most maxLength samples (or of exactly `length`): a length
  // class, a base waveform, then single samples overwritten with degenerate
  // or raw values.
  std::vector<double> signal(int32_t maxLength, int64_t length = -1) {
    int64_t n = length;
    if (n < 0) {
      switch (byte() % 5) {
        case 0:
          n = range(0, 2);
          break;
        case 1:
          n = range(0, 64);
          break;
        case 2:
          n = range(0, 4096);
          break;
        case 3:
          n = range(0, 12000);
          break;
        default:
          n = range(0, maxLength);
          break;
      }
    }
    std::vector<double> x(static_cast<std::size_t>(n), 0.0);
    static const double kAmplitudes[] = {0.0, 1e-7, 1e-4,   3.2e-3,  1e-2, 0.1,
                                         1.0, 30.0, 1036.0, 32767.0, 1e6,  1e200};
    const double amplitude = kAmplitudes[byte() % (sizeof kAmplitudes / sizeof kAmplitudes[0])];
    const uint8_t kind = byte() % 5;
    const int64_t onset = n > 0 ? range(0, n) : 0;  // waveform starts here
    const int64_t period = range(2, 4000);          // samples
    uint32_t seed = u32() | 1;
    for (int64_t i = onset; i < n; ++i) {
      double v = 0.0;
      switch (kind) {
        case 0:
          v = 0.0;
          break;
        case 1:
          v = amplitude;
          break;
        case 2:
          v = (i % period) < period / 2 ? amplitude : -amplitude;
          break;  // square wave
        case 3:   // white noise
          seed = seed * 1664525u + 1013904223u;
          v = amplitude * (static_cast<double>(seed) / 2147483648.0 - 1.0);
          break;
        default:
          v = amplitude * static_cast<double>((i - onset) % period) / period;
          break;
      }
      x[static_cast<std::size_t>(i)] = v;
    }
    for (int overlays = byte() % 8; overlays > 0 && n > 0; --overlays) {
      x[static_cast<std::size_t>(range(0, n - 1))] = special();
    }
    return x;
  }

 private:
  const uint8_t* next_;
  std::size_t remaining_;
};

// An input array as a host builds it: the element block is exactly the
// samples (so that any read past them is caught), the size block exactly
// dimCount extents, both from malloc. Read-only for the libraries: check()
// compares everything with the values it was built from.
class HostInput {
 public:
  // dimCount 1, or 2 with a second extent of 1 (a column); an empty signal
  // may come with a null element block.
  HostInput(const std::vector<double>& values, int32_t dimCount, bool nullWhenEmpty) : values_(values) {
    build(dimCount, nullWhenEmpty);
  }
  // The layout read from the input, after the values.
  HostInput(const std::vector<double>& values, Input& in) : values_(values) {
    const int32_t dimCount = in.flag() ? 2 : 1;
    build(dimCount, in.flag());
  }
  HostInput(const HostInput&) = delete;
  HostInput& operator=(const HostInput&) = delete;
  ~HostInput() {
    std::free(data_);
    std::free(size_);
  }
  const emxBuffer_real_T* get() const { return &array_; }
  int32_t length() const { return static_cast<int32_t>(values_.size()); }

  // Inputs are never modified, resized or freed.
  void check() const {
    FUZZ_CHECK(array_.data == data_ && array_.size == size_ && array_.ownsData);
    FUZZ_CHECK(array_.size[0] == length() && array_.capacity == length());
    FUZZ_CHECK(values_.empty() || sameBits(array_.data, values_.data(), values_.size()));
  }

 private:
  void build(int32_t dimCount, bool nullWhenEmpty) {
    const auto n = static_cast<int32_t>(values_.size());
    array_.dimCount = dimCount;
    array_.size = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * dimCount));
    array_.size[0] = n;
    if (dimCount > 1) array_.size[1] = 1;
    array_.capacity = n;
    array_.ownsData = true;
    array_.data = (n == 0 && nullWhenEmpty)
                      ? nullptr
                      : static_cast<double*>(std::malloc(sizeof(double) * values_.size() + (n == 0)));
    if (n > 0) std::memcpy(array_.data, values_.data(), sizeof(double) * values_.size());
    data_ = array_.data;
    size_ = array_.size;
  }

  std::vector<double> values_;
  emxBuffer_real_T array_{};
  double* data_;
  int32_t* size_;
};

// An output array handed to a library: one extent, any previous length, any
// capacity (possibly a null block), owning or a wrapper over the host's
// buffer, pre-filled with a sentinel.
class HostOutput {
 public:
  static constexpr double kSentinel = -123456.75;

  explicit HostOutput(Input& in, int32_t wanted) {
    int32_t capacity = 0;
    switch (in.byte() % 6) {
      case 0:
        capacity = 0;
        break;
      case 1:
        capacity = wanted;
        break;
      case 2:
        capacity = wanted > 0 ? wanted - 1 : 0;
        break;
      case 3:
        capacity = wanted + static_cast<int32_t>(in.range(1, 40));
        break;
      default:
        capacity = static_cast<int32_t>(in.range(0, 2 * static_cast<int64_t>(wanted) + 20));
    }
    array_.dimCount = 1;
    array_.size = static_cast<int32_t*>(std::malloc(sizeof(int32_t)));
    array_.capacity = capacity;
    array_.ownsData = in.flag();
    array_.data = (capacity == 0 && in.flag())
                      ? nullptr
                      : static_cast<double*>(std::malloc(sizeof(double) * capacity + (capacity == 0)));
    for (int32_t i = 0; i < capacity; ++i) array_.data[i] = kSentinel;
    // The previous length may even exceed the block: growth must not copy
    // more than the block holds.
    array_.size[0] = static_cast<int32_t>(in.range(-2, static_cast<int64_t>(capacity) + 2));
    original_ = array_.data;
    originalOwned_ = array_.ownsData;
    originalCapacity_ = capacity;
    size_ = array_.size;
  }
  HostOutput(const HostOutput&) = delete;
  HostOutput& operator=(const HostOutput&) = delete;
  ~HostOutput() {
    // A block the library swapped in is the host's to free; the old block
    // was freed by the library only if the container owned it.
    if (array_.data != original_) {
      std::free(array_.data);
      if (!originalOwned_) std::free(original_);
    } else {
      std::free(original_);
    }
    std::free(size_);
  }
  emxBuffer_real_T* get() { return &array_; }
  const double* data() const { return array_.data; }

  // After a call that resized it to n: the growth rule decides whether the
  // block was kept, and a wrapper's own buffer is never written once the
  // array has moved to a block of its own.
  void checkResized(int32_t n) const {
    FUZZ_CHECK(array_.size == size_ && array_.dimCount == 1 && array_.size[0] == n);
    if (n <= originalCapacity_) {
      FUZZ_CHECK(array_.data == original_ && array_.capacity == originalCapacity_);
      FUZZ_CHECK(array_.ownsData == originalOwned_);
    } else {
      FUZZ_CHECK(array_.data != nullptr && array_.data != original_ && array_.ownsData);
      FUZZ_CHECK(array_.capacity >= n);
      if (!originalOwned_) {
        for (int32_t i = 0; i < originalCapacity_; ++i) FUZZ_CHECK(original_[i] == kSentinel);
      }
    }
  }

 private:
  emxBuffer_real_T array_{};
  double* original_;
  bool originalOwned_;
  int32_t originalCapacity_;
  int32_t* size_;
};

}  // namespace audiomeas::fuzz
