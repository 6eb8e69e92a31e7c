// The picture's cost against libjpeg alone on the same canvas, at the default size (120 x 30) and at
// 9 digits, height 200 (900 x 200). Reported as us per picture and as ratios to the floors.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_support.h"

namespace {

using bench_support::Canvas;
using bench_support::Configure;
using bench_support::Encode;
using bench_support::kSizes;

std::string TempBase() { return bench_support::TempDir() + "/vexorin-bench-" + std::to_string(getpid()); }

void EncodeToMemory(const BYTE* canvas, LONG width, LONG height) {
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  Encode(canvas, width, height, nullptr, &mem, &size);
  benchmark::DoNotOptimize(mem);
  std::free(mem);
}

void BM_RenderImage(benchmark::State& state) {
  vexorin::VexorinComponent c;
  Configure(c, kSizes[state.range(0)]);
  std::vector<BYTE> canvas = bench_support::BlankCanvas(c);
  const vexorin::PictureSize size = bench_support::MeasuredSize(c);
  for (auto _ : state) {
    c.RenderImage(canvas.data(), size);
    benchmark::DoNotOptimize(canvas.data());
  }
}

void BM_FloorEncodeMemory(benchmark::State& state) {
  vexorin::VexorinComponent c;
  Configure(c, kSizes[state.range(0)]);
  const LONG width = bench_support::Width(c);
  const std::vector<BYTE> canvas = Canvas(c);
  for (auto _ : state) EncodeToMemory(canvas.data(), width, c.State().Height);
}

void BM_RenderAndEncodeMemory(benchmark::State& state) {
  vexorin::VexorinComponent c;
  Configure(c, kSizes[state.range(0)]);
  const LONG width = bench_support::Width(c);
  const vexorin::PictureSize size = bench_support::MeasuredSize(c);
  for (auto _ : state) {
    std::vector<BYTE> canvas(size.bytes);
    c.RenderImage(canvas.data(), size);
    EncodeToMemory(canvas.data(), width, c.State().Height);
  }
}

void BM_FloorEncodeFile(benchmark::State& state) {
  vexorin::VexorinComponent c;
  Configure(c, kSizes[state.range(0)]);
  const LONG width = bench_support::Width(c);
  const std::vector<BYTE> canvas = Canvas(c);
  const std::string base = TempBase() + "-floor-";
  long n = 0;
  for (auto _ : state) {
    const std::string path = base + std::to_string(n++) + ".jpg";
    FILE* f = std::fopen(path.c_str(), "wb");
    Encode(canvas.data(), width, c.State().Height, f, nullptr, nullptr);
    std::fclose(f);
    state.PauseTiming();
    std::remove(path.c_str());
    state.ResumeTiming();
  }
}

void BM_SaveToFile(benchmark::State& state) {
  vexorin::VexorinComponent c;
  Configure(c, kSizes[state.range(0)]);
  const std::string base = TempBase() + "-save-";
  long n = 0;
  for (auto _ : state) {
    const std::string path = base + std::to_string(n++) + ".jpg";
    platform::unique_bstr name(platform::MakeBstr(path.c_str()));
    if (FAILED(c.SaveToFile(name.get()))) state.SkipWithError("SaveToFile failed");
    state.PauseTiming();
    std::remove(path.c_str());
    state.ResumeTiming();
  }
}

BENCHMARK(BM_RenderImage)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FloorEncodeMemory)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderAndEncodeMemory)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FloorEncodeFile)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SaveToFile)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Prints each measurement against its floor after the run.
class RatioReporter : public bench_support::TimesReporter {
 public:
  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto& sizes = bench_support::kSizeNames;
    std::printf("\n%-10s %-28s %12s %10s\n", "size", "measure", "us/picture", "ratio");
    for (int s = 0; s < 2; ++s) {
      const std::string arg = "/" + std::to_string(s);
      auto t = [&](const char* n) { return Time(std::string(n) + arg); };
      const double memFloor = t("BM_FloorEncodeMemory");
      const double fileFloor = t("BM_FloorEncodeFile");
      std::printf("%-10s %-28s %12.1f %10s\n", sizes[s], "RenderImage", t("BM_RenderImage"), "-");
      std::printf("%-10s %-28s %12.1f %10s\n", sizes[s], "floor: encode to memory", memFloor, "1.00");
      std::printf("%-10s %-28s %12.1f %10.3f\n", sizes[s], "render + encode to memory",
                  t("BM_RenderAndEncodeMemory"), t("BM_RenderAndEncodeMemory") / memFloor);
      std::printf("%-10s %-28s %12.1f %10s\n", sizes[s], "floor: encode to new file", fileFloor, "1.00");
      std::printf("%-10s %-28s %12.1f %10.3f\n", sizes[s], "SaveToFile to new file",
                  t("BM_SaveToFile"), t("BM_SaveToFile") / fileFloor);
      // What is left once the floor and the render itself are taken away: the component's own cost.
      std::printf("%-10s %-28s %12.1f %10.3f\n", sizes[s], "SaveToFile - render - floor",
                  t("BM_SaveToFile") - t("BM_RenderImage") - fileFloor,
                  (t("BM_SaveToFile") - t("BM_RenderImage")) / fileFloor);
    }
  }
};

}  // namespace

int main(int argc, char** argv) { return bench_support::RunWith<RatioReporter>(argc, argv); }
