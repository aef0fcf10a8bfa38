// Quiet NaNs with the sign bit set, from stored bit patterns.
#include "export.hpp"
#include "rt_nonfinite.hpp"

namespace audiomeas {

real_T rtGetNaN() { return detail::fromBits<real_T>(UINT64_C(0xFFF8000000000000)); }
real32_T rtGetNaNF() { return detail::fromBits<real32_T>(UINT32_C(0xFFC00000)); }

}  // namespace audiomeas

extern "C" {
AM_EXPORT real_T rtGetNaN(void) { return audiomeas::rtGetNaN(); }
AM_EXPORT real32_T rtGetNaNF(void) { return audiomeas::rtGetNaNF(); }
}
