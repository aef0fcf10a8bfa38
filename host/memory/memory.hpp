// Memory a measurement will need, known from the input lengths before any
// sample is read, and the memory the machine can give.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "status.hpp"

namespace audiomeas::host {

// Peak bytes one measurement takes in this process, the program included:
// the samples read (one channel each, as doubles) and the working
// arrays of the library call. lengths are the inputs' frame counts in the
// measurement's argument order. window (align only, samples; 0: none) is
// the part of both signals the alignment works on, the rest being only
// read. An unknown measurement gives what its inputs take.
// inputsHeld: the caller already holds the inputs (the C and Python array
// calls), which are then not counted.
std::size_t estimatePeakBytes(const std::string& measurement, const std::vector<long long>& lengths,
                              long long window = 0, bool inputsHeld = false);

// Throws MemoryShortfall when estimate exceeds availableBytes(), with what
// the measurement needs for inputs (e.g. "ref.wav (60.0 s), rec.wav (60.0 s)")
// and what to do. Nothing when the memory available cannot be read.
void requireMemory(const std::string& measurement, std::size_t estimate, const std::string& inputs);

// Bytes the process may still take: /proc/meminfo's MemAvailable, less when
// an address-space limit (ulimit -v) leaves less room. nullopt when neither
// can be read.
std::optional<std::size_t> availableBytes();

// "3.94 GiB", "512 MiB", "900 KiB".
std::string describeBytes(std::size_t bytes);

// A size as a person writes it: 4000000000, 512M, 8G, 1.5GiB, 300MB (K, M,
// G, T are powers of 1024; a trailing B or iB is allowed). nullopt when it
// is not one, or is zero.
std::optional<std::size_t> parseBytes(const std::string& text);

}  // namespace audiomeas::host
