#include "burstra_initialize.hpp"

namespace audiomeas::burstra {

void burstra_terminate() {}

}  // namespace audiomeas::burstra
