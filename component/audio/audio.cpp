#include "component/audio/audio.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "component/shared/byte_array.h"
#include "component/shared/guarded.h"
#include "component/shared/trig.h"
#include "component/audio/voice.h"
#include "platform/output_file.h"
#include "platform/owner.h"
#include "platform/random_source.h"
#include "platform/text.h"

namespace vexorin {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRate = kVoiceSampleRate;
constexpr int kBabbleStreams = 4;

double DbToGain(double db) { return Exp(db * (2.302585092994045684 / 20.0)); }

// A clip placed into a buffer at `at` (which may start before the buffer or run past its end).
void AddInto(std::vector<double>& buffer, const std::vector<double>& clip, long long at, double gain,
             bool reversed) {
  const long long size = static_cast<long long>(buffer.size());
  const long long n = static_cast<long long>(clip.size());
  for (long long i = 0; i < n; ++i) {
    const long long to = at + i;
    if (to < 0) continue;
    if (to >= size) break;
    buffer[static_cast<std::size_t>(to)] += gain * clip[static_cast<std::size_t>(reversed ? n - 1 - i : i)];
  }
}

long long Samples(double seconds) { return static_cast<long long>(std::floor(seconds * kRate)); }

}  // namespace

double AudioSnrDb(LONG noise) {
  // Noise 1 to 4: the babble 15, 10, 5 and 0 dB below the voice.
  return 20.0 - 5.0 * static_cast<double>(noise);
}

AudioRandom::AudioRandom(const AudioKey& key) noexcept : stream_(key.data()) {}

std::uint64_t AudioRandom::Next() noexcept {
  const std::uint64_t low = stream_.Next();
  return low | static_cast<std::uint64_t>(stream_.Next()) << 32;
}

double AudioRandom::Uniform(double lo, double hi) noexcept {
  const double unit = static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0);
  return lo + (hi - lo) * unit;
}

std::size_t AudioRandom::Below(std::size_t bound) noexcept {
  return static_cast<std::size_t>(Next() % static_cast<std::uint64_t>(bound));  // a bias below 2^-59
}

std::vector<double> Resample(const std::int16_t* samples, std::size_t count, double factor) {
  std::vector<double> out;
  if (count == 0) return out;
  const std::size_t length = static_cast<std::size_t>(std::floor(static_cast<double>(count - 1) / factor)) + 1;
  out.resize(length);
  // The kernel: sin(pi c t) / (pi t) under a Hann window of half-width w input samples, with the
  // cutoff c below the output's Nyquist frequency when the factor shortens the clip.
  const double cutoff = factor > 1.0 ? 1.0 / factor : 1.0;
  const double w = 8.0 / cutoff;
  const int reach = static_cast<int>(std::floor(w)) + 1;
  const std::size_t taps = static_cast<std::size_t>(2 * reach);  // i0 - reach + 1 .. i0 + reach
  auto at = [reach](int m) { return static_cast<std::size_t>(m + reach); };  // m in -reach..reach
  // sin/cos(pi c m) and sin/cos(pi m / w) for m in -reach..reach: the sums of angles give the
  // kernel at any fraction from two SinCos.
  const std::size_t span = at(reach) + 1;
  std::vector<double> sinC(span), cosC(span), sinW(span), cosW(span);
  for (int m = -reach; m <= reach; ++m) {
    SinCos(kPi * cutoff * m, sinC[at(m)], cosC[at(m)]);
    SinCos(kPi * m / w, sinW[at(m)], cosW[at(m)]);
  }
  // The kernel tabulated at kPhases + 1 fractions (the sine costs too much per sample: it was
  // nine tenths of a call), each row scaled to unity gain at DC.
  constexpr std::size_t kPhases = 512;
  std::vector<double> table((kPhases + 1) * taps, 0.0);
  for (std::size_t p = 0; p <= kPhases; ++p) {
    const double frac = static_cast<double>(p) / static_cast<double>(kPhases);
    double sa = 0, ca = 0, sb = 0, cb = 0;
    SinCos(kPi * cutoff * frac, sa, ca);
    SinCos(kPi * frac / w, sb, cb);
    double* row = &table[p * taps];
    double weights = 0.0;
    for (int m = -reach + 1; m <= reach; ++m) {
      const double t = frac - m;  // the distance from input sample i0 + m
      if (t <= -w || t >= w) continue;
      // sin(pi c (frac - m)) and cos(pi (frac - m) / w) from the tables.
      const double sine = sa * cosC[at(m)] - ca * sinC[at(m)];
      const double window = 0.5 * (1.0 + (cb * cosW[at(m)] + sb * sinW[at(m)]));
      const double h = (t == 0.0 ? cutoff : sine / (kPi * t)) * window;
      row[at(m) - 1] = h;
      weights += h;
    }
    for (std::size_t k = 0; k < taps; ++k) row[k] /= weights;
  }
  const long long last = static_cast<long long>(count) - 1;
  for (std::size_t j = 0; j < length; ++j) {
    const double x = static_cast<double>(j) * factor;
    const double base = std::floor(x);
    const long long i0 = static_cast<long long>(base);
    const auto p = static_cast<std::size_t>(std::floor((x - base) * static_cast<double>(kPhases) + 0.5));
    const double* row = &table[p * taps];
    double sum = 0.0;
    const long long from = i0 - reach + 1;
    const auto wide = static_cast<long long>(taps);
    if (from >= 0 && from + wide - 1 <= last) {
      const std::int16_t* in = samples + from;
      for (std::size_t k = 0; k < taps; ++k) sum += row[k] * in[k];
    } else {
      for (long long k = 0; k < wide; ++k) {
        const long long i = from + k;
        if (i >= 0 && i <= last) sum += row[static_cast<std::size_t>(k)] * samples[i];
      }
    }
    out[j] = sum;
  }
  return out;
}

