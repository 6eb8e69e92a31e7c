// The machine attacker that knows the voice: what someone with our DLL builds in an afternoon. It
// takes the ten clips out of the binary, stretches each over the known tempo range, and slides
// their mel spectrograms along the sound. The sound is modelled as the clip plus the babble under
// it: at each place the clip's gain is fitted in the linear spectrum over the babble's floor (each
// band's median over the sound: the babble runs through the pauses), and a placement scores by how
// much of the sound's log spectrum that model explains beyond the floor alone (the squared errors
// saved). A dynamic programme then picks the digits in order (the digit count is known, and digits
// do not overlap). Reports exact-number and per-digit rates at
// every Noise level over repeatable numbers (a seeded stand-in for the system's generator).
//   speech_attack [numbers per level = 200] [digits = 6] [first level = 0] [last level = 4]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "component/audio/audio.h"
#include "cli/seeded_for_tests/seeded_random.h"
#include "component/audio/voice.h"

namespace {

constexpr int kFrame = 400;  // 25 ms at 16 kHz
constexpr int kHop = 160;    // 10 ms
constexpr int kFft = 512;
constexpr int kBands = 24;
constexpr double kPi = 3.14159265358979323846;

using Features = std::vector<std::vector<double>>;  // frames x bands

void Fft(std::vector<double>& re, std::vector<double>& im) {
  const std::size_t n = re.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) {
      std::swap(re[i], re[j]);
      std::swap(im[i], im[j]);
    }
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const double angle = -2 * kPi / static_cast<double>(len);
    for (std::size_t i = 0; i < n; i += len) {
      for (std::size_t k = 0; k < len / 2; ++k) {
        const double wr = std::cos(angle * static_cast<double>(k)), wi = std::sin(angle * static_cast<double>(k));
        const double xr = re[i + k + len / 2] * wr - im[i + k + len / 2] * wi;
        const double xi = re[i + k + len / 2] * wi + im[i + k + len / 2] * wr;
        re[i + k + len / 2] = re[i + k] - xr;
        im[i + k + len / 2] = im[i + k] - xi;
        re[i + k] += xr;
        im[i + k] += xi;
      }
    }
  }
}

// Energies in kBands mel bands from 100 Hz to 7.6 kHz, one row per 10 ms.
Features Mel(const std::vector<double>& x) {
  static std::vector<std::vector<double>> filters;
  if (filters.empty()) {
    auto mel = [](double hz) { return 2595 * std::log10(1 + hz / 700); };
    auto hz = [](double m) { return 700 * (std::pow(10, m / 2595) - 1); };
    std::vector<double> edges;
    for (int b = 0; b < kBands + 2; ++b) edges.push_back(hz(mel(100) + (mel(7600) - mel(100)) * b / (kBands + 1)));
    for (int b = 0; b < kBands; ++b) {
      std::vector<double> f(kFft / 2 + 1, 0.0);
      for (int k = 0; k <= kFft / 2; ++k) {
        const double freq = 16000.0 * k / kFft;
        if (freq > edges[b] && freq < edges[b + 2]) {
          f[k] = freq < edges[b + 1] ? (freq - edges[b]) / (edges[b + 1] - edges[b])
                                     : (edges[b + 2] - freq) / (edges[b + 2] - edges[b + 1]);
        }
      }
      filters.push_back(f);
    }
  }
  Features out;
  for (std::size_t start = 0; start + kFrame <= x.size(); start += kHop) {
    std::vector<double> re(kFft, 0.0), im(kFft, 0.0);
    for (int i = 0; i < kFrame; ++i) re[i] = x[start + i] * (0.54 - 0.46 * std::cos(2 * kPi * i / (kFrame - 1)));
    Fft(re, im);
    std::vector<double> row(kBands);
    for (int b = 0; b < kBands; ++b) {
      double e = 0;
      for (int k = 0; k <= kFft / 2; ++k) e += filters[b][k] * (re[k] * re[k] + im[k] * im[k]);
      row[b] = e;
    }
    out.push_back(row);
  }
  return out;
}

// Below this an energy is quantisation and rounding, in silence as under the babble.
constexpr double kFloor = 1e3;

struct Template {
  int digit;
  Features features;  // linear mel energies
  double energy;      // the sum of their squares
};

// The attacker's knowledge: each clip at tempo/pitch factors spanning 8-15 % either way.
std::vector<Template> Templates() {
  std::vector<Template> all;
  const double factors[] = {0.85, 0.87, 0.89, 0.91, 0.93, 1.07, 1.09, 1.11, 1.13, 1.15};
  for (int d = 0; d < 10; ++d) {
    for (double f : factors) {
      const auto& clip = vexorin::kVoiceClips[d];
      Template t{d, Mel(vexorin::Resample(clip.samples, clip.count, f)), 0};
      for (const auto& row : t.features) for (double v : row) t.energy += v * v;
      all.push_back(std::move(t));
    }
  }
  return all;
}

