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

}  // namespace audiomeas::detail
