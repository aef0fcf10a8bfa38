// Host side of synkro: no initialise call and no array API; the host builds
// the structures itself.
#include "synkro_2.h"

#include "host_array.hpp"
#include "libraries.hpp"

namespace audiomeas::cli {

AlignNumbers alignSignals(const std::vector<double> &reference, const std::vector<double> &recording,
                          double sampleRate, std::vector<double> *aligned) {
  HostColumn ref(reference);
  HostColumn rec(recording);
  // Sized for the result up front, so the library keeps the host's block.
  OutputColumn out(reference.size());
  double fineLag = 0.0;
  double failed = 1.0;
  synkro_2(ref.get(), rec.get(), sampleRate, out.get(), &fineLag, &failed);
  if (aligned != nullptr) *aligned = out.values();
  return {fineLag, failed != 0.0};
}

}  // namespace audiomeas::cli
