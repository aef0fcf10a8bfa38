// printf-style formatting into std::string (g++ 12 has no <format>).
#pragma once

#include <cstdio>
#include <string>

namespace audiomeas::host {

template <typename... Args>
std::string fmt(const char* format, Args... args) {
  int n = std::snprintf(nullptr, 0, format, args...);
  std::string out(n > 0 ? size_t(n) : 0, '\0');
  if (n > 0) std::snprintf(out.data(), out.size() + 1, format, args...);
  return out;
}

// "5544000 samples (115.500 s)" at rate Hz.
inline std::string samplesAndSeconds(long long samples, int rate) {
  return fmt("%lld sample%s (%.3f s)", samples, samples == 1 ? "" : "s",
             rate > 0 ? double(samples) / rate : 0.0);
}

}  // namespace audiomeas::host