std::vector<std::int16_t> SpeakDigits(const std::string& digits, LONG noise, const AudioKey& key) {
  AudioRandom random(key);
  struct Placed {
    std::vector<double> samples;
    long long at;
    double gain;
  };
  std::vector<Placed> voice;
  long long at = Samples(random.Uniform(0.15, 0.30));  // lead-in
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const VoiceClip& clip = kVoiceClips[digits[i] - '0'];
    // Tempo and pitch together, 8 to 15 % faster or slower; the gain 0 to 6 dB down.
    const double change = random.Uniform(0.08, 0.15);
    const double factor = random.Below(2) == 0 ? 1.0 + change : 1.0 - change;
    const double gain = DbToGain(random.Uniform(-6.0, 0.0));
    Placed placed{Resample(clip.samples, clip.count, factor), at, gain};
    at += static_cast<long long>(placed.samples.size());
    voice.push_back(std::move(placed));
    if (i + 1 < digits.size()) at += Samples(random.Uniform(0.25, 0.60));
  }
  at += Samples(random.Uniform(0.15, 0.30));  // tail
  const std::size_t total = static_cast<std::size_t>(at);

  std::vector<double> mix(total, 0.0);
  double voicePower = 0.0;
  long long voiced = 0;
  for (const Placed& p : voice) {
    AddInto(mix, p.samples, p.at, p.gain, false);
    for (double s : p.samples) voicePower += (p.gain * s) * (p.gain * s);
    voiced += static_cast<long long>(p.samples.size());
  }
  if (voiced > 0) voicePower /= static_cast<double>(voiced);

  if (noise > 0) {
    // Babble: streams of reversed clips of the same voice, each jittered in tempo, pitch and gain,
    // overlapping and running through the gaps, so no silence marks where a digit starts.
    std::vector<double> babble(total, 0.0);
    for (int stream = 0; stream < kBabbleStreams; ++stream) {
      long long from = -Samples(random.Uniform(0.0, 0.5));
      while (from < at) {
        const VoiceClip& clip = kVoiceClips[random.Below(10)];
        const double factor = random.Uniform(0.85, 1.15);
        const double gain = DbToGain(random.Uniform(-6.0, 0.0));
        const std::vector<double> jittered = Resample(clip.samples, clip.count, factor);
        AddInto(babble, jittered, from, gain, true);
        from += static_cast<long long>(jittered.size()) + Samples(random.Uniform(0.0, 0.12));
      }
    }
    double babblePower = 0.0;
    for (double s : babble) babblePower += s * s;
    babblePower /= static_cast<double>(total);
    if (babblePower > 0.0) {
      // The voice's power over its own stretch, the babble's over the whole: the level's SNR.
      const double scale = std::sqrt(voicePower / babblePower) * DbToGain(-AudioSnrDb(noise));
      for (std::size_t i = 0; i < total; ++i) mix[i] += scale * babble[i];
    }
  }

  double peak = 0.0;
  for (double s : mix) peak = std::fabs(s) > peak ? std::fabs(s) : peak;
  const double limit = 32000.0;  // the sum of voice and babble may pass full scale: all of it comes down
  const double level = peak > limit ? limit / peak : 1.0;
  std::vector<std::int16_t> samples(total);
  for (std::size_t i = 0; i < total; ++i) samples[i] = static_cast<std::int16_t>(std::floor(mix[i] * level + 0.5));
  return samples;
}

