/*
 * burstra: transient signal-to-noise measurement.
 *
 * Levels are dB relative to an RMS of 32767 (16-bit full scale). Call
 * burstra_initialize() once after loading the library, before anything else.
 * Compiles as C99 and as C++. Its kernels rms and sum are burstra's own;
 * envelo exports other functions under those names, so a translation unit
 * includes one of burstra.h and envelo_estimation.h, not both.
 */
#ifndef BURSTRA_H
#define BURSTRA_H

#include "audiomeas_emx_api.h"

/* Version of this interface; the library's SONAME carries the major number. */
#define BURSTRA_VERSION_MAJOR 1
#define BURSTRA_VERSION_MINOR 0
#define BURSTRA_VERSION_PATCH 0

#ifdef __cplusplus
extern "C" {
#endif

/* Sets the non-finite globals; calling it again is harmless. */
void burstra_initialize(void);
/* Does nothing; the library stays usable. */
void burstra_terminate(void);

/*
 * Measures measuredSignal over 5 ms frames (floor(0.005 * sampleRate)
 * samples) of the three signals, all at sampleRate Hz.
 *   presenceSignal  sets the frame count from its length; frames whose
 *                   smoothed level is above -50 dB count for the noise estimate
 *   activitySignal  frames above -30 dB from the fourth in a row on are active
 *   measuredSignal  the signal whose levels are reported
 * Outputs (all three written on every call):
 *   *levelDifference  dB, level of the rest minus *activeLevel
 *   *activeLevel      dB re 32767, noise-corrected level of the active frames,
 *                     never below -120
 *   *warningFlag      1.0 when the active part is shorter than 50 ms or
 *                     longer than 10 s, a level exceeds 0 dB, or no frame can
 *                     be formed (bad rate, too short, or activity/measured
 *                     shorter than the frames need); else 0.0
 * The inputs are read only and stay the caller's.
 */
void burstra(const emxBuffer_real_T* presenceSignal, const emxBuffer_real_T* activitySignal,
             const emxBuffer_real_T* measuredSignal, real_T sampleRate, real_T* levelDifference,
             real_T* activeLevel, real_T* warningFlag);

/* Sum of the first size[0] elements, strictly left to right; 0.0 when empty. */
real_T combineVectorElements(const emxBuffer_real_T* x);
/* Same value as combineVectorElements. */
real_T sum(const emxBuffer_real_T* x);
/* y (one-dimensional, resized by the call) becomes the squares of a's
 * first size[0] elements. */
void power(const emxBuffer_real_T* a, emxBuffer_real_T* y);
/* Root mean square of the first size[0] elements; NaN when empty. */
real_T rms(const emxBuffer_real_T* x);

#ifdef __cplusplus
}
#endif

#endif /* BURSTRA_H */
