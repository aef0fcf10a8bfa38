#include "reductions.hpp"

namespace audiomeas {

real_T sum(const emxBuffer_real_T* x) { return combineVectorElements(x); }

}  // namespace audiomeas
