// synkro: synkro_2 and the variable-size correlation it runs, on 1 s, 10 s
// and 60 s of 48 kHz audio.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_support.hpp"
#include "rt_nonfinite.hpp"
#include "synkro_2.h"
#include "test_arrays.hpp"
#include "xcorr.hpp"

namespace {

using audiomeas::test::Column;
using audiomeas::test::Exact;

void Synkro2(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0)) * bench::kRate;
  const Exact ref(bench::programme(n, 5)), rec(bench::programme(n, 5, 960));
  Column out{std::vector<double>(n)};
  double lag = 0, failed = 0;
  for (auto _ : state) {
    synkro_2(ref.get(), rec.get(), bench::kRate, out.get(), &lag, &failed);
    benchmark::DoNotOptimize(lag);
  }
  state.counters["lag"] = lag;
}
BENCHMARK(Synkro2)->Arg(1)->Arg(10)->Arg(60)->Unit(benchmark::kMillisecond);

void VariableXcorr(benchmark::State& state) {
  audiomeas::rt_InitInfAndNaN(8);
  const auto n = static_cast<std::size_t>(state.range(0)) * bench::kRate;
  const Exact x(bench::programme(n, 5)), y(bench::programme(n, 5, 960));
  Column c{std::vector<double>(2 * n)};
  for (auto _ : state) {
    audiomeas::xcorr(x.get(), y.get(), c.get());
    benchmark::DoNotOptimize(c.get()->data);
  }
}
BENCHMARK(VariableXcorr)->Arg(1)->Arg(10)->Arg(60)->Unit(benchmark::kMillisecond);

void SmokeSynkro2(benchmark::State& state) { Synkro2(state); }
BENCHMARK(SmokeSynkro2)->Arg(1)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
