// GetImage against its floor in the same run: libjpeg alone encoding the same pictures to memory
// and copying them out once. Also the array fill: element by element against one block copy (as
// GetImage does).
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "tests/shared/safearray_queries.h"

namespace {

using bench_support::Configure;
using bench_support::Encode;
using bench_support::kSizes;

void BM_FloorEncodeToMemory(benchmark::State& state) {
  vexorin::PictureComponent c;
  Configure(c, kSizes[state.range(0)]);
  const LONG width = bench_support::Width(c);
  const auto pictures = bench_support::Pictures(c);
  std::size_t next = 0;
  std::vector<BYTE> back(pictures[0].size() * 3 + 4096);
  for (auto _ : state) {
    unsigned char* mem = nullptr;
    unsigned long n = 0;
    Encode(pictures[next++ % pictures.size()].data(), width, c.State().Height, nullptr, &mem, &n);
    std::memcpy(back.data(), mem, n < back.size() ? n : back.size());
    std::free(mem);
    benchmark::DoNotOptimize(back.data());
  }
}

void BM_RenderImage(benchmark::State& state) {
  vexorin::PictureComponent c;
  Configure(c, kSizes[state.range(0)]);
  std::vector<BYTE> canvas = bench_support::BlankCanvas(c);
  const vexorin::PictureSize size = bench_support::MeasuredSize(c);
  for (auto _ : state) c.RenderImage(canvas.data(), size);
}

void BM_GetImage(benchmark::State& state) {
  vexorin::PictureComponent c;
  Configure(c, kSizes[state.range(0)]);
  VARIANT v;
  VariantInit(&v);
  for (auto _ : state) {
    if (FAILED(c.GetImage(&v))) state.SkipWithError("GetImage failed");
    VariantClear(&v);  // an [out] VARIANT: the caller gives back what it received
  }
  VariantClear(&v);
}

std::vector<BYTE> JpegBytes(int size) {
  vexorin::PictureComponent c;
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

BENCHMARK(BM_FloorEncodeToMemory)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderImage)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetImage)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ArrayElementByElement)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ArrayOneBlock)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

class RatioReporter : public bench_support::TimesReporter {
 public:
  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto& sizes = bench_support::kSizeNames;
    std::printf("\n%-8s %12s %12s %12s %10s %14s %14s\n", "size", "floor us", "GetImage us", "render us",
                "ratio", "per-elem us", "one-block us");
    for (int s = 0; s < 2; ++s) {
      const std::string a = "/" + std::to_string(s);
      const double floor = Time("BM_FloorEncodeToMemory" + a);
      const double get = Time("BM_GetImage" + a);
      std::printf("%-8s %12.1f %12.1f %12.1f %10.3f %14.2f %14.2f\n", sizes[s], floor, get,
                  Time("BM_RenderImage" + a), get / floor, Time("BM_ArrayElementByElement" + a),
                  Time("BM_ArrayOneBlock" + a));
    }
  }
};

}  // namespace

int main(int argc, char** argv) { return bench_support::RunWith<RatioReporter>(argc, argv); }
