// Host side of envelo: initialised once, one call at a time (its working
// arrays are static).
#include "envelo_estimation.h"

#include <mutex>

#include "host_array.hpp"
#include "libraries.hpp"

namespace audiomeas::cli {

AttackReleaseNumbers attackRelease(const std::vector<double> &reference,
                                   const std::vector<double> &recording) {
  static std::mutex oneCallAtATime;
  static std::once_flag initialised;
  std::lock_guard<std::mutex> lock(oneCallAtATime);
  std::call_once(initialised, [] { envelo_estimation_initialize(); });

  HostColumn ref(reference);
  HostColumn rec(recording);
  double rise = 0.0;
  double fall = 0.0;
  double failed = 1.0;
  envelo_estimation(ref.get(), rec.get(), 0.0, 0.0, &rise, &fall, &failed);
  return {rise, fall, failed != 0.0};
}

}  // namespace audiomeas::cli
