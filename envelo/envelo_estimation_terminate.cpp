#include "envelo_estimation_initialize.hpp"

namespace audiomeas::envelo {

void envelo_estimation_terminate() {}

}  // namespace audiomeas::envelo
