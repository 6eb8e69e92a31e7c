// The spoken alternative: the digits of a number read out as a WAV file, each call assembled afresh
// from the built-in voice with random gaps, tempo, pitch and gain, and at Noise above 0 a babble of
// the voice's own clips behind it. A plain object whose methods return HRESULTs and never throw.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "component/audio/chacha20.h"
#include "platform/platform.h"

namespace vexorin {

constexpr std::size_t kMaxAudioDigits = 9;  // Number: 1 to 9 digits
constexpr LONG kMaxAudioNoise = 4;      // Noise 0 (clean) to 4
constexpr LONG kDefaultAudioNoise = 2;  // every measured digit above the babble; louder babble costs listeners, not trained readers
constexpr std::size_t kWavHeaderSize = 44;

// The babble's level against the voice, in dB, at each Noise above 0.
double AudioSnrDb(LONG noise);

// The generator behind one call's draws: a ChaCha20 stream keyed with 256 bits from the system's
// generator, so that what a sound shows of some draws tells nothing of the others, and each call is
// independent; a test's stand-in for that source makes it repeatable.
constexpr std::size_t kAudioKeyBytes = 32;
using AudioKey = std::array<unsigned char, kAudioKeyBytes>;

class AudioRandom {
 public:
  explicit AudioRandom(const AudioKey& key) noexcept;
  std::uint64_t Next() noexcept;
  double Uniform(double lo, double hi) noexcept;  // in [lo, hi)
  std::size_t Below(std::size_t bound) noexcept;  // in 0..bound-1, bound >= 1

 private:
  vexorin::ChaCha20Stream stream_;
};

// `digits` ('0'..'9', at least one) spoken at kVoiceSampleRate, mono. `noise` 0..kMaxAudioNoise.
// Plain double arithmetic with the renderer's own sine: the same key gives the same samples on
// every build. Throws std::bad_alloc when memory runs out.
std::vector<std::int16_t> SpeakDigits(const std::string& digits, LONG noise, const AudioKey& key);

// The canonical 44-byte RIFF/WAVE header and the samples, 16-bit little-endian PCM, mono.
std::vector<unsigned char> WavFile(const std::vector<std::int16_t>& samples);

// Resamples by `factor` (above 1: shorter and higher) with a windowed-sinc low-pass whose cutoff
// follows the factor, so nothing folds back. Exposed for the tests and the attacker benchmark.
std::vector<double> Resample(const std::int16_t* samples, std::size_t count, double factor);

class AudioComponent {
 public:
  AudioComponent() = default;
  AudioComponent(const AudioComponent&) = delete;
  AudioComponent& operator=(const AudioComponent&) = delete;

  HRESULT get_Number(BSTR* pVal);
  // 1 to 9 of '0'..'9' and nothing else; E_INVALIDARG otherwise, the state unchanged.
  HRESULT put_Number(BSTR newVal);
  HRESULT get_Noise(LONG* pVal);
  // 0..kMaxAudioNoise; E_INVALIDARG otherwise, the state unchanged.
  HRESULT put_Noise(LONG newVal);
  HRESULT GetAudio(VARIANT* retVal);
  HRESULT SaveToFile(BSTR filePath);

  // The WAV bytes of the current state, with one key drawn from the system's generator: E_FAIL
  // while no number is set, the generator's failure when it fails.
  HRESULT MakeWav(std::vector<unsigned char>& wav);

  const std::string& Digits() const noexcept { return digits_; }

 private:
  std::string digits_;  // empty until a number is set
  LONG noise_ = kDefaultAudioNoise;
};

}  // namespace vexorin
