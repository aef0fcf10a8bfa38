// The C names libburstra.so exports; each forwards to burstra's own internals.
#include "burstra.h"

#include "burstra.hpp"
#include "export.hpp"
#include "reductions.hpp"
#include "rt_nonfinite.hpp"

extern "C" {

// Sets the non-finite constants; the host calls it once after loading.
AM_EXPORT void burstra_initialize(void) { audiomeas::rt_InitInfAndNaN(8U); }
// Nothing to release: the library keeps no state.
AM_EXPORT void burstra_terminate(void) {}

AM_EXPORT void burstra(const emxBuffer_real_T* presenceSignal, const emxBuffer_real_T* activitySignal,
                       const emxBuffer_real_T* measuredSignal, real_T sampleRate, real_T* levelDifference,
                       real_T* activeLevel, real_T* warningFlag) {
  audiomeas::burstra::burstra(presenceSignal, activitySignal, measuredSignal, sampleRate, levelDifference,
                              activeLevel, warningFlag);
}

AM_EXPORT real_T combineVectorElements(const emxBuffer_real_T* x) {
  return audiomeas::combineVectorElements(x);
}
AM_EXPORT real_T sum(const emxBuffer_real_T* x) { return audiomeas::sum(x); }
AM_EXPORT void power(const emxBuffer_real_T* a, emxBuffer_real_T* y) { audiomeas::power(a, y); }
AM_EXPORT real_T rms(const emxBuffer_real_T* x) { return audiomeas::rms(x); }

}  // extern "C"
