// envelo: the fixed-size kernels (2^21 transforms, 720,000-sample
// correlation) and envelo_estimation on 115.5 s inputs.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_support.hpp"
#include "envelo_estimation.h"

namespace {

void FixedFft(benchmark::State& state) {
  const auto x = bench::programme(720000, 1);
  std::vector<creal_T> y(2097152);
  for (auto _ : state) {
    fft(x.data(), y.data());
    benchmark::DoNotOptimize(y.data());
  }
}
BENCHMARK(FixedFft)->Unit(benchmark::kMillisecond);

void FixedIfft(benchmark::State& state) {
  const auto x = bench::programme(720000, 1);
  std::vector<creal_T> X(2097152), y(2097152);
  fft(x.data(), X.data());
  for (auto _ : state) {
    ifft(X.data(), y.data());
    benchmark::DoNotOptimize(y.data());
  }
}
BENCHMARK(FixedIfft)->Unit(benchmark::kMillisecond);

void FixedXcorr(benchmark::State& state) {
  const auto x = bench::programme(720000, 1), y = bench::programme(720000, 1, 4800);
  std::vector<double> c(1439999);
  for (auto _ : state) {
    xcorr(x.data(), y.data(), c.data());
    benchmark::DoNotOptimize(c.data());
  }
}
BENCHMARK(FixedXcorr)->Unit(benchmark::kMillisecond);

void EnveloEstimation(benchmark::State& state) {
  envelo_estimation_initialize();
  auto ref = bench::programme(5544000, 3), rec = bench::programme(5544000, 3, 24000);
  emxBuffer_real_T* a = emxCreateWrapper_real_T(ref.data(), static_cast<int32_T>(ref.size()), 1);
  emxBuffer_real_T* b = emxCreateWrapper_real_T(rec.data(), static_cast<int32_T>(rec.size()), 1);
  double rise = 0, fall = 0, failed = 0;
  for (auto _ : state) {
    envelo_estimation(a, b, 0.0, 0.0, &rise, &fall, &failed);
    benchmark::DoNotOptimize(rise);
  }
  state.counters["failed"] = failed;
  emxDestroyArray_real_T(a);
  emxDestroyArray_real_T(b);
}
BENCHMARK(EnveloEstimation)->Unit(benchmark::kMillisecond);

// Smoke: one short call of the fixed correlation.
void SmokeFixedXcorr(benchmark::State& state) { FixedXcorr(state); }
BENCHMARK(SmokeFixedXcorr)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
