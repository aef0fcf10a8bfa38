/*
 * envelo's fixed lengths: the test signal and the arrays of its fixed-size
 * kernels. Only macros, so that code which cannot include
 * envelo_estimation.h (beside burstra.h) can still name them. Compiles as
 * C99 and as C++.
 */
#ifndef ENVELO_LENGTHS_H
#define ENVELO_LENGTHS_H

#define ENVELO_SAMPLE_RATE 48000            /* Hz */
#define ENVELO_MIN_REFERENCE_LENGTH 5544000 /* samples of the test signal: 115.5 s */
#define ENVELO_SIGNAL_LENGTH 720000         /* samples aligned, and the recording's minimum: 15 s */
#define ENVELO_CORRELATION_LENGTH 1439999   /* lags -719,999 .. +719,999 */
#define ENVELO_FFT_LENGTH 2097152           /* 2^21 */
#define ENVELO_TABLE_LENGTH 1048577         /* twiddle entries 0 .. 2^20 */
#define ENVELO_HISTORY_LENGTH 200           /* 5 ms blocks of activity history */

#endif /* ENVELO_LENGTHS_H */
