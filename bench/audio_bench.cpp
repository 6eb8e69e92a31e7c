// GetAudio's cost for a 6-digit number, clean and at the default babble, against a floor measured
// in the same run: the same digits' clips pasted one after another into a WAV in a byte array, with
// no resampling, gain or babble (the least any spoken number costs).
#include <cstring>
#include <vector>

#include "bench/bench_support.h"
#include "component/audio/audio.h"
#include "component/audio/voice.h"
#include "platform/owner.h"

namespace {

constexpr const char* kNumber = "480613";

void IntoArray(const std::vector<unsigned char>& wav) {
  SAFEARRAYBOUND bound;
  bound.cElements = static_cast<ULONG>(wav.size());
  bound.lLbound = 0;
  platform::unique_safearray array(SafeArrayCreate(VT_UI1, 1, &bound));
  const platform::safearray_access<BYTE> access(array.get());
  std::memcpy(access.data(), wav.data(), wav.size());
  benchmark::DoNotOptimize(access.data());
}

void BM_FloorPasteClips(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<std::int16_t> samples;
    for (const char* d = kNumber; *d != '\0'; ++d) {
      const auto& clip = vexorin::kVoiceClips[*d - '0'];
      samples.insert(samples.end(), clip.samples, clip.samples + clip.count);
      samples.resize(samples.size() + 6800, 0);  // a 425 ms gap, the middle of the range
    }
    IntoArray(vexorin::WavFile(samples));
  }
}

void BM_GetAudio(benchmark::State& state) {
  vexorin::AudioComponent audio;
  platform::unique_bstr number(platform::MakeBstr(kNumber));
  audio.put_Number(number.get());
  audio.put_Noise(static_cast<LONG>(state.range(0)));
  for (auto _ : state) {
    platform::unique_variant sound;
    if (FAILED(audio.GetAudio(sound.put()))) state.SkipWithError("GetAudio failed");
  }
}

BENCHMARK(BM_FloorPasteClips)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetAudio)->Arg(0)->Arg(vexorin::kDefaultAudioNoise)->Unit(benchmark::kMillisecond);

class RatioReporter : public bench_support::TimesReporter {
 public:
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double floor = Time("BM_FloorPasteClips");
    std::printf("\n%-26s %10s %10s\n", "6 digits", "ms", "ratio");
    std::printf("%-26s %10.3f %10.3f\n", "floor: clips pasted", floor, 1.0);
    for (LONG noise : {LONG{0}, vexorin::kDefaultAudioNoise}) {
      const double t = Time("BM_GetAudio/" + std::to_string(noise));
      std::printf("GetAudio, Noise %-10ld %10.3f %10.3f\n", static_cast<long>(noise), t, t / floor);
    }
  }
};

}  // namespace

int main(int argc, char** argv) { return bench_support::RunWith<RatioReporter>(argc, argv); }
