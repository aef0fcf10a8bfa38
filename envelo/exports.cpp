// The C names libenvelo.so exports; each forwards to envelo's own internals.
#include "envelo_estimation.h"

#include "envelo_estimation_initialize.hpp"
#include "envelo_kernels.hpp"
#include "export.hpp"
#include "reductions.hpp"
#include "envelo_estimation.hpp"
#include "fft.hpp"
#include "xcorr.hpp"

namespace envelo = audiomeas::envelo;
namespace fixed = audiomeas::fixed;

extern "C" {

AM_EXPORT void envelo_estimation_initialize(void) { envelo::envelo_estimation_initialize(); }
AM_EXPORT void envelo_estimation_terminate(void) { envelo::envelo_estimation_terminate(); }

AM_EXPORT void envelo_estimation(const emxBuffer_real_T* reference,
                                 const emxBuffer_real_T* recording, real_T unused1,
                                 real_T unused2, real_T* riseSettleTime, real_T* fallSettleTime,
                                 real_T* alignmentFailed) {
  envelo::envelo_estimation(reference, recording, unused1, unused2, riseSettleTime,
                            fallSettleTime, alignmentFailed);
}

AM_EXPORT void fft(const real_T x[720000], creal_T y[2097152]) { fixed::fft(x, y); }
AM_EXPORT void ifft(const creal_T x[2097152], creal_T y[2097152]) { fixed::ifft(x, y); }
AM_EXPORT void generate_twiddle_tables(real_T costab[1048577], real_T sintab[1048577]) {
  fixed::generate_twiddle_tables(costab, sintab);
}
AM_EXPORT void b_generate_twiddle_tables(real_T costab[1048577], real_T sintab[1048577]) {
  fixed::b_generate_twiddle_tables(costab, sintab);
}
AM_EXPORT void xcorr(const real_T x[720000], const real_T y[720000], real_T c[1439999]) {
  fixed::xcorr(x, y, c);
}

AM_EXPORT real_T rms(const real_T x[720000]) { return envelo::rms(x); }
AM_EXPORT real_T b_rms(const emxBuffer_real_T* x) { return envelo::b_rms(x); }
AM_EXPORT real_T sum(const real_T x[200]) { return envelo::sum(x); }
// The runtime's variable-length sum, under its second-specialisation name.
AM_EXPORT real_T b_sum(const emxBuffer_real_T* x) { return audiomeas::combineVectorElements(x); }
AM_EXPORT void b_abs(const real_T x[1439999], real_T y[1439999]) { envelo::b_abs(x, y); }
AM_EXPORT void b_log10(real_T* x) { envelo::b_log10(x); }

}  // extern "C"