// Reads `count` digits: the best-scoring sequence of non-overlapping template placements.
std::string Attack(const std::vector<std::int16_t>& sound, std::size_t count, const std::vector<Template>& templates) {
  const Features x = Mel(std::vector<double>(sound.begin(), sound.end()));
  const int frames = static_cast<int>(x.size());
  // The babble's floor: each band's median over the sound.
  std::vector<double> floor(kBands);
  for (int b = 0; b < kBands; ++b) {
    std::vector<double> band(frames);
    for (int k = 0; k < frames; ++k) band[k] = x[k][b];
    double mean = 0;
    for (double v : band) mean += v / frames;
    std::nth_element(band.begin(), band.begin() + frames / 2, band.end());
    // Over silence the median is nothing: a floor 30 dB under the band's mean keeps the model's
    // range to what a clip's tempo and gain mismatch leave of the fit.
    floor[b] = std::max(band[frames / 2], 1e-3 * mean) + kFloor;
  }
  std::vector<double> logFloor(kBands);
  for (int b = 0; b < kBands; ++b) logFloor[b] = std::log(floor[b]);
  Features logX(frames, std::vector<double>(kBands));
  for (int k = 0; k < frames; ++k) for (int b = 0; b < kBands; ++b) logX[k][b] = std::log(x[k][b] + kFloor);
  struct Hit {
    double score;
    int digit;
    int length;
  };
  // Every template starting at each frame, scored by the squared log-spectral error it saves over the
  // babble's floor alone, the clip taken at its least-squares gain. (A correlation of log spectra,
  // as if the babble were not there, read 4 % of numbers at Noise 3; this reads most of them.)
  std::vector<std::vector<Hit>> hits(frames);
  for (const Template& t : templates) {
    const int len = static_cast<int>(t.features.size());
    for (int s = 0; s + len <= frames; ++s) {
      double above = 0;
      for (int k = 0; k < len; ++k)
        for (int b = 0; b < kBands; ++b) above += (x[s + k][b] + kFloor - floor[b]) * t.features[k][b];
      const double gain = std::max(above / t.energy, 1e-3);
      double gained = 0;
      for (int k = 0; k < len; ++k) {
        for (int b = 0; b < kBands; ++b) {
          const double v = logX[s + k][b];
          const double unexplained = v - logFloor[b];
          const double m = v - std::log(gain * t.features[k][b] + floor[b]);
          gained += unexplained * unexplained - m * m;
        }
      }
      hits[s].push_back({gained, t.digit, len});
    }
  }
  // best[i][e]: the best total of i digits whose last ends at or before frame e.
  const int minGap = 20;  // frames: the gaps are at least 250 ms
  const double none = -1e18;
  std::vector<std::vector<double>> best(count + 1, std::vector<double>(frames + 1, none));
  std::vector<std::vector<std::pair<int, int>>> from(count + 1, std::vector<std::pair<int, int>>(frames + 1, {-1, -1}));
  std::vector<std::vector<int>> prevEnd(count + 1, std::vector<int>(frames + 1, -1));
  for (int e = 0; e <= frames; ++e) best[0][e] = 0;
  for (std::size_t i = 1; i <= count; ++i) {
    for (int s = 0; s < frames; ++s) {
      const int before = i == 1 ? 0 : s - minGap;
      if (before < 0) continue;
      const double base = best[i - 1][before];
      if (base == none) continue;
      for (const Hit& h : hits[s]) {
        const int e = s + h.length;
        if (base + h.score > best[i][e]) {
          best[i][e] = base + h.score;
          from[i][e] = {h.digit, s};
          prevEnd[i][e] = before;
        }
      }
    }
    // "at or before": carry the best forward.
    for (int e = 1; e <= frames; ++e) {
      if (best[i][e - 1] > best[i][e]) {
        best[i][e] = best[i][e - 1];
        from[i][e] = from[i][e - 1];
        prevEnd[i][e] = prevEnd[i][e - 1];
      }
    }
  }
  std::string digits(count, '?');
  int e = frames;
  for (std::size_t i = count; i >= 1 && e >= 0; --i) {
    if (from[i][e].first < 0) break;
    digits[i - 1] = static_cast<char>('0' + from[i][e].first);
    e = prevEnd[i][e];
  }
  return digits;
}

}  // namespace

int main(int argc, char** argv) {
  const int numbers = argc > 1 ? std::atoi(argv[1]) : 200;
  const int count = argc > 2 ? std::atoi(argv[2]) : 6;
  const int first = argc > 3 ? std::atoi(argv[3]) : 0;
  const int last = argc > 4 ? std::atoi(argv[4]) : static_cast<int>(vexorin::kMaxAudioNoise);
  const std::vector<Template> templates = Templates();
  std::printf("template matcher, %d numbers of %d digits per level\n", numbers, count);
  std::printf("%-6s %-8s %8s %10s\n", "Noise", "SNR dB", "exact %", "digits %");
  for (int level = first; level <= last; ++level) {
    int exact = 0, digitsRight = 0;
    for (int i = 0; i < numbers; ++i) {
      // Repeatable: the number and the sound's seed from a stand-in started at (level, i).
      vexorin::SeededRandomSource source(static_cast<std::uint64_t>(level) * 100000 + static_cast<std::uint64_t>(i));
      vexorin::ScopedRandomSource installed(source);
      std::uint32_t modulus = 1;
      for (int k = 0; k < count; ++k) modulus *= 10;
      std::uint32_t value = 0;
      platform::SecureRandomBelow(modulus, value);
      char number[16];
      std::snprintf(number, sizeof number, "%0*u", count, value);
      vexorin::AudioKey key{};
      platform::SecureRandomBytes(key.data(), key.size());
      const std::string heard = Attack(vexorin::SpeakDigits(number, level, key), static_cast<std::size_t>(count), templates);
      exact += heard == number ? 1 : 0;
      for (int k = 0; k < count; ++k) digitsRight += heard[k] == number[k] ? 1 : 0;
    }
    std::printf("%-6d %-8s %8.1f %10.1f\n", level,
                level == 0 ? "clean" : std::to_string(static_cast<int>(vexorin::AudioSnrDb(level))).c_str(),
                100.0 * exact / numbers, 100.0 * digitsRight / (numbers * count));
    std::fflush(stdout);
  }
  return 0;
}
