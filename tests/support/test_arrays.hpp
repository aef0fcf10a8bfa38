// The tests' one helper for emxBuffer_real_T containers built the way a host
// builds them (plain structures, no library call), so that they also serve
// for synkro, which exports no array API. Benchmarks use it too.
#pragma once

#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "audiomeas_types.h"

namespace audiomeas::test {

// An owning one-dimensional column; released with free(), as a host would,
// including a block the library may have swapped in when it grew the array.
class Column {
 public:
  explicit Column(const std::vector<real_T>& values = {}, int32_T extraCapacity = 0) {
    const auto n = static_cast<int32_T>(values.size());
    a_ = static_cast<emxBuffer_real_T*>(std::malloc(sizeof(emxBuffer_real_T)));
    a_->size = static_cast<int32_T*>(std::malloc(sizeof(int32_T)));
    a_->size[0] = n;
    a_->dimCount = 1;
    a_->capacity = n + extraCapacity;
    a_->data = static_cast<real_T*>(std::calloc(static_cast<std::size_t>(a_->capacity) + 1, sizeof(real_T)));
    if (n > 0) std::memcpy(a_->data, values.data(), sizeof(real_T) * values.size());
    a_->ownsData = true;
  }
  Column(const Column&) = delete;
  Column& operator=(const Column&) = delete;
  ~Column() {
    if (a_->ownsData) std::free(a_->data);
    std::free(a_->size);
    std::free(a_);
  }
  emxBuffer_real_T* get() { return a_; }
  const emxBuffer_real_T* get() const { return a_; }
  int32_T length() const { return a_->size[0]; }
  std::vector<real_T> values() const { return {a_->data, a_->data + a_->size[0]}; }

 private:
  emxBuffer_real_T* a_;
};

// A read-only input: a non-owning header whose block is exactly the samples
// (no spare element, so a read past the end shows under AddressSanitizer).
class Exact {
 public:
  explicit Exact(std::vector<real_T> v) : v_(std::move(v)), size_(static_cast<int32_T>(v_.size())) {
    a_ = {v_.empty() ? nullptr : v_.data(), &size_, size_, 1, false};
  }
  Exact(const Exact&) = delete;
  Exact& operator=(const Exact&) = delete;
  const emxBuffer_real_T* get() const { return &a_; }

 private:
  std::vector<real_T> v_;
  int32_T size_;
  emxBuffer_real_T a_{};
};

// An output container over a caller's block (which may be null).
struct HostArray {
  int32_T size;
  emxBuffer_real_T a;
  HostArray(real_T* block, int32_T length, int32_T capacity, bool owns)
      : size(length), a{block, &size, capacity, 1, owns} {}
  HostArray(const HostArray&) = delete;
  std::vector<real_T> values() const { return {a.data, a.data + size}; }
};

// Fills every element with a value no computation produces, so that a loop
// that stops short leaves a visible sentinel.
inline constexpr real_T kSentinel = -123456.75;

}  // namespace audiomeas::test
