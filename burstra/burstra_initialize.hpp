#pragma once

namespace audiomeas::burstra {

// Sets the non-finite constants; the host calls it once after loading.
void burstra_initialize();
// Nothing to release: the library keeps no state.
void burstra_terminate();

}  // namespace audiomeas::burstra
