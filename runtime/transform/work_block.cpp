#include "work_block.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "emx.hpp"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace audiomeas::detail {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;  // bytes, x86-64 and aarch64 with 4 KiB pages

// bytes, uninitialised, as allocateWorkBlock takes them; null when they
// cannot be had.
void* allocateWorkBytes(std::size_t bytes) {
  if (bytes > SIZE_MAX - kHugePage) return nullptr;
  if (bytes < kHugePage) return std::malloc(bytes == 0 ? 1 : bytes);
  // aligned_alloc wants a multiple of the alignment.
  const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* p = std::aligned_alloc(kHugePage, rounded);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  // Advice only: without transparent huge pages the block works as it is.
  if (p != nullptr) madvise(p, rounded, MADV_HUGEPAGE);
#endif
  return p;
}

}  // namespace

void WorkBlockFree::operator()(real_T* p) const noexcept { std::free(p); }

WorkBlock allocateWorkBlock(std::size_t n) {
  if (n > SIZE_MAX / sizeof(real_T)) return WorkBlock{};
  return WorkBlock{static_cast<real_T*>(allocateWorkBytes(n * sizeof(real_T)))};
}

bool resizeWorkArray(emxBuffer_real_T* a, int32_T n) {
  n = std::max<int32_T>(n, 0);
  if (n > a->capacity) {
    const int32_T capacity = grownCapacity(a->capacity, n);
    void* block = allocateWorkBytes(sizeof(real_T) * static_cast<uint32_t>(capacity));
    if (block == nullptr) {
      a->size[0] = 0;
      return false;
    }
    adoptBlock(a, block, capacity);
  }
  a->size[0] = n;
  return true;
}

}  // namespace audiomeas::detail
