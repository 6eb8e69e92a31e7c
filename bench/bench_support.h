// What the benchmark programs share: the two picture sizes, libjpeg alone as the floor, a private
// temporary directory, and a reporter that keeps each benchmark's time (the median with repetitions).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include "component/picture/component.h"
#include "tests/shared/reference_jpeg.h"
#include "tests/shared/test_support.h"
#include "platform/text.h"

namespace bench_support {

struct Size {
  const char* number;
  LONG height;
};
// The default picture (120 x 30, 8 digits) and 9 digits at height 200 (900 x 200).
inline const Size kSizes[] = {{"12345678", 30}, {"123456789", 200}};
inline const char* const kSizeNames[] = {"120x30", "900x200"};

inline void Configure(vexorin::PictureComponent& c, const Size& s) {
  platform::unique_bstr text(platform::MakeBstr(s.number));
  c.put_Number(text.get());
  c.put_Height(s.height);
}

inline LONG Width(vexorin::PictureComponent& c) {
  LONG width = 0;
  c.GetWidth(&width);
  return width;
}

inline vexorin::PictureSize MeasuredSize(const vexorin::PictureComponent& c) {
  vexorin::PictureSize size;
  c.MeasurePicture(size);
  return size;
}

// A canvas of the component's size, blank.
inline std::vector<BYTE> BlankCanvas(const vexorin::PictureComponent& c) { return std::vector<BYTE>(MeasuredSize(c).bytes); }

// Pictures of the component's state, each drawn afresh. A floor encodes them in turn: one canvas
// encoded over and over lets the branch predictor learn its entropy coding, which makes that floor
// about a third faster than any real picture, each of which is new.
inline std::vector<std::vector<BYTE>> Pictures(vexorin::PictureComponent& c, int n = 64) {
  std::vector<std::vector<BYTE>> pictures;
  const vexorin::PictureSize size = MeasuredSize(c);
  for (int i = 0; i < n; ++i) {
    pictures.emplace_back(size.bytes);
    c.RenderImage(pictures.back().data(), size);
  }
  return pictures;
}

// A canvas of the component's size with its picture drawn.
inline std::vector<BYTE> Canvas(vexorin::PictureComponent& c) {
  std::vector<BYTE> canvas = BlankCanvas(c);
  c.RenderImage(canvas.data(), MeasuredSize(c));
  return canvas;
}

// The program's private temporary directory (the tests' own kind), removed with its files at exit.
inline std::string TempDir() {
  static const testing_support::TempDir dir;
  return dir.path();
}

// libjpeg alone with the component's settings: gray expanded to RGB, defaults, quality 100; to
// `file`, or to memory when `file` is null.
using reference_jpeg::Encode;

// Keeps each benchmark's time by name; Finalize in the derived class prints the ratios.
class TimesReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    // With repetitions the median stands for the benchmark; a single run stands for itself.
    for (const Run& r : runs) {
      if ((r.run_type == Run::RT_Iteration && times_.count(r.run_name.str()) == 0) ||
          (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")) {
        times_[r.run_name.str()] = r.GetAdjustedRealTime();
      }
    }
  }

 protected:
  double Time(const std::string& name) { return times_[name]; }

 private:
  std::map<std::string, double> times_;
};

template <typename Reporter>
int RunWith(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace bench_support
