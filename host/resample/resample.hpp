// Sample-rate conversion in the host layer (never inside the libraries):
// inputs at another rate than the one a measurement runs at are converted
// with libsoxr at its very-high-quality setting before the library sees
// them. Linear phase, so a delay measured after conversion is the delay
// before it, in samples of the new rate.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace audiomeas::host {

// What a report says of the converter.
inline constexpr const char* kResamplerQuality = "very high (28-bit, linear phase)";
std::string resamplerName();  // "libsoxr 0.1.3"

// Frames at rate to for frames at rate from: the same length of time,
// rounded to the nearest frame.
std::int64_t resampledLength(std::int64_t frames, double from, double to);

// x (one channel, rate from, Hz) at rate to: resampledLength(x.size())
// samples, the first at the same instant as x's first. Single-threaded, so
// the same input gives the same samples on every run. Throws std::bad_alloc
// when memory runs short, Failure (bad input) when the converter refuses
// the rates.
std::vector<double> resample(std::span<const double> x, double from, double to);

}  // namespace audiomeas::host
