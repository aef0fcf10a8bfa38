// Memory a measurement will need, known from the input lengths before any
// sample is read, and the memory the machine can give.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "status.hpp"

namespace audiomeas::host {

struct MeasurementEntry;

// What the libraries' calls work in, for the measurement table's entries.
// envelo works in fixed arrays sized for its 720,000-sample correlation:
// two static work arrays of 2^21 complex values (64 MiB), the transform's
// tables and the analysis buffers (measured: about 70 MiB).
inline constexpr double kEnveloWorkBytes = 80.0 * 1024 * 1024;
// burstra makes one pass over its frames; its few arrays are per frame.
inline constexpr double kBurstraWorkBytes = 2.0 * 1024 * 1024;
// synkro_2 on a reference of n samples (the recording cut or padded to n).
double synkroWorkBytes(double n);

// Peak bytes one measurement takes in this process, the program included:
// the samples read (one channel each, as doubles) and what its library call
// works in (the table's workBytes). lengths are the inputs' frame counts in
// the measurement's argument order; windowSamples (0: none) the part of the
// signals a windowed alignment works on. inputsHeld: the caller already
// holds the inputs (the C and Python array calls), which are then not
// counted.
std::size_t estimatePeakBytes(const MeasurementEntry& measurement, const std::vector<long long>& lengths,
                              long long windowSamples = 0, bool inputsHeld = false);

// Memory set aside for a measurement running in this process, counted by
// every later requireMemory until it is destroyed.
class MemoryReservation {
 public:
  MemoryReservation() = default;
  explicit MemoryReservation(std::size_t bytes);
  ~MemoryReservation();
  MemoryReservation(MemoryReservation&& other) noexcept;
  MemoryReservation& operator=(MemoryReservation&& other) noexcept;
  std::size_t bytes() const { return bytes_; }

 private:
  friend MemoryReservation requireMemory(const MeasurementEntry&, std::size_t, const std::string&);
  std::size_t bytes_ = 0;
};

// Throws MemoryShortfall when estimate exceeds availableBytes() less what
// the measurements running in this process have reserved, with what the
// measurement needs for inputs (e.g. "ref.wav (60.0 s), rec.wav (60.0 s)")
// and the table's advice; else reserves estimate, until the reservation
// returned is destroyed. The check and the reservation are one step, so
// that of two calls at once only those that fit together pass. When the
// memory available cannot be read, nothing is refused.
[[nodiscard]] MemoryReservation requireMemory(const MeasurementEntry& measurement, std::size_t estimate,
                                              const std::string& inputs);

// The MemoryShortfall for an allocation that failed during a measurement
// estimated at estimate bytes: exit 3 with the estimate, never a report.
MemoryShortfall allocationFailed(const MeasurementEntry& measurement, std::size_t estimate,
                                 const std::string& inputs);

// Bytes the process may still take: /proc/meminfo's MemAvailable, less when
// an address-space limit (ulimit -v) leaves less room, or when the
// environment variable named kAvailableMemoryVariable gives less (a size as
// parseBytes reads it; it can only lower the figure, for tests and for
// sharing a machine). nullopt when none can be read.
inline constexpr const char* kAvailableMemoryVariable = "AUDIOMEAS_AVAILABLE_MEMORY";
std::optional<std::size_t> availableBytes();

// "3.94 GiB", "512 MiB", "900 KiB".
std::string describeBytes(std::size_t bytes);

// A size as a person writes it: 4000000000, 512M, 8G, 1.5GiB, 300MB (K, M,
// G, T, P, E are powers of 1024; a trailing B or iB is allowed). nullopt
// when it is not one, is zero, or does not fit in a size_t.
std::optional<std::size_t> parseBytes(const std::string& text);

}  // namespace audiomeas::host
