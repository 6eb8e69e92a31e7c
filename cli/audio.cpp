// --audio: the number from -n, or -d random digits (6 by default) from the generator (the stand-in
// with --seed), then GetAudio (-o -) or SaveToFile.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/output.h"
#include "cli/runs.h"
#include "component/audio/audio.h"
#include "component/picture/component.h"
#include "platform/text.h"

namespace cli {

int SpeakNumber(const Options& o) {
  std::string digits;
  if (o.number != nullptr) {
    digits = o.number;
  } else {
    const long count = o.digits != 0 ? o.digits : 6;
    std::uint32_t value = 0;
    const HRESULT hr = vexorin::DrawDigits(static_cast<LONG>(count), value);
    if (FAILED(hr)) return Failed("drawing the number", hr);
    char text[16];
    std::snprintf(text, sizeof text, "%0*lu", static_cast<int>(count), static_cast<unsigned long>(value));
    digits = text;
  }
  vexorin::AudioComponent audio;
  platform::unique_bstr text(platform::MakeBstrNothrow(digits.c_str()));
  if (text.get() == nullptr && !digits.empty()) return Failed("converting the number", E_OUTOFMEMORY);
  HRESULT hr = audio.put_Number(text.get());
  if (FAILED(hr)) {
    return Failed("setting the number '" + digits + "'", hr, "the sound speaks 1 to " + std::to_string(vexorin::kMaxAudioDigits) + " digits and nothing else");
  }
  if (o.hasNoiseLevel) audio.put_Noise(static_cast<LONG>(o.noiseLevel));

  const bool toStdout = std::strcmp(o.output, "-") == 0;
  if (toStdout) {
    platform::unique_variant sound;
    hr = audio.GetAudio(sound.put());
    if (FAILED(hr)) return Failed("GetAudio", hr);
    const platform::safearray_access<const BYTE> bytes(sound.get().parray);
    if (FAILED(bytes.result())) return Failed("reading the audio", bytes.result());
    if (!WriteBytes(bytes.data(), bytes.size())) return Complain("cannot write the audio to standard output");
  } else {
    platform::unique_bstr path;
    if (!OutputPath(o.output, path)) return 1;
    hr = audio.SaveToFile(path.get());
    if (FAILED(hr)) return Failed(std::string("writing '") + o.output + "'", hr, WhyNotWritten(hr, path.get()));
  }
  return PrintNumber(digits, toStdout);
}

}  // namespace cli
