#include "memory.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include "measurements.hpp"
#include "text.hpp"
#include "xcorr.hpp"

namespace audiomeas::host {

namespace {

constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kDouble = sizeof(double);

// The program and its libraries as loaded, the read buffer and libsndfile's
// state, whatever the files (measured: about 10 MiB).
constexpr double kBaseBytes = 16 * kMiB;

// Smallest power of two >= x (x >= 1).
double powerOfTwoAtLeast(double x) {
  double p = 1.0;
  while (p < x) p *= 2.0;
  return p;
}

}  // namespace

// synkro_2 on a reference of n samples (the recording is cut or padded to
// n), at the correlation, its peak: the aligned output, which holds the
// coarsely shifted recording then (n doubles; the padded copy is gone by
// then), the two transform work arrays of P complex values each, P the
// power of two that holds 2n - 1 lags, with the 2n - 1 lags in a block of
// their own below the shared-block length, and that length's tables (about
// 4 bytes per point).
double synkroWorkBytes(double n) {
  if (n <= 0.0) return 0.0;
  const double P = powerOfTwoAtLeast(2.0 * n - 1.0);
  const double lags = P < double(kSharedBlockLength) ? 2.0 * n : 0.0;
  return (n + lags) * kDouble + 2.0 * 2.0 * P * kDouble + 4.0 * P;
}

std::size_t estimatePeakBytes(const MeasurementEntry& measurement, const std::vector<long long>& lengths,
                              long long windowSamples, bool inputsHeld) {
  double samples = 0.0;
  for (long long n : lengths) samples += double(std::max(0LL, n));
  const double bytes = kBaseBytes + (inputsHeld ? 0.0 : samples * kDouble) +
                       measurement.workBytes(lengths, std::max(0LL, windowSamples));
  return bytes >= 1.8e19 ? SIZE_MAX : std::size_t(bytes);
}

namespace {

// Bytes reserved by the measurements running in this process.
std::mutex reservedLock;
std::size_t reserved = 0;

}  // namespace

MemoryReservation::MemoryReservation(std::size_t bytes) : bytes_(bytes) {
  std::lock_guard<std::mutex> lock(reservedLock);
  reserved += bytes_;
}

MemoryReservation::~MemoryReservation() {
  if (bytes_ == 0) return;
  std::lock_guard<std::mutex> lock(reservedLock);
  reserved -= bytes_;
}

MemoryReservation::MemoryReservation(MemoryReservation&& other) noexcept : bytes_(other.bytes_) {
  other.bytes_ = 0;
}

MemoryReservation& MemoryReservation::operator=(MemoryReservation&& other) noexcept {
  if (this != &other) {
    MemoryReservation gone(std::move(*this));
    bytes_ = other.bytes_;
    other.bytes_ = 0;
  }
  return *this;
}

MemoryReservation requireMemory(const MeasurementEntry& measurement, std::size_t estimate,
                                const std::string& inputs) {
  const std::optional<std::size_t> available = availableBytes();
  std::lock_guard<std::mutex> lock(reservedLock);
  if (available) {
    const std::size_t room = *available > reserved ? *available - reserved : 0;
    if (estimate > room)
      throw MemoryShortfall(
          fmt("%s needs about %s of memory for %s, more than the %s available%s; ", measurement.name,
              describeBytes(estimate).c_str(), inputs.c_str(), describeBytes(room).c_str(),
              reserved > 0 ? " beside the measurements running" : "") +
              measurement.memoryAdvice,
          estimate, room);
  }
  // Counted under the same lock as the check (the constructor would take it).
  reserved += estimate;
  MemoryReservation r;
  r.bytes_ = estimate;
  return r;
}

MemoryShortfall allocationFailed(const MeasurementEntry& measurement, std::size_t estimate,
                                 const std::string& inputs) {
  const std::size_t available = availableBytes().value_or(0);
  return MemoryShortfall(
      fmt("%s could not allocate its memory: it needs about %s for %s, and %s is available; ",
          measurement.name, describeBytes(estimate).c_str(), inputs.c_str(),
          describeBytes(available).c_str()) +
          measurement.memoryAdvice,
      estimate, available);
}

std::optional<std::size_t> availableBytes() {
  std::optional<std::size_t> available;
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  unsigned long long value = 0;
  std::string unit;
  while (meminfo >> key >> value) {
    std::getline(meminfo, unit);
    if (key == "MemAvailable:") {
      available = std::size_t(value) * 1024;
      break;
    }
  }
  // An address-space limit counts everything mapped, the program included.
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    std::size_t mapped = 0;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind("VmSize:", 0) == 0) mapped = std::size_t(std::stoull(line.substr(7))) * 1024;
    const std::size_t room = limit.rlim_cur > mapped ? std::size_t(limit.rlim_cur - mapped) : 0;
    available = available ? std::min(*available, room) : room;
  }
  if (const char* cap = std::getenv(kAvailableMemoryVariable); cap != nullptr && *cap != '\0') {
    // An unreadable value lowers nothing: it is only ever a cap.
    if (const std::optional<std::size_t> bytes = parseBytes(cap))
      available = available ? std::min(*available, *bytes) : *bytes;
  }
  return available;
}

std::string describeBytes(std::size_t bytes) {
  const double b = double(bytes);
  if (b >= 1024.0 * kMiB) return fmt("%.2f GiB", b / (1024.0 * kMiB));
  if (b >= kMiB) return fmt("%.0f MiB", b / kMiB);
  return fmt("%.0f KiB", std::ceil(b / 1024.0));
}

std::optional<std::size_t> parseBytes(const std::string& text) {
  // strtod, not scanf: scanf takes "16E" whole as a number without its
  // exponent, and the unit would be lost.
  // Decimal only: strtod would also take hexadecimal, "inf" and "nan".
  if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.') ||
      text.find_first_of("xX") != std::string::npos)
    return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || !std::isfinite(value) || value <= 0.0) return std::nullopt;
  const auto used = static_cast<size_t>(end - text.c_str());
  std::string unit = text.substr(used);
  for (char& c : unit) c = char(std::toupper(static_cast<unsigned char>(c)));
  if (unit.size() > 1 && unit.back() == 'B') unit.pop_back();
  if (unit.size() == 2 && unit.back() == 'I') unit.pop_back();
  static const std::string kUnits = "KMGTPE";
  double factor = 1.0;
  if (unit.size() == 1 && kUnits.find(unit[0]) != std::string::npos) {
    for (size_t i = 0; i <= kUnits.find(unit[0]); ++i) factor *= 1024.0;
  } else if (!unit.empty() && unit != "B") {
    return std::nullopt;
  }
  const double bytes = value * factor;
  if (bytes < 1.0 || bytes >= 1.8e19) return std::nullopt;
  return std::size_t(bytes);
}

}  // namespace audiomeas::host
