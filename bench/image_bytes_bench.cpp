// GetImage against its floor in the same run: libjpeg alone encoding the same canvas to a new
// temporary file, reading it back with read() and removing it. Also the array fill: element by
// element (as GetImage does) against one block copy.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
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

void Configure(vexorin::VexorinComponent& c, const Size& s) {
  platform::unique_bstr text(platform::MakeBstr(s.number));
  c.put_Number(text.get());
  c.put_Height(s.height);
}

std::string TempDir() {
  const char* dir = std::getenv("TMPDIR");
  return dir != nullptr && *dir ? dir : "/tmp";
}

void EncodeToFile(const BYTE* canvas, LONG width, LONG height, FILE* file) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
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

void BM_FloorEncodeReadRemove(benchmark::State& state) {
  vexorin::VexorinComponent c;
  Configure(c, kSizes[state.range(0)]);
  LONG width = 0;
  c.GetWidth(&width);
  std::vector<BYTE> canvas(static_cast<std::size_t>(width) * static_cast<std::size_t>(c.State().Height));
  c.RenderImage(canvas.data());
  const std::string pattern = TempDir() + "/vexorin-floor-XXXXXX";
  std::vector<BYTE> back(canvas.size() * 3 + 4096);
  for (auto _ : state) {
    std::string name = pattern;
    const int fd = mkstemp(&name[0]);
    FILE* f = fdopen(fd, "wb");
    EncodeToFile(canvas.data(), width, c.State().Height, f);
    std::fclose(f);
    const int in = open(name.c_str(), O_RDONLY);
    const ssize_t n = read(in, back.data(), back.size());
    close(in);
    std::remove(name.c_str());
    benchmark::DoNotOptimize(n);
  }
}

void BM_RenderImage(benchmark::State& state) {
  vexorin::VexorinComponent c;
  Configure(c, kSizes[state.range(0)]);
  LONG width = 0;
  c.GetWidth(&width);
  std::vector<BYTE> canvas(static_cast<std::size_t>(width) * static_cast<std::size_t>(c.State().Height));
  for (auto _ : state) c.RenderImage(canvas.data());
}

void BM_GetImage(benchmark::State& state) {
  vexorin::VexorinComponent c;
  Configure(c, kSizes[state.range(0)]);
  VARIANT v;
  VariantInit(&v);
  for (auto _ : state) {
    if (FAILED(c.GetImage(&v))) state.SkipWithError("GetImage failed");
  }
  VariantClear(&v);
}

std::vector<BYTE> JpegBytes(int size) {
  vexorin::VexorinComponent c;
  Configure(c, kSizes[size]);
  VARIANT v;
  VariantInit(&v);
  c.GetImage(&v);
  std::vector<BYTE> out(static_cast<const BYTE*>(v.parray->pvData),
                        static_cast<const BYTE*>(v.parray->pvData) + v.parray->rgsabound[0].cElements);
  VariantClear(&v);
  return out;
}

void BM_ArrayElementByElement(benchmark::State& state) {
  std::vector<BYTE> bytes = JpegBytes(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(bytes.size()), 0};
    SAFEARRAY* a = SafeArrayCreate(VT_UI1, 1, &bound);
    for (LONG i = 0; i < static_cast<LONG>(bytes.size()); ++i) SafeArrayPutElement(a, &i, &bytes[static_cast<std::size_t>(i)]);
    SafeArrayDestroy(a);
  }
}

void BM_ArrayOneBlock(benchmark::State& state) {
  std::vector<BYTE> bytes = JpegBytes(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(bytes.size()), 0};
    SAFEARRAY* a = SafeArrayCreate(VT_UI1, 1, &bound);
    void* data = nullptr;
    SafeArrayAccessData(a, &data);
    std::memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(a);
    SafeArrayDestroy(a);
  }
}

BENCHMARK(BM_FloorEncodeReadRemove)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderImage)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetImage)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ArrayElementByElement)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ArrayOneBlock)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if ((r.run_type == Run::RT_Iteration && times_.count(r.run_name.str()) == 0) ||
          (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")) {
        times_[r.run_name.str()] = r.GetAdjustedRealTime();
      }
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const char* sizes[] = {"120x30", "900x200"};
    std::printf("\n%-8s %12s %12s %12s %10s %14s %14s\n", "size", "floor us", "GetImage us", "render us",
                "ratio", "per-elem us", "one-block us");
    for (int s = 0; s < 2; ++s) {
      const std::string a = "/" + std::to_string(s);
      const double floor = times_["BM_FloorEncodeReadRemove" + a];
      const double get = times_["BM_GetImage" + a];
      std::printf("%-8s %12.1f %12.1f %12.1f %10.3f %14.2f %14.2f\n", sizes[s], floor, get,
                  times_["BM_RenderImage" + a], get / floor, times_["BM_ArrayElementByElement" + a],
                  times_["BM_ArrayOneBlock" + a]);
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
