// The one C name libsynkro.so exports.
#include "synkro_2.h"

#include "export.hpp"
#include "synkro_2.hpp"
#include "synkro_2_initialize.hpp"

namespace {
// The host has no initialise function to call: the constants are set when the
// library is loaded, before any call can reach synkro_2, with no lock taken on
// every call.
[[gnu::constructor]] void initializeOnLoad() { audiomeas::synkro::synkro_2_initialize(); }
}  // namespace

extern "C" AM_EXPORT void synkro_2(const emxBuffer_real_T* reference,
                                   const emxBuffer_real_T* recording, real_T sampleRate,
                                   emxBuffer_real_T* alignedRecording, real_T* fineLag,
                                   real_T* alignmentFailed) {
  audiomeas::synkro::synkro_2(reference, recording, sampleRate, alignedRecording, fineLag,
                              alignmentFailed);
}
