// The picture's cost against libjpeg alone on the same canvas, at the default size (120 x 30) and at
// 9 digits, height 200 (900 x 200). Reported as us per picture and as ratios to the floors.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "component/picture/jpeg_output.h"

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
  vexorin::PictureComponent c;
  Configure(c, kSizes[state.range(0)]);
  std::vector<BYTE> canvas = bench_support::BlankCanvas(c);
  const vexorin::PictureSize size = bench_support::MeasuredSize(c);
  for (auto _ : state) {
    c.RenderImage(canvas.data(), size);
    benchmark::DoNotOptimize(canvas.data());
  }
}

void BM_FloorEncodeMemory(benchmark::State& state) {
  vexorin::PictureComponent c;
  Configure(c, kSizes[state.range(0)]);
  const LONG width = bench_support::Width(c);
  const auto pictures = bench_support::Pictures(c);
  std::size_t next = 0;
  for (auto _ : state) EncodeToMemory(pictures[next++ % pictures.size()].data(), width, c.State().Height);
}

// The component's own route: render, then its encoder into memory.
void RenderAndEncode(benchmark::State& state, LONG noise) {
  vexorin::PictureComponent c;
  Configure(c, kSizes[state.range(0)]);
  c.put_Noise(noise);
  for (auto _ : state) {
    vexorin::Canvas canvas;
    vexorin::JpegBytes jpeg;
    if (FAILED(c.Render(canvas)) ||
        FAILED(vexorin::EncodeJpeg(canvas.pixels.get(), canvas.size.width, canvas.size.height, 100, jpeg))) {
      state.SkipWithError("render or encode failed");
    }
    benchmark::DoNotOptimize(jpeg.data.get());
  }
}
void BM_RenderAndEncodeMemory(benchmark::State& state) { RenderAndEncode(state, 0); }
void BM_RenderAndEncodeMemoryNoise(benchmark::State& state) { RenderAndEncode(state, 1); }

// SaveToFile's floor: render and the same encoder, the bytes written to a new file.
void BM_RenderEncodeToNewFile(benchmark::State& state) {
  vexorin::PictureComponent c;
  Configure(c, kSizes[state.range(0)]);
  const std::string base = TempBase() + "-own-";
  long n = 0;
  for (auto _ : state) {
    const std::string path = base + std::to_string(n++) + ".jpg";
    vexorin::Canvas canvas;
    vexorin::JpegBytes jpeg;
    c.Render(canvas);
    vexorin::EncodeJpeg(canvas.pixels.get(), canvas.size.width, canvas.size.height, 100, jpeg);
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(jpeg.data.get(), 1, jpeg.size, f);
    std::fclose(f);
    state.PauseTiming();
    std::remove(path.c_str());
    state.ResumeTiming();
  }
}

void BM_FloorEncodeFile(benchmark::State& state) {
  vexorin::PictureComponent c;
  Configure(c, kSizes[state.range(0)]);
  const LONG width = bench_support::Width(c);
  const auto pictures = bench_support::Pictures(c);
  const std::string base = TempBase() + "-floor-";
  long n = 0;
  for (auto _ : state) {
    const std::string path = base + std::to_string(n++) + ".jpg";
    FILE* f = std::fopen(path.c_str(), "wb");
    Encode(pictures[static_cast<std::size_t>(n) % pictures.size()].data(), width, c.State().Height, f, nullptr, nullptr);
    std::fclose(f);
    state.PauseTiming();
    std::remove(path.c_str());
    state.ResumeTiming();
  }
}

void BM_SaveToFile(benchmark::State& state) {
  vexorin::PictureComponent c;
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
BENCHMARK(BM_RenderAndEncodeMemoryNoise)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderEncodeToNewFile)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
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
      const double ownFile = t("BM_RenderEncodeToNewFile");
      std::printf("%-10s %-28s %12.1f %10s\n", sizes[s], "floor: render+ours to file", ownFile, "1.00");
      std::printf("%-10s %-28s %12.1f %10.3f\n", sizes[s], "SaveToFile to new file",
                  t("BM_SaveToFile"), t("BM_SaveToFile") / ownFile);
    }
    ReportPeerMedian();
  }

  // The optional peer (bench/CMakeLists.txt), run now: its median against ours.
  void ReportPeerMedian() {
#ifdef VEXORIN_PEER
    // Its sample picture goes to the temporary directory, not into whatever directory we run in.
    const std::string command = "OUTDIR='" + bench_support::TempDir() + "' " VEXORIN_PEER " string 20000 5";
    FILE* p = popen(command.c_str(), "r");
    char line[512] = {};
    double median = 0;
    while (p != nullptr && std::fgets(line, sizeof line, p) != nullptr) {
      const char* at = std::strstr(line, "us_med=");
      if (at != nullptr) median = std::atof(at + 7);
    }
    if (p != nullptr) pclose(p);
    if (median <= 0) {
      std::printf("\npeer c-gd-string: no result\n");
      return;
    }
    const double ours = Time("BM_RenderAndEncodeMemoryNoise/0");
    std::printf("\n%-10s %-28s %12.1f %10s\n", "120x30", "peer c-gd-string (noise)", median, "1.00");
    std::printf("%-10s %-28s %12.1f %10.3f   (peer / ours: %.2fx faster)\n", "120x30",
                "render + encode, noise", ours, ours / median, median / ours);
#else
    std::printf("\npeer c-gd-string: not built (optional; see bench/CMakeLists.txt)\n");
#endif
  }
};

}  // namespace

int main(int argc, char** argv) { return bench_support::RunWith<RatioReporter>(argc, argv); }
