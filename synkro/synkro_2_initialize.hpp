#pragma once

namespace audiomeas::synkro {

// Sets the non-finite constants. The host cannot call it (it is not
// exported): it runs when the library is loaded.
void synkro_2_initialize();
// Nothing to release.
void synkro_2_terminate();

}  // namespace audiomeas::synkro
