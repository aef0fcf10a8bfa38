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
}
