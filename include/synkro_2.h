/*
 * synkro: matches a recording to a reference signal.
 *
 * The library exports this one function and no array API: the host builds
 * the emxBuffer_real_T structures itself (layout in audiomeas_types.h). It
 * needs no initialise call. Calls on distinct arrays may run concurrently.
 * Compiles as C99 and as C++.
 */
#ifndef SYNKRO_2_H
#define SYNKRO_2_H

#include "audiomeas_types.h"

/* Version of this interface; the library's SONAME carries the major number. */
#define SYNKRO_VERSION_MAJOR 1
#define SYNKRO_VERSION_MINOR 0
#define SYNKRO_VERSION_PATCH 0

#ifdef __cplusplus
extern "C" {
#endif

/*
 * reference         n samples (any scale; 0 dB activity = RMS 1.0)
 * recording         m samples; cut or zero-padded to n before matching
 * sampleRate        Hz, sets the 5 ms block length of the coarse stage
 * alignedRecording  one-dimensional output, neither input: resized to n and
 *                   filled with the recording moved onto the reference. When
 *                   its capacity is below n the library gives it a new block
 *                   from malloc (ownsData becomes true); the host releases
 *                   that block with free().
 * *fineLag          lag of the correlation peak in samples, in -(n-1) .. n-1;
 *                   positive when the recording (after the coarse stage)
 *                   comes later than the reference
 * *alignmentFailed  1.0 when the match is not to be trusted, else 0.0
 * An empty reference gives an empty output, *fineLag 0.0 and failure 1.0.
 */
void synkro_2(const emxBuffer_real_T* reference, const emxBuffer_real_T* recording, real_T sampleRate,
              emxBuffer_real_T* alignedRecording, real_T* fineLag, real_T* alignmentFailed);

#ifdef __cplusplus
}
#endif

#endif /* SYNKRO_2_H */
