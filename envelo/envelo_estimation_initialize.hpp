#pragma once

namespace audiomeas::envelo {

// Sets the non-finite constants; the host calls it once after loading.
void envelo_estimation_initialize();
// Nothing to release: the library keeps no state between calls.
void envelo_estimation_terminate();

}  // namespace audiomeas::envelo
