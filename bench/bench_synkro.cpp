// synkro: synkro_2 and the variable-size correlation it runs, on 1 s, 10 s
// and 60 s of 48 kHz audio.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_support.hpp"
#include "rt_nonfinite.hpp"
#include "synkro_2.h"
#include "xcorr.hpp"

namespace {

struct Host {
  std::vector<double> data;
  int32_T size[1];
  emxBuffer_real_T a;
  explicit Host(std::vector<double> v) : data(std::move(v)) {
    size[0] = static_cast<int32_T>(data.size());
    a = {data.data(), size, size[0], 1, false};
  }
};

void Synkro2(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0)) * bench::kRate;
  Host ref{bench::programme(n, 5)}, rec{bench::programme(n, 5, 960)}, out{std::vector<double>(n)};
  double lag = 0, failed = 0;
  for (auto _ : state) {
    synkro_2(&ref.a, &rec.a, bench::kRate, &out.a, &lag, &failed);
    benchmark::DoNotOptimize(lag);
  }
  state.counters["lag"] = lag;
}
BENCHMARK(Synkro2)->Arg(1)->Arg(10)->Arg(60)->Unit(benchmark::kMillisecond);

void VariableXcorr(benchmark::State& state) {
  audiomeas::rt_InitInfAndNaN(8);
  const auto n = static_cast<std::size_t>(state.range(0)) * bench::kRate;
  Host x{bench::programme(n, 5)}, y{bench::programme(n, 5, 960)}, c{std::vector<double>(2 * n)};
  for (auto _ : state) {
    audiomeas::xcorr(&x.a, &y.a, &c.a);
    benchmark::DoNotOptimize(c.a.data);
  }
}
BENCHMARK(VariableXcorr)->Arg(1)->Arg(10)->Arg(60)->Unit(benchmark::kMillisecond);

void SmokeSynkro2(benchmark::State& state) { Synkro2(state); }
BENCHMARK(SmokeSynkro2)->Arg(1)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
