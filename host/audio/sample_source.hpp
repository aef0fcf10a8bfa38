// Samples of one channel by index, from memory or from a file read only
// where asked: what the host's second opinion reads, so that a long
// recording measured through a window is never held whole.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace audiomeas::host {

class SampleSource {
 public:
  virtual ~SampleSource() = default;
  virtual std::int64_t size() const = 0;
  // Samples from .. from + count - 1, all within 0 .. size() - 1: a view
  // into memory, or into buffer, which it fills. Throws Failure for a file
  // that cannot be read there.
  virtual std::span<const double> read(std::int64_t from, std::int64_t count,
                                       std::vector<double>& buffer) const = 0;
};

// An array in memory (the caller keeps it alive).
class SpanSource final : public SampleSource {
 public:
  template <class Range>
  SpanSource(const Range& samples) : x_(samples) {}  // NOLINT: any contiguous range
  std::int64_t size() const override { return std::int64_t(x_.size()); }
  std::span<const double> read(std::int64_t from, std::int64_t count, std::vector<double>&) const override {
    return x_.subspan(std::size_t(from), std::size_t(count));
  }

 private:
  std::span<const double> x_;
};

}  // namespace audiomeas::host
