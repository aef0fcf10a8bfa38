#include "burstra_initialize.hpp"

#include "rt_nonfinite.hpp"

namespace audiomeas::burstra {

void burstra_initialize() { rt_InitInfAndNaN(8U); }

}  // namespace audiomeas::burstra
