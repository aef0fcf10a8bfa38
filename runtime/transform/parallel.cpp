#include "parallel.hpp"

namespace audiomeas::detail {

namespace {
thread_local Workers* lent = nullptr;
}  // namespace

Workers* lendWorkers(Workers* workers) {
  Workers* before = lent;
  lent = workers;
  return before;
}

void parallelFor(int32_T count, Workers::Body body, void* context) {
  Workers* workers = lent;
  if (workers == nullptr || count < 2) {
    for (int32_T k = 0; k < count; ++k) body(context, k);
    return;
  }
  lent = nullptr;
  workers->forEach(count, body, context);
  lent = workers;
}

}  // namespace audiomeas::detail
