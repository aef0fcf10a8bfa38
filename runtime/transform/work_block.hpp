// Work arrays of the transforms: large, uninitialised, and freed at the end
// of the call that takes them.
#pragma once

#include <cstddef>
#include <memory>

#include "audiomeas_types.h"

namespace audiomeas::detail {

struct WorkBlockFree {
  void operator()(real_T* p) const noexcept;
};
using WorkBlock = std::unique_ptr<real_T[], WorkBlockFree>;

// n doubles, uninitialised, or an empty pointer when they cannot be had. A
// block of several MiB is a fresh mapping on every call, whose first touch
// costs a page fault per 4 KiB page; it is aligned to 2 MiB and offered huge
// pages, so that the transform's first pass takes one fault per 2 MiB.
WorkBlock allocateWorkBlock(std::size_t n);

// Makes the one-dimensional array a hold n elements (n < 0 counts as 0)
// that the caller writes before it reads any. A new block is taken as a
// work block, neither zero-filled nor filled from the old one, and the
// array owns it (std::free releases it). False, with size[0] = 0, when it
// cannot be had.
bool resizeWorkArray(emxBuffer_real_T* a, int32_T n);

}  // namespace audiomeas::detail
