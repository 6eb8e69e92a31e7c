// The picture's cost against libjpeg alone on the same canvas, at the default size (120 x 30) and at
// 9 digits, height 200 (900 x 200). Reported as us per picture and as ratios to the floors.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include "component/component.h"
#include "platform/text.h"

namespace {

struct Size {
  const char* number;
  LONG height;
};
const Size kSizes[] = {{"12345678", 30}, {"123456789", 200}};

std::string TempBase() {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/vexorin-bench-" +
         std::to_string(getpid());
}

void Configure(vexorin::VexorinComponent& c, const Size& s) {
  platform::unique_bstr text(platform::MakeBstr(s.number));
  c.put_Number(text.get());
  c.put_Height(s.height);
}

std::vector<BYTE> Canvas(vexorin::VexorinComponent& c) {
  LONG width = 0;
  c.GetWidth(&width);
  std::vector<BYTE> canvas(static_cast<std::size_t>(width) * static_cast<std::size_t>(c.State().Height));
  c.RenderImage(canvas.data());
  return canvas;
}

// libjpeg alone with the component's settings: gray expanded to RGB, defaults, quality 100.
void Encode(const BYTE* canvas, LONG width, LONG height, FILE* file, unsigned char** mem,
            unsigned long* memSize) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  if (file != nullptr) {
    jpeg_stdio_dest(&cinfo, file);
  } else {
    jpeg_mem_dest(&cinfo, mem, memSize);
  }
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 100, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  std::vector<JSAMPLE> rgb(pixels * 3);
  for (std::size_t i = 0; i < pixels; ++i) rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = canvas[i];
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = rgb.data() + static_cast<std::size_t>(cinfo.next_scanline) * static_cast<std::size_t>(width) * 3;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
}

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
  LONG width = 0;
  c.GetWidth(&width);
  std::vector<BYTE> canvas(static_cast<std::size_t>(width) * static_cast<std::size_t>(c.State().Height));
  for (auto _ : state) {
    c.RenderImage(canvas.data());
    benchmark::DoNotOptimize(canvas.data());
  }
}

void BM_FloorEncodeMemory(benchmark::State& state) {
  vexorin::VexorinComponent c;
  Configure(c, kSizes[state.range(0)]);
  LONG width = 0;
  c.GetWidth(&width);
  const std::vector<BYTE> canvas = Canvas(c);
  for (auto _ : state) EncodeToMemory(canvas.data(), width, c.State().Height);
}

void BM_RenderAndEncodeMemory(benchmark::State& state) {
  vexorin::VexorinComponent c;
  Configure(c, kSizes[state.range(0)]);
  LONG width = 0;
  c.GetWidth(&width);
  for (auto _ : state) {
    std::vector<BYTE> canvas(static_cast<std::size_t>(width) * static_cast<std::size_t>(c.State().Height));
    c.RenderImage(canvas.data());
    EncodeToMemory(canvas.data(), width, c.State().Height);
  }
}

void BM_FloorEncodeFile(benchmark::State& state) {
  vexorin::VexorinComponent c;
  Configure(c, kSizes[state.range(0)]);
  LONG width = 0;
  c.GetWidth(&width);
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
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    // With repetitions the median stands for the benchmark; a single run stands for itself.
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration && times_.count(r.run_name.str()) == 0) {
        times_[r.run_name.str()] = r.GetAdjustedRealTime();
      } else if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") {
        times_[r.run_name.str()] = r.GetAdjustedRealTime();
      }
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const char* sizes[] = {"120x30", "900x200"};
    std::printf("\n%-10s %-28s %12s %10s\n", "size", "measure", "us/picture", "ratio");
    for (int s = 0; s < 2; ++s) {
      const std::string arg = "/" + std::to_string(s);
      auto t = [&](const char* n) { return times_[std::string(n) + arg]; };
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

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
