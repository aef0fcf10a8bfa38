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
    array_ = static_cast<emxBuffer_real_T*>(std::malloc(sizeof(emxBuffer_real_T)));
    array_->size = static_cast<int32_T*>(std::malloc(sizeof(int32_T)));
    array_->size[0] = n;
    array_->dimCount = 1;
    array_->capacity = n + extraCapacity;
    array_->data =
        static_cast<real_T*>(std::calloc(static_cast<std::size_t>(array_->capacity) + 1, sizeof(real_T)));
    if (n > 0) std::memcpy(array_->data, values.data(), sizeof(real_T) * values.size());
    array_->ownsData = true;
  }
  Column(const Column&) = delete;
  Column& operator=(const Column&) = delete;
  ~Column() {
    if (array_->ownsData) std::free(array_->data);
    std::free(array_->size);
    std::free(array_);
  }
  emxBuffer_real_T* get() { return array_; }
  const emxBuffer_real_T* get() const { return array_; }
  int32_T length() const { return array_->size[0]; }
  std::vector<real_T> values() const { return {array_->data, array_->data + array_->size[0]}; }

 private:
  emxBuffer_real_T* array_;
};

// A read-only input: a non-owning header whose block is exactly the samples
// (no spare element, so a read past the end shows under AddressSanitizer).
class Exact {
 public:
  explicit Exact(std::vector<real_T> v) : values_(std::move(v)), size_(static_cast<int32_T>(values_.size())) {
    array_ = {values_.empty() ? nullptr : values_.data(), &size_, size_, 1, false};
  }
  Exact(const Exact&) = delete;
  Exact& operator=(const Exact&) = delete;
  const emxBuffer_real_T* get() const { return &array_; }

 private:
  std::vector<real_T> values_;
  int32_T size_;
  emxBuffer_real_T array_{};
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
