// Discrete Fourier transforms in double precision.
//
// Conventions, for a transform length L:
//   forward  Y[k] = sum_j x[j] exp(-2 pi i jk/L), unscaled;
//   inverse  y[j] = (1/L) sum_k Y[k] exp(+2 pi i jk/L).
// Powers of two run an in-place radix-2 decimation-in-time transform with a
// bit-reversed load; other lengths run Bluestein's chirp-z method on the same
// radix-2 core, with a power-of-two length N >= 2L - 1.
//
// Supported lengths: powers of two up to 2^30, other lengths up to 2^29
// (2L - 1 <= 2^30). A length outside that range, or a work array that cannot
// be allocated, gives an empty output (size[0] = 0); nothing is written
// beyond any array.
#pragma once

#include "audiomeas_types.h"

namespace audiomeas {

// y := forward transform of x (its first size[0] samples) truncated or
// zero-padded to n samples; y becomes a vector of n elements. n is truncated
// toward zero; a negative or NaN n counts as 0 (empty y).
void fft(const emxBuffer_real_T* x, real_T n, emxBuffer_creal_T* y);

// y := inverse transform of x, scaled by 1/L with L = x->size[0]; y becomes a
// vector of L elements. x and y may be the same container.
void ifft(const emxBuffer_creal_T* x, emxBuffer_creal_T* y);

// Table length for a transform of nfft points. useRadix2 (nfft a power of
// two): nRows = nfft, n2blue = 1. Otherwise both receive the smallest power of
// two >= 2*nfft - 1 (1 when that is <= 1), or 0 when it would exceed 2^30.
void get_algo_sizes(int32_T nfft, bool useRadix2, int32_T* n2blue, int32_T* nRows);

// y := unscaled radix-2 transform of length fftLength of x truncated or
// zero-padded. fftLength must be a power of two (or 0) and, from 4 on, both
// tables must hold at least fftLength/2 entries (tables built for
// N = fftLength); otherwise y becomes empty. The sine table sets the direction: forward
// -sin, inverse +sin. x and y may be the same container.
void r2br_r2dit_trig_impl(const emxBuffer_creal_T* x, int32_T fftLength, const emxBuffer_real_T* costab,
                          const emxBuffer_real_T* sintab, emxBuffer_creal_T* y);

// r2br_r2dit_trig_impl, then every element times 1.0/fftLength (an output
// of one element is not scaled).
void r2br_r2dit_trig(const emxBuffer_creal_T* x, int32_T fftLength, const emxBuffer_real_T* costab,
                     const emxBuffer_real_T* sintab, emxBuffer_creal_T* y);

}  // namespace audiomeas
