// Signal matching: the coarse onset stage and the entry point behind the
// exported synkro_2.
#pragma once

#include "audiomeas_types.h"

namespace audiomeas::synkro {

// Moves paddedRecording by whole 5 ms blocks so that its onset of sustained
// activity meets the reference's.
//
// reference and paddedRecording hold n samples each (block positions follow
// the reference's length, the bounds of the move the recording's). Levels are
// dB re RMS 1.0 over frames of N + 1 samples, N = floor(0.005 * sampleRate);
// the reference counts as active above -50 dB, the recording above its own
// overall level less 12 dB; an onset is the first block after which more than
// 160 of the last 200 blocks were active.
//
// shiftedRecording (one-dimensional, not an input) is resized to the
// recording's length and receives it delayed by d = N * (reference onset -
// recording onset) samples (negative d advances it), zero-filled elsewhere.
// An onset not found counts as block 0. *coarseFailed is 1.0 when d exceeds
// half the length, else 0.0.
//
// A sample rate below 200 Hz, NaN or infinite, or signals of fewer than 161
// blocks give no onset: an unmoved copy and 0.0. Should shiftedRecording not
// be growable, it is left empty and *coarseFailed is 1.0.
void crude_align(const emxBuffer_real_T* reference, const emxBuffer_real_T* paddedRecording,
                 real_T sampleRate, emxBuffer_real_T* shiftedRecording, real_T* coarseFailed);

// The exported synkro_2 (see synkro_2.h for the contract).
void synkro_2(const emxBuffer_real_T* reference, const emxBuffer_real_T* recording,
              real_T sampleRate, emxBuffer_real_T* alignedRecording, real_T* fineLag,
              real_T* alignmentFailed);

}  // namespace audiomeas::synkro
