#include "synkro_2_initialize.hpp"

#include "rt_nonfinite.hpp"

namespace audiomeas::synkro {

void synkro_2_initialize() { rt_InitInfAndNaN(8U); }

}  // namespace audiomeas::synkro
