// The one C name libsynkro.so exports.
#include "synkro_2.h"

#include "export.hpp"
#include "rt_nonfinite.hpp"
#include "synkro_2.hpp"

namespace {
// The host has no initialise function to call: the non-finite constants are
// set when the library is loaded, before any call can reach synkro_2, with
// no lock taken on every call. Nothing needs releasing at unload.
[[gnu::constructor]] void initializeOnLoad() { audiomeas::rt_InitInfAndNaN(8U); }
}  // namespace

extern "C" AM_EXPORT void synkro_2(const emxBuffer_real_T* reference, const emxBuffer_real_T* recording,
                                   real_T sampleRate, emxBuffer_real_T* alignedRecording, real_T* fineLag,
                                   real_T* alignmentFailed) {
  audiomeas::synkro::synkro_2(reference, recording, sampleRate, alignedRecording, fineLag, alignmentFailed);
}
