// Reading a file byte by byte through XFileInStream (8192-byte buffer) against fread of the whole
// file into memory, in the same run, for 4 KiB and 1 MiB.
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "support/file_stream.h"

namespace {

std::string MakeFile(std::size_t size) {
  const std::string path = bench_support::TempDir() + "/vexorin-stream-bench-" +
                           std::to_string(getpid()) + "-" + std::to_string(size);
  FILE* f = std::fopen(path.c_str(), "wb");
  for (std::size_t i = 0; i < size; ++i) std::fputc(static_cast<int>((i * 131) & 0xFF), f);
  std::fclose(f);
  return path;
}

struct Files {
  Files() : small(MakeFile(4096)), large(MakeFile(1 << 20)) {}
  ~Files() {
    std::remove(small.c_str());
    std::remove(large.c_str());
  }
  const std::string& For(std::int64_t size) const { return size == 4096 ? small : large; }
  std::string small, large;
};
Files& TheFiles() {
  static Files files;
  return files;
}

void BM_FloorFread(benchmark::State& state) {
  const std::string& path = TheFiles().For(state.range(0));
  std::vector<unsigned char> data(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    FILE* f = std::fopen(path.c_str(), "rb");
    const std::size_t n = std::fread(data.data(), 1, data.size(), f);
    std::fclose(f);
    unsigned sum = 0;
    for (std::size_t i = 0; i < n; ++i) sum += data[i];  // touch each byte, as the stream's user does
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_StreamByteByByte(benchmark::State& state) {
  const std::string& path = TheFiles().For(state.range(0));
  for (auto _ : state) {
    support::XFileInStream in(path.c_str(), 8192);
    unsigned sum = 0;
    std::uint8_t b = 0;
    while (in.ReadByte(b).good()) sum += b;
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_FloorFread)->Arg(4096)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StreamByteByByte)->Arg(4096)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

class RatioReporter : public bench_support::TimesReporter {
 public:
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-8s %14s %14s %14s %8s\n", "file", "fread us", "stream us", "stream ns/B", "ratio");
    for (const char* size : {"4096", "1048576"}) {
      const double floor = Time(std::string("BM_FloorFread/") + size);
      const double stream = Time(std::string("BM_StreamByteByByte/") + size);
      std::printf("%-8s %14.2f %14.2f %14.3f %8.2f\n", size, floor, stream,
                  stream * 1000.0 / std::stod(size), stream / floor);
    }
  }
};

}  // namespace

int main(int argc, char** argv) { return bench_support::RunWith<RatioReporter>(argc, argv); }
