// Infinities from stored bit patterns, not from arithmetic.
#include "export.hpp"
#include "rt_nonfinite.hpp"

namespace audiomeas {

real_T rtGetInf() { return detail::fromBits<real_T>(UINT64_C(0x7FF0000000000000)); }
real32_T rtGetInfF() { return detail::fromBits<real32_T>(UINT32_C(0x7F800000)); }
real_T rtGetMinusInf() { return detail::fromBits<real_T>(UINT64_C(0xFFF0000000000000)); }
real32_T rtGetMinusInfF() { return detail::fromBits<real32_T>(UINT32_C(0xFF800000)); }

}  // namespace audiomeas

extern "C" {
AM_EXPORT real_T rtGetInf(void) { return audiomeas::rtGetInf(); }
AM_EXPORT real32_T rtGetInfF(void) { return audiomeas::rtGetInfF(); }
AM_EXPORT real_T rtGetMinusInf(void) { return audiomeas::rtGetMinusInf(); }
AM_EXPORT real32_T rtGetMinusInfF(void) { return audiomeas::rtGetMinusInfF(); }
}
