// burstra on 60 s of 48 kHz audio, against one pass that only sums the
// squares of its three signals (the least any frame analysis must do).
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_support.hpp"
#include "burstra.h"

namespace {

struct Signals {
  std::vector<double> presence, activity, measured;
  explicit Signals(std::size_t n)
      : presence(bench::programme(n, 7)),
        activity(bench::programme(n, 8)),
        measured(bench::programme(n, 9)) {}
};

void Burstra(benchmark::State& state) {
  burstra_initialize();
  const auto n = static_cast<std::size_t>(state.range(0)) * bench::kRate;
  Signals s(n);
  emxBuffer_real_T* p = emxCreateWrapper_real_T(s.presence.data(), static_cast<int32_T>(n), 1);
  emxBuffer_real_T* a = emxCreateWrapper_real_T(s.activity.data(), static_cast<int32_T>(n), 1);
  emxBuffer_real_T* m = emxCreateWrapper_real_T(s.measured.data(), static_cast<int32_T>(n), 1);
  double diff = 0, level = 0, warn = 0;
  for (auto _ : state) {
    burstra(p, a, m, bench::kRate, &diff, &level, &warn);
    benchmark::DoNotOptimize(diff);
  }
  emxDestroyArray_real_T(p);
  emxDestroyArray_real_T(a);
  emxDestroyArray_real_T(m);
}
BENCHMARK(Burstra)->Arg(60)->Unit(benchmark::kMillisecond);

void OnePassOfSquares(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0)) * bench::kRate;
  Signals s(n);
  for (auto _ : state) {
    double sp = 0, sa = 0, sm = 0;
    for (std::size_t i = 0; i < n; ++i) {
      sp += s.presence[i] * s.presence[i];
      sa += s.activity[i] * s.activity[i];
      sm += s.measured[i] * s.measured[i];
    }
    benchmark::DoNotOptimize(sp + sa + sm);
  }
}
BENCHMARK(OnePassOfSquares)->Arg(60)->Unit(benchmark::kMillisecond);

void SmokeBurstra(benchmark::State& state) { Burstra(state); }
BENCHMARK(SmokeBurstra)->Arg(1)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
