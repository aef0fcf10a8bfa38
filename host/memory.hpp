// Memory a measurement will need, known from the input lengths before any
// sample is read, and the memory the machine can give.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace audiomeas::host {

// Peak bytes one measurement takes in this process, the program included:
// the samples read (one channel each, as doubles) and the working
// arrays of the library call. lengths are the inputs' frame counts in the
// measurement's argument order. window (align only, samples; 0: none) is
// the part of both signals the alignment works on, the rest being only
// read. An unknown measurement gives what its inputs take.
std::size_t estimatePeakBytes(const std::string& measurement, const std::vector<long long>& lengths,
                              long long window = 0);

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
