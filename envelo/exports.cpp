// The C names libenvelo.so exports; each forwards to envelo's own internals.
#include "envelo_estimation.h"

#include "envelo_estimation_initialize.hpp"
#include "export.hpp"
#include "reductions.hpp"

extern "C" {

AM_EXPORT void envelo_estimation_initialize(void) {
  audiomeas::envelo::envelo_estimation_initialize();
}
AM_EXPORT void envelo_estimation_terminate(void) {
  audiomeas::envelo::envelo_estimation_terminate();
}

// The variable-length sum, exported under its second-specialisation name.
AM_EXPORT real_T b_sum(const emxBuffer_real_T* x) { return audiomeas::combineVectorElements(x); }

}  // extern "C"
