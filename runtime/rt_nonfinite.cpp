// The non-finite constants: storage, bit patterns, tests.
#include "rt_nonfinite.hpp"

#include "export.hpp"

// Exported storage, zero until rt_InitInfAndNaN runs.
extern "C" {
AM_EXPORT real_T rtInf = 0.0;
AM_EXPORT real_T rtMinusInf = 0.0;
AM_EXPORT real_T rtNaN = 0.0;
AM_EXPORT real32_T rtInfF = 0.0F;
AM_EXPORT real32_T rtMinusInfF = 0.0F;
AM_EXPORT real32_T rtNaNF = 0.0F;
}

namespace audiomeas {

// Infinities and quiet NaNs (sign bit set) from stored bit patterns, not from
// arithmetic.
real_T rtGetInf() { return detail::fromBits<real_T>(UINT64_C(0x7FF0000000000000)); }
real32_T rtGetInfF() { return detail::fromBits<real32_T>(UINT32_C(0x7F800000)); }
real_T rtGetMinusInf() { return detail::fromBits<real_T>(UINT64_C(0xFFF0000000000000)); }
real32_T rtGetMinusInfF() { return detail::fromBits<real32_T>(UINT32_C(0xFF800000)); }
real_T rtGetNaN() { return detail::fromBits<real_T>(UINT64_C(0xFFF8000000000000)); }
real32_T rtGetNaNF() { return detail::fromBits<real32_T>(UINT32_C(0xFFC00000)); }

// Hidden aliases of the storage above: always this library's own copy.
extern real_T rtInf __attribute__((alias("rtInf"), visibility("hidden")));
extern real_T rtMinusInf __attribute__((alias("rtMinusInf"), visibility("hidden")));
extern real_T rtNaN __attribute__((alias("rtNaN"), visibility("hidden")));
extern real32_T rtInfF __attribute__((alias("rtInfF"), visibility("hidden")));
extern real32_T rtMinusInfF __attribute__((alias("rtMinusInfF"), visibility("hidden")));
extern real32_T rtNaNF __attribute__((alias("rtNaNF"), visibility("hidden")));

void rt_InitInfAndNaN(std::size_t /*realSize*/) {
  rtNaN = rtGetNaN();
  rtNaNF = rtGetNaNF();
  rtInf = rtGetInf();
  rtInfF = rtGetInfF();
  rtMinusInf = rtGetMinusInf();
  rtMinusInfF = rtGetMinusInfF();
  // A host executable that reads these globals directly may hold its own copy
  // of them (copy relocation); writing through the exported names as well
  // keeps that copy in step.
  ::rtNaN = rtNaN;
  ::rtNaNF = rtNaNF;
  ::rtInf = rtInf;
  ::rtInfF = rtInfF;
  ::rtMinusInf = rtMinusInf;
  ::rtMinusInfF = rtMinusInfF;
}

}  // namespace audiomeas

extern "C" {
AM_EXPORT void rt_InitInfAndNaN(std::size_t realSize) { audiomeas::rt_InitInfAndNaN(realSize); }
AM_EXPORT boolean_T rtIsInf(real_T value) { return audiomeas::rtIsInf(value); }
AM_EXPORT boolean_T rtIsInfF(real32_T value) { return audiomeas::rtIsInfF(value); }
AM_EXPORT boolean_T rtIsNaN(real_T value) { return audiomeas::rtIsNaN(value); }
AM_EXPORT boolean_T rtIsNaNF(real32_T value) { return audiomeas::rtIsNaNF(value); }
AM_EXPORT real_T rtGetInf(void) { return audiomeas::rtGetInf(); }
AM_EXPORT real32_T rtGetInfF(void) { return audiomeas::rtGetInfF(); }
AM_EXPORT real_T rtGetMinusInf(void) { return audiomeas::rtGetMinusInf(); }
AM_EXPORT real32_T rtGetMinusInfF(void) { return audiomeas::rtGetMinusInfF(); }
AM_EXPORT real_T rtGetNaN(void) { return audiomeas::rtGetNaN(); }
AM_EXPORT real32_T rtGetNaNF(void) { return audiomeas::rtGetNaNF(); }
}
