// Non-finite constants and tests. Each library has its own six globals; its
// code reads them through these hidden names, which alias the library's own
// exported storage, so another loaded library's globals never stand in.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "audiomeas_types.h"

namespace audiomeas {

namespace detail {
template <class F, class Bits>
F fromBits(Bits bits) {
  static_assert(sizeof(F) == sizeof(Bits));
  F f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}
}  // namespace detail

extern real_T rtInf;
extern real_T rtMinusInf;
extern real_T rtNaN;
extern real32_T rtInfF;
extern real32_T rtMinusInfF;
extern real32_T rtNaNF;

real_T rtGetInf();
real32_T rtGetInfF();
real_T rtGetMinusInf();
real32_T rtGetMinusInfF();
real_T rtGetNaN();
real32_T rtGetNaNF();

void rt_InitInfAndNaN(std::size_t realSize);

inline bool rtIsInf(real_T value) { return value == rtInf || value == rtMinusInf; }
inline bool rtIsInfF(real32_T value) { return value == rtInfF || value == rtMinusInfF; }
inline bool rtIsNaN(real_T value) { return std::isnan(value); }
inline bool rtIsNaNF(real32_T value) { return std::isnan(value); }

}  // namespace audiomeas
