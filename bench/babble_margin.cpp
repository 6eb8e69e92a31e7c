// What the babble costs a listener: each spoken digit's power against the babble's over the same
// stretch, at every Noise level above 0, over repeatable six-digit numbers. The voice alone is the
// same key at Noise 0 (its draws come before the babble's), and the babble is what the noisy sound
// holds beyond that voice, at the scale the final level put on both.
//   babble_margin [numbers per level = 200] [digits = 6]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "component/audio/audio.h"
#include "cli/seeded_for_tests/seeded_random.h"

namespace {

struct Span {
  std::size_t from, to;
};

// The digits' stretches in the voice alone: the pauses between digits are 250 ms or more of exact
// silence, while a closure inside a word ("six", "eight") lasts well under 150 ms.
std::vector<Span> Digits(const std::vector<std::int16_t>& voice) {
  constexpr std::size_t kPause = 2400;  // 150 ms at 16 kHz
  std::vector<Span> spans;
  std::size_t quiet = kPause;
  for (std::size_t i = 0; i < voice.size(); ++i) {
    if (voice[i] == 0) {
      ++quiet;
      continue;
    }
    if (quiet >= kPause) spans.push_back({i, i + 1});
    spans.back().to = i + 1;
    quiet = 0;
  }
  return spans;
}

}  // namespace

int main(int argc, char** argv) {
  const int numbers = argc > 1 ? std::atoi(argv[1]) : 200;
  const int count = argc > 2 ? std::atoi(argv[2]) : 6;
  std::printf("each digit's power against the babble's over its own stretch, %d numbers of %d digits per level\n",
              numbers, count);
  std::printf("%-6s %-8s %12s %12s %14s %10s %10s\n", "Noise", "SNR dB", "digits <0 dB", "digits <3 dB",
              "numbers, a <0", "lowest dB", "median dB");
  for (LONG level = 1; level <= vexorin::kMaxAudioNoise; ++level) {
    std::vector<double> margins;
    int spoiled = 0, unsplit = 0;
    for (int i = 0; i < numbers; ++i) {
      vexorin::SeededRandomSource source(static_cast<std::uint64_t>(level) * 100000 + static_cast<std::uint64_t>(i));
      vexorin::ScopedRandomSource installed(source);
      std::uint32_t modulus = 1, value = 0;
      for (int k = 0; k < count; ++k) modulus *= 10;
      platform::SecureRandomBelow(modulus, value);
      char number[16];
      std::snprintf(number, sizeof number, "%0*u", count, value);
      vexorin::AudioKey key{};
      platform::SecureRandomBytes(key.data(), key.size());
      const std::vector<std::int16_t> voice = vexorin::SpeakDigits(number, 0, key);
      const std::vector<std::int16_t> mix = vexorin::SpeakDigits(number, level, key);
      const std::vector<Span> spans = Digits(voice);
      if (mix.size() != voice.size() || spans.size() != static_cast<std::size_t>(count)) {
        ++unsplit;
        continue;
      }
      // The scale the peak limit put on voice and babble alike: the babble is uncorrelated with the voice.
      double cross = 0, own = 0;
      for (std::size_t k = 0; k < voice.size(); ++k) {
        cross += static_cast<double>(mix[k]) * voice[k];
        own += static_cast<double>(voice[k]) * voice[k];
      }
      const double scale = cross / own;
      bool below = false;
      for (const Span& s : spans) {
        double v = 0, b = 0;
        for (std::size_t k = s.from; k < s.to; ++k) {
          const double said = scale * voice[k];
          v += said * said;
          b += (mix[k] - said) * (mix[k] - said);
        }
        const double margin = 10 * std::log10(v / b);
        margins.push_back(margin);
        below = below || margin < 0;
      }
      spoiled += below ? 1 : 0;
    }
    std::sort(margins.begin(), margins.end());
    const auto share = [&](double limit) {
      return 100.0 * static_cast<double>(std::lower_bound(margins.begin(), margins.end(), limit) - margins.begin()) /
             static_cast<double>(margins.size());
    };
    std::printf("%-6ld %-8.0f %11.1f%% %11.1f%% %13.1f%% %10.1f %10.1f", static_cast<long>(level),
                vexorin::AudioSnrDb(level), share(0), share(3), 100.0 * spoiled / (numbers - unsplit), margins.front(),
                margins[margins.size() / 2]);
    if (unsplit > 0) std::printf("  (%d sounds not split into digits, left out)", unsplit);
    std::printf("\n");
    std::fflush(stdout);
  }
  return 0;
}
