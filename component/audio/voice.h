// The digits the audio speaks: ten clips, "zero" to "nine", built into every binary as data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexorin {

constexpr unsigned kVoiceSampleRate = 16000;  // mono, 16-bit

struct VoiceClip {
  const std::int16_t* samples;
  std::size_t count;
};

// Indexed by the digit (component/audio/voice/voice_clips.cpp, made by scripts/make-voice.sh).
extern const VoiceClip kVoiceClips[10];

}  // namespace vexorin