std::vector<unsigned char> WavFile(const std::vector<std::int16_t>& samples) {
  const std::uint32_t dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
  std::vector<unsigned char> wav(kWavHeaderSize + dataBytes);
  unsigned char* p = wav.data();
  auto text = [&](const char* four) {
    std::memcpy(p, four, 4);
    p += 4;
  };
  auto u32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) *p++ = static_cast<unsigned char>(v >> (8 * i));
  };
  auto u16 = [&](std::uint16_t v) {
    *p++ = static_cast<unsigned char>(v);
    *p++ = static_cast<unsigned char>(v >> 8);
  };
  text("RIFF");
  u32(36 + dataBytes);
  text("WAVE");
  text("fmt ");
  u32(16);
  u16(1);  // PCM
  u16(1);  // mono
  u32(kVoiceSampleRate);
  u32(kVoiceSampleRate * 2);  // bytes per second
  u16(2);                     // bytes per frame
  u16(16);                    // bits per sample
  text("data");
  u32(dataBytes);
  for (std::int16_t s : samples) u16(static_cast<std::uint16_t>(s));
  return wav;
}

HRESULT AudioComponent::get_Number(BSTR* pVal) {
  return Guarded([&] {
    if (pVal == nullptr) return E_POINTER;
    *pVal = nullptr;  // null on failure, never read
    *pVal = platform::MakeBstr(digits_.c_str());
    return S_OK;
  });
}

HRESULT AudioComponent::put_Number(BSTR newVal) {
  return Guarded([&] {
    const UINT length = SysStringLen(newVal);
    if (length < 1 || length > kMaxAudioDigits) return E_INVALIDARG;
    std::string digits;
    for (UINT i = 0; i < length; ++i) {
      if (newVal[i] < u'0' || newVal[i] > u'9') return E_INVALIDARG;
      digits += static_cast<char>(newVal[i]);
    }
    digits_ = std::move(digits);
    return S_OK;
  });
}

HRESULT AudioComponent::get_Noise(LONG* pVal) {
  if (pVal == nullptr) return E_POINTER;
  *pVal = noise_;
  return S_OK;
}

HRESULT AudioComponent::put_Noise(LONG newVal) {
  if (newVal < 0 || newVal > kMaxAudioNoise) return E_INVALIDARG;
  noise_ = newVal;
  return S_OK;
}

HRESULT AudioComponent::MakeWav(std::vector<unsigned char>& wav) {
  if (digits_.empty()) return E_FAIL;
  AudioKey key{};
  const HRESULT hr = platform::SecureRandomBytes(key.data(), key.size());
  if (FAILED(hr)) return hr;
  wav = WavFile(SpeakDigits(digits_, noise_, key));
  return S_OK;
}

HRESULT AudioComponent::GetAudio(VARIANT* retVal) {
  return Guarded([&] {
    if (retVal == nullptr) return E_POINTER;
    VariantInit(retVal);  // an [out] VARIANT: written, never read or cleared
    std::vector<unsigned char> wav;
    const HRESULT hr = MakeWav(wav);
    if (FAILED(hr)) return hr;
    return MakeByteArrayVariant(wav.data(), wav.size(), retVal);
  });
}

HRESULT AudioComponent::SaveToFile(BSTR filePath) {
  return Guarded([&] {
    const HRESULT named = platform::CheckOutputName(filePath, SysStringLen(filePath));
    if (FAILED(named)) return named;
    // Made before the file is touched: a failure leaves an existing file as it was.
    std::vector<unsigned char> wav;
    const HRESULT hr = MakeWav(wav);
    if (FAILED(hr)) return hr;
    return platform::WriteNewFile(filePath, wav.data(), wav.size());
  });
}

}  // namespace vexorin
