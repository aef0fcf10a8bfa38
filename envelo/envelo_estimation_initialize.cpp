#include "envelo_estimation_initialize.hpp"

#include "rt_nonfinite.hpp"

namespace audiomeas::envelo {

void envelo_estimation_initialize() { rt_InitInfAndNaN(8U); }

}  // namespace audiomeas::envelo
