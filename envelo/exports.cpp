// The C names libenvelo.so exports; each forwards to envelo's own internals.
#include "envelo_estimation.h"

#include "envelo_estimation.hpp"
#include "envelo_kernels.hpp"
#include "export.hpp"
#include "reductions.hpp"
#include "rt_nonfinite.hpp"

namespace envelo = audiomeas::envelo;
namespace fixed = audiomeas::fixed;

extern "C" {

// Sets the non-finite constants; the host calls it once after loading.
AM_EXPORT void envelo_estimation_initialize(void) { audiomeas::rt_InitInfAndNaN(8U); }
// Nothing to release: the library keeps no state between calls.
AM_EXPORT void envelo_estimation_terminate(void) {}

AM_EXPORT void envelo_estimation(const emxBuffer_real_T* reference, const emxBuffer_real_T* recording,
                                 real_T unused1, real_T unused2, real_T* riseSettleTime,
                                 real_T* fallSettleTime, real_T* alignmentFailed) {
  envelo::envelo_estimation(reference, recording, unused1, unused2, riseSettleTime, fallSettleTime,
                            alignmentFailed);
}

AM_EXPORT void fft(const real_T x[ENVELO_SIGNAL_LENGTH], creal_T y[ENVELO_FFT_LENGTH]) { fixed::fft(x, y); }
AM_EXPORT void ifft(const creal_T x[ENVELO_FFT_LENGTH], creal_T y[ENVELO_FFT_LENGTH]) { fixed::ifft(x, y); }
AM_EXPORT void generate_twiddle_tables(real_T costab[ENVELO_TABLE_LENGTH],
                                       real_T sintab[ENVELO_TABLE_LENGTH]) {
  fixed::generate_twiddle_tables(costab, sintab);
}
AM_EXPORT void b_generate_twiddle_tables(real_T costab[ENVELO_TABLE_LENGTH],
                                         real_T sintab[ENVELO_TABLE_LENGTH]) {
  fixed::b_generate_twiddle_tables(costab, sintab);
}
AM_EXPORT void xcorr(const real_T x[ENVELO_SIGNAL_LENGTH], const real_T y[ENVELO_SIGNAL_LENGTH],
                     real_T c[ENVELO_CORRELATION_LENGTH]) {
  fixed::xcorr(x, y, c);
}

AM_EXPORT real_T rms(const real_T x[ENVELO_SIGNAL_LENGTH]) { return envelo::rms(x); }
AM_EXPORT real_T b_rms(const emxBuffer_real_T* x) { return envelo::b_rms(x); }
AM_EXPORT real_T sum(const real_T x[ENVELO_HISTORY_LENGTH]) { return envelo::sum(x); }
// The runtime's variable-length sum, under its second-specialisation name.
AM_EXPORT real_T b_sum(const emxBuffer_real_T* x) { return audiomeas::combineVectorElements(x); }
AM_EXPORT void b_abs(const real_T x[ENVELO_CORRELATION_LENGTH], real_T y[ENVELO_CORRELATION_LENGTH]) {
  envelo::b_abs(x, y);
}
AM_EXPORT void b_log10(real_T* x) { envelo::b_log10(x); }

}  // extern "C"
