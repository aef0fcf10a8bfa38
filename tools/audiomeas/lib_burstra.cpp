// Host side of burstra: initialised once; calls on distinct data may overlap.
#include "burstra.h"

#include <cmath>
#include <mutex>

#include "host_array.hpp"
#include "libraries.hpp"

namespace audiomeas::cli {

long long transientFrameLength(double sampleRate) {
  return static_cast<long long>(std::floor(0.005 * sampleRate));
}

TransientNumbers transientSnr(const std::vector<double> &presence, const std::vector<double> &activity,
                              const std::vector<double> &measured, double sampleRate) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { burstra_initialize(); });

  HostColumn p(presence);
  HostColumn a(activity);
  HostColumn m(measured);
  double difference = 0.0;
  double active = -120.0;
  double warning = 1.0;
  burstra(p.get(), a.get(), m.get(), sampleRate, &difference, &active, &warning);
  return {active, difference, warning != 0.0};
}

}  // namespace audiomeas::cli
