#include "work_block.hpp"

#include <cstdint>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace audiomeas::detail {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;  // bytes, x86-64 and aarch64 with 4 KiB pages
}  // namespace

void WorkBlockFree::operator()(real_T* p) const noexcept { std::free(p); }

WorkBlock allocateWorkBlock(std::size_t n) {
  if (n > SIZE_MAX / sizeof(real_T) - kHugePage) return WorkBlock{};
  const std::size_t bytes = n * sizeof(real_T);
  if (bytes < kHugePage) return WorkBlock{static_cast<real_T*>(std::malloc(bytes == 0 ? 1 : bytes))};
  // aligned_alloc wants a multiple of the alignment.
  const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  auto* p = static_cast<real_T*>(std::aligned_alloc(kHugePage, rounded));
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  // Advice only: without transparent huge pages the block works as it is.
  if (p != nullptr) madvise(p, rounded, MADV_HUGEPAGE);
#endif
  return WorkBlock{p};
}

}  // namespace audiomeas::detail
