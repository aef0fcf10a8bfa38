// The transforms and the correlation of envelo's one fixed length, 2^21, on
// caller storage, with their static work arrays. They read the process-wide
// fast plan of 2^21 (tables built once, thread-safely, by the same formula
// as generate_twiddle_tables, so with the same bits); the table builders
// fill their static quarter wave on every call, and xcorr and correlation
// share two static work arrays, so calls of these must not overlap.
#pragma once

#include "audiomeas_types.h"
#include "envelo_lengths.h"

namespace audiomeas::fixed {

inline constexpr int32_T kSignalLength = ENVELO_SIGNAL_LENGTH, kFftLength = ENVELO_FFT_LENGTH,
                         kTableLength = ENVELO_TABLE_LENGTH, kLagCount = ENVELO_CORRELATION_LENGTH;

// y := forward transform of x zero-padded to 2^21 samples.
void fft(const real_T x[ENVELO_SIGNAL_LENGTH], creal_T y[ENVELO_FFT_LENGTH]);
// y := inverse transform of x, scaled by 2^-21. x may equal y.
void ifft(const creal_T x[ENVELO_FFT_LENGTH], creal_T y[ENVELO_FFT_LENGTH]);
// costab[k] = cos(2 pi k/2^21), sintab[k] = -sin(2 pi k/2^21), k = 0 .. 2^20.
void generate_twiddle_tables(real_T costab[ENVELO_TABLE_LENGTH], real_T sintab[ENVELO_TABLE_LENGTH]);
// As generate_twiddle_tables with sintab[k] = +sin(2 pi k/2^21).
void b_generate_twiddle_tables(real_T costab[ENVELO_TABLE_LENGTH], real_T sintab[ENVELO_TABLE_LENGTH]);

// c := cross-correlation of two 720,000-sample signals by transforms of
// length 2^21; c[i] holds lag i - 719,999.
void xcorr(const real_T x[ENVELO_SIGNAL_LENGTH], const real_T y[ENVELO_SIGNAL_LENGTH],
           real_T c[ENVELO_CORRELATION_LENGTH]);
// xcorr(x, y moved by shift samples) with the lags left in the static work
// storage. The moved y is y[n - shift] where 0 <= n - shift < 720,000, else
// 0 (positive shift: later). The returned 1,439,999 values stay valid, and
// may be changed in place, until the next call of xcorr or correlation.
real_T* correlation(const real_T x[ENVELO_SIGNAL_LENGTH], const real_T y[ENVELO_SIGNAL_LENGTH],
                    int32_T shift);

}  // namespace audiomeas::fixed
