// Peak memory of a process that runs one envelo_estimation on 115.5 s
// inputs: the peak resident set (getrusage) minus the two input arrays.
// Usage: envelo_memory   (prints MB, 10^6 bytes)
#include <sys/resource.h>

#include <cstdio>
#include <vector>

#include "bench_support.hpp"
#include "envelo_estimation.h"

int main() {
  envelo_estimation_initialize();
  auto ref = bench::programme(5544000, 3), rec = bench::programme(5544000, 3, 24000);
  emxBuffer_real_T* a = emxCreateWrapper_real_T(ref.data(), static_cast<int32_T>(ref.size()), 1);
  emxBuffer_real_T* b = emxCreateWrapper_real_T(rec.data(), static_cast<int32_T>(rec.size()), 1);
  double rise = 0, fall = 0, failed = 0;
  envelo_estimation(a, b, 0.0, 0.0, &rise, &fall, &failed);
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  const double peak = static_cast<double>(u.ru_maxrss) * 1024.0 / 1e6;
  const double inputs = static_cast<double>((ref.size() + rec.size()) * sizeof(double)) / 1e6;
  std::printf(
      "peak %.1f MB, inputs %.1f MB, peak minus inputs %.1f MB (rise %.2f s, fall %.2f s, failed %.0f)\n",
      peak, inputs, peak - inputs, rise, fall, failed);
  emxDestroyArray_real_T(a);
  emxDestroyArray_real_T(b);
  envelo_estimation_terminate();
  return 0;
}
