#include "resample.hpp"

#include <soxr.h>

#include <cmath>
#include <new>

#include "status.hpp"
#include "text.hpp"

namespace audiomeas::host {

std::string resamplerName() {
  // soxr_version() says "libsoxr-0.1.3".
  std::string v = soxr_version();
  if (const auto dash = v.find('-'); dash != std::string::npos) v[dash] = ' ';
  return v;
}

std::int64_t resampledLength(std::int64_t frames, double from, double to) {
  if (frames <= 0 || !(from > 0.0) || !(to > 0.0)) return 0;
  return static_cast<std::int64_t>(std::llround(double(frames) * to / from));
}

std::vector<double> resample(std::span<const double> x, double from, double to) {
  std::vector<double> y(static_cast<std::size_t>(resampledLength(std::int64_t(x.size()), from, to)));
  if (y.empty()) return y;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, SOXR_LINEAR_PHASE);
  const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
  std::size_t done = 0;
  const soxr_error_t error = soxr_oneshot(from, to, 1, x.data(), x.size(), nullptr, y.data(), y.size(), &done,
                                          &io, &quality, &runtime);
  if (error != nullptr) {
    if (std::string(error).find("alloc") != std::string::npos) throw std::bad_alloc();
    throw Failure(kExitBadInput, fmt("cannot convert %g Hz to %g Hz: %s", from, to, error));
  }
  y.resize(done);
  return y;
}

}  // namespace audiomeas::host
