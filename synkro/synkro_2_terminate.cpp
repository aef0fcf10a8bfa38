#include "synkro_2_initialize.hpp"

namespace audiomeas::synkro {

void synkro_2_terminate() {}

}  // namespace audiomeas::synkro
