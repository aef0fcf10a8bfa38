/*
 * envelo: attack/release settle times of a level-dependent device, from a
 * fixed 48 kHz test signal and its recording.
 *
 * Sample scale: 16-bit, full scale 32767. Call envelo_estimation_initialize()
 * once after loading the library. The library holds large static working
 * arrays: one loaded instance serves one call at a time (not reentrant).
 * Compiles as C99 and as C++. Its kernels rms and sum are envelo's own
 * fixed-size ones; include either this header or burstra.h in one
 * translation unit, not both.
 */
#ifndef ENVELO_ESTIMATION_H
#define ENVELO_ESTIMATION_H

#include "audiomeas_emx_api.h"
#include "envelo_lengths.h"

/* Version of this interface; the library's SONAME carries the major number. */
#define ENVELO_VERSION_MAJOR 1
#define ENVELO_VERSION_MINOR 0
#define ENVELO_VERSION_PATCH 0

#ifdef __cplusplus
extern "C" {
#endif

/* Sets the non-finite globals; calling it again is harmless. */
void envelo_estimation_initialize(void);
/* Does nothing; the library stays usable. */
void envelo_estimation_terminate(void);

/*
 * reference  the test signal, at least ENVELO_MIN_REFERENCE_LENGTH samples
 * recording  its recording through the device, at least ENVELO_SIGNAL_LENGTH samples
 * unused1, unused2  accepted and not read
 * Outputs (all three written on every call):
 *   *riseSettleTime  s, after the rising level step at 65.4 s; 0.0 when none
 *   *fallSettleTime  s, after the falling level step at 40.2 s; 0.0 when none
 *   *alignmentFailed 1.0 when the recording could not be aligned reliably
 *                    (or an input is shorter than stated above), else 0.0
 */
void envelo_estimation(const emxBuffer_real_T* reference, const emxBuffer_real_T* recording, real_T unused1,
                       real_T unused2, real_T* riseSettleTime, real_T* fallSettleTime,
                       real_T* alignmentFailed);

/* ---- fixed-size kernels (caller-owned arrays of exactly these lengths) ---- */

/* Forward DFT of 720,000 real samples zero-padded to 2^21, unscaled. */
void fft(const real_T x[ENVELO_SIGNAL_LENGTH], creal_T y[ENVELO_FFT_LENGTH]);
/* Inverse DFT of length 2^21, scaled by 2^-21. */
void ifft(const creal_T x[ENVELO_FFT_LENGTH], creal_T y[ENVELO_FFT_LENGTH]);
/* cos(2 pi k / 2^21) and -sin(2 pi k / 2^21), k = 0 .. 2^20. */
void generate_twiddle_tables(real_T costab[ENVELO_TABLE_LENGTH], real_T sintab[ENVELO_TABLE_LENGTH]);
/* cos(2 pi k / 2^21) and +sin(2 pi k / 2^21), k = 0 .. 2^20. */
void b_generate_twiddle_tables(real_T costab[ENVELO_TABLE_LENGTH], real_T sintab[ENVELO_TABLE_LENGTH]);
/* Full cross-correlation: c[i] = sum_j x[j + l] y[j] with lag l = i - 719,999. */
void xcorr(const real_T x[ENVELO_SIGNAL_LENGTH], const real_T y[ENVELO_SIGNAL_LENGTH],
           real_T c[ENVELO_CORRELATION_LENGTH]);
/* Root mean square of 720,000 values, summed left to right. */
real_T rms(const real_T x[ENVELO_SIGNAL_LENGTH]);
/* Root mean square of the first size[0] elements; NaN when empty. */
real_T b_rms(const emxBuffer_real_T* x);
/* x[0] + ... + x[199], left to right. */
real_T sum(const real_T x[ENVELO_HISTORY_LENGTH]);
/* Sum of the first size[0] elements, left to right; 0.0 when empty. */
real_T b_sum(const emxBuffer_real_T* x);
/* y[k] = |x[k]| (sign bit cleared) for 1,439,999 values. */
void b_abs(const real_T x[ENVELO_CORRELATION_LENGTH], real_T y[ENVELO_CORRELATION_LENGTH]);
/* *x = log10(*x), in place. */
void b_log10(real_T* x);

#ifdef __cplusplus
}
#endif

#endif /* ENVELO_ESTIMATION_H */
