// GenerateRnd's cost against its floor: one bare 8-byte read of the system's generator, the least a
// number drawn from it can cost.
#include <sys/random.h>

#include <cstdint>

#include <benchmark/benchmark.h>

#include "component/picture/component.h"

namespace {

void BM_GenerateRnd(benchmark::State& state) {
  vexorin::PictureComponent c;
  LONG number = 0;
  for (auto _ : state) {
    c.GenerateRnd(static_cast<LONG>(state.range(0)), &number);
    benchmark::DoNotOptimize(number);
  }
}

void BM_FloorGetrandom(benchmark::State& state) {
  std::uint64_t word = 0;
  for (auto _ : state) {
    if (getrandom(&word, sizeof word, 0) != static_cast<ssize_t>(sizeof word)) state.SkipWithError("getrandom");
    benchmark::DoNotOptimize(word);
  }
}

}  // namespace

BENCHMARK(BM_GenerateRnd)->Arg(1)->Arg(8)->Arg(9);
BENCHMARK(BM_FloorGetrandom);
BENCHMARK_MAIN();
