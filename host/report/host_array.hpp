// emxBuffer_real_T structures built by the host over its own sample blocks.
#pragma once

#include <cstdlib>
#include <span>
#include <vector>

#include "audiomeas_types.h"

namespace audiomeas::host {

// A one-dimensional column over host samples. ownsData is false: the
// library reads it and never frees or replaces the block. The samples must
// outlive the column and number at most INT32_MAX.
class HostColumn {
 public:
  explicit HostColumn(std::span<const double> v) {
    size_[0] = int32_T(v.size());
    array_.data = const_cast<double*>(v.data());  // inputs are read only
    array_.size = size_;
    array_.capacity = int32_T(v.size());
    array_.dimCount = 1;
    array_.ownsData = false;
  }
  HostColumn(const HostColumn&) = delete;
  HostColumn& operator=(const HostColumn&) = delete;

  const emxBuffer_real_T* get() const { return &array_; }

 private:
  int32_T size_[1];
  emxBuffer_real_T array_{};
};

// An output column the library resizes. It starts over a host block of
// `capacity` values; should the library still need more, it puts a malloc'd
// block in its place (ownsData true), which this class frees.
class OutputColumn {
 public:
  explicit OutputColumn(size_t capacity) : block_(capacity) {
    size_[0] = 0;
    array_.data = block_.data();
    array_.size = size_;
    array_.capacity = int32_T(capacity);
    array_.dimCount = 1;
    array_.ownsData = false;
  }
  ~OutputColumn() {
    if (array_.ownsData && array_.data != block_.data()) std::free(array_.data);
  }
  OutputColumn(const OutputColumn&) = delete;
  OutputColumn& operator=(const OutputColumn&) = delete;

  emxBuffer_real_T* get() { return &array_; }
  std::vector<double> values() const {
    int32_T n = size_[0] > 0 ? size_[0] : 0;
    return std::vector<double>(array_.data, array_.data + n);
  }

 private:
  std::vector<double> block_;
  int32_T size_[1];
  emxBuffer_real_T array_{};
};

}  // namespace audiomeas::host
