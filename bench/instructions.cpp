// Runs one operation `count` times, for an instruction count under callgrind (bench/run.sh takes
// the difference between two counts, so start-up drops out).
//   instructions <operation> <size 0|1> <count>
// operations: getimage, floor-memory (libjpeg's colour route to memory), render-encode (the
// component's route to memory).

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "component/picture/jpeg_output.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: instructions <operation> <size 0|1> <count>\n");
    return 2;
  }
  const std::string operation = argv[1];
  const int size = std::atoi(argv[2]) != 0 ? 1 : 0;
  const long count = std::atol(argv[3]);
  vexorin::PictureComponent c;
  bench_support::Configure(c, bench_support::kSizes[size]);
  const LONG width = bench_support::Width(c);
  const LONG height = c.State().Height;
  const auto pictures = bench_support::Pictures(c);
  for (long i = 0; i < count; ++i) {
    const std::vector<BYTE>& canvas = pictures[static_cast<std::size_t>(i) % pictures.size()];
    if (operation == "getimage") {
      VARIANT v;
      VariantInit(&v);
      if (FAILED(c.GetImage(&v))) return 1;
      VariantClear(&v);
    } else if (operation == "floor-memory") {
      unsigned char* mem = nullptr;
      unsigned long n = 0;
      bench_support::Encode(canvas.data(), width, height, nullptr, &mem, &n);
      std::free(mem);
    } else if (operation == "render-encode") {
      vexorin::Canvas drawn;
      vexorin::JpegBytes jpeg;
      if (FAILED(c.Render(drawn)) ||
          FAILED(vexorin::EncodeJpeg(drawn.pixels.get(), drawn.size.width, drawn.size.height, 100, jpeg))) {
        return 1;
      }
    } else {
      std::fprintf(stderr, "instructions: unknown operation '%s'\n", operation.c_str());
      return 2;
    }
  }
  return 0;
}
