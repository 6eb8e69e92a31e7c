// vexorin: draws the picture of a number, or speaks it as a WAV file, from the command line, through
// the components' methods.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "component/audio.h"
#include "component/component.h"
#include "component/guarded.h"
#include "component/seeded_random.h"
#include "component/work/work.h"
#include "platform/errors.h"
#include "platform/text.h"

namespace {

constexpr const char* kUsage =
    "usage: vexorin [-d|--digits N] [-n|--number S] [-H|--height PX] [--noise] [--seed N]\n"
    "               [-f|--format jpeg|pgm] [-o|--output FILE]\n"
    "       vexorin --audio [-d|--digits N] [-n|--number S] [--noise-level L] [--seed N]\n"
    "               [-o|--output FILE]\n"
    "       vexorin --challenge [--cost N] [--max-cost N] [--expires S] [--bind TEXT]\n"
    "               [--client ADDRESS] [--count N] [--secret S]\n"
    "       vexorin --verify PAYLOAD [--cost N] [--expires S] [--bind TEXT] [--secret S]\n"
    "Draws the picture of a number (or with --audio speaks it as a WAV file) and prints the number.\n"
    "  -d, --digits N     draw a random number of N digits (1..9)\n"
    "  -n, --number S     show the number S instead\n"
    "  -H, --height PX    picture height in pixels (at least 20; default 30)\n"
    "      --noise        sprinkle speckle noise\n"
    "      --seed N       repeatable numbers, pictures and audio, for tests and samples only (never\n"
    "                     a page): N (0..4294967295) starts SplitMix64, which stands in for the\n"
    "                     system's generator; each 32-bit draw is the low half of its next output,\n"
    "                     the audio's 256-bit key the next four whole ones\n"
    "  -f, --format F     jpeg (default) or pgm (the raw gray canvas)\n"
    "  -o, --output FILE  where to write the picture (default captcha.jpg); - sends the JPEG\n"
    "                     bytes to standard output and the number to standard error\n"
    "      --audio        speak the number instead (16 kHz mono WAV; default file captcha.wav,\n"
    "                     default 6 random digits)\n"
    "      --noise-level L  the audio's babble: 0 clean to 4 loudest (default 2)\n"
    "      --batch FILE   one run per line of FILE, each line holding the options of a run\n"
    "                     (in one process)\n"
    "      --challenge    print a proof-of-work challenge (JSON) for the widget\n"
    "      --verify P     check the widget's payload P: prints why, exits 0 only when verified\n"
    "      --cost N       PBKDF2 iterations per attempt (100..1000000; default 20000); --verify\n"
    "                     refuses a challenge made cheaper\n"
    "      --max-cost N   the most a client that keeps asking is asked (default 160000)\n"
    "      --client A     the visitor's address: its price rises as it keeps asking\n"
    "      --count N      print N challenges, one a line, in this one process (the price\n"
    "                     is counted per process: a loop of --count shows it rise)\n"
    "      --expires S    seconds the challenge stays valid (10..86400; default 600); --verify\n"
    "                     refuses a challenge made to live longer\n"
    "      --bind TEXT    the session the challenge is bound to (the same for --verify)\n"
    "      --secret S     the HMAC key shared by the two runs (a challenge and its check run in\n"
    "                     different processes); a real secret belongs in the site's\n"
    "                     configuration, never on a command line, where other users see it\n"
    "                     (without it each run draws its own key, and nothing verifies).\n"
    "                     Replays are caught within one process only.\n"
    "  -h, --help         show this help\n";

struct Options {
  long digits = 0;
  const char* number = nullptr;
  bool hasHeight = false;
  long height = 0;
  bool noise = false;
  bool hasSeed = false;
  std::uint32_t seed = 0;
  bool pgm = false;
  bool hasFormat = false;
  const char* output = nullptr;
  bool audio = false;
  bool hasNoiseLevel = false;
  long noiseLevel = 0;
};

int UsageError(const std::string& message) {
  std::fprintf(stderr, "vexorin: %s (try --help)\n", message.c_str());
  return 2;
}

int Failed(const std::string& what, HRESULT hr) {
  std::fprintf(stderr, "vexorin: %s failed (HRESULT 0x%08lX)\n", what.c_str(),
               static_cast<unsigned long>(static_cast<std::uint32_t>(hr)));
  return 1;
}

bool ParseLong(const char* text, long long lo, long long hi, long long& value) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  value = v;
  return true;
}

// Returns -1 when parsing succeeded, else the exit status.
int Parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    const char* inlineValue = nullptr;
    if (arg.rfind("--", 0) == 0) {
      const auto eq = arg.find('=');
      if (eq != std::string::npos) {
        inlineValue = argv[i] + eq + 1;
        arg.resize(eq);
      }
    }
    auto value = [&](const char*& out) {
      if (inlineValue != nullptr) {
        out = inlineValue;
        return true;
      }
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    const char* v = nullptr;
    long long n = 0;
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--audio" && inlineValue == nullptr) {
      o.audio = true;
    } else if (arg == "--noise-level") {
      if (!value(v) || !ParseLong(v, 0, vexorin::kMaxAudioNoise, n)) return UsageError("noise level must be a number from 0 to 4");
      o.hasNoiseLevel = true;
      o.noiseLevel = static_cast<long>(n);
    } else if (arg == "--noise" && inlineValue == nullptr) {
      o.noise = true;
    } else if (arg == "-d" || arg == "--digits") {
      if (!value(v) || !ParseLong(v, 1, 9, n)) return UsageError("digits must be a number from 1 to 9");
      o.digits = static_cast<long>(n);
    } else if (arg == "-n" || arg == "--number") {
      if (!value(v)) return UsageError("--number needs a value");
      o.number = v;
    } else if (arg == "-H" || arg == "--height") {
      if (!value(v) || !ParseLong(v, INT32_MIN, INT32_MAX, n)) return UsageError("height must be a whole number");
      o.hasHeight = true;
      o.height = static_cast<long>(n);
    } else if (arg == "--seed") {
      if (!value(v) || !ParseLong(v, 0, UINT32_MAX, n)) return UsageError("seed must be a number from 0 to 4294967295");
      o.hasSeed = true;
      o.seed = static_cast<std::uint32_t>(n);
    } else if (arg == "-f" || arg == "--format") {
      if (!value(v)) return UsageError("--format needs a value");
      o.hasFormat = true;
      if (std::strcmp(v, "pgm") == 0) {
        o.pgm = true;
      } else if (std::strcmp(v, "jpeg") == 0) {
        o.pgm = false;
      } else {
        return UsageError(std::string("unknown format '") + v + "' (jpeg or pgm)");
      }
    } else if (arg == "-o" || arg == "--output") {
      if (!value(v) || *v == '\0') return UsageError("--output needs a file name");
      o.output = v;
    } else {
      return UsageError("unknown option '" + arg + "'");
    }
  }
  if (o.audio && (o.hasHeight || o.noise || o.hasFormat)) return UsageError("--audio takes no picture options");
  if (!o.audio && o.hasNoiseLevel) return UsageError("--noise-level needs --audio");
  if (o.output == nullptr) o.output = o.audio ? "captcha.wav" : "captcha.jpg";
  return -1;
}

// The output path as the component takes it, or false (with a message) when the conversion would
// name another file: bytes that are no text in this system's code page would become U+FFFD.
bool OutputPath(const char* output, platform::unique_bstr& path) {
  path.reset(platform::MakeBstrNothrow(output));
  if (path.get() == nullptr) {
    Failed("converting the output path", E_OUTOFMEMORY);
    return false;
  }
  std::string back;
  if (!platform::NarrowFromWide(path.get(), back) || back != output) {
    std::fprintf(stderr, "vexorin: the file name '%s' is not text in this system's code page\n", output);
    return false;
  }
  return true;
}

int WritePgm(vexorin::VexorinComponent& component, const char* path) {
  vexorin::Canvas canvas;
  const HRESULT hr = component.Render(canvas);
  if (FAILED(hr)) return Failed("Render", hr);
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) {
    std::fprintf(stderr, "vexorin: cannot write '%s': %s\n", path, std::strerror(errno));
    return 1;
  }
  std::fprintf(f, "P5\n%ld %ld\n255\n", static_cast<long>(canvas.size.width), static_cast<long>(canvas.size.height));
  const bool ok = std::fwrite(canvas.pixels.get(), 1, canvas.size.bytes, f) == canvas.size.bytes;
  if (std::fclose(f) != 0 || !ok) {
    std::fprintf(stderr, "vexorin: cannot write '%s'\n", path);
    return 1;
  }
  return 0;
}

bool WriteStdout(const void* data, std::size_t size) {
  platform::SetBinaryMode(stdout);
  return std::fwrite(data, 1, size, stdout) == size && std::fflush(stdout) == 0;
}

int WriteJpegToStdout(vexorin::VexorinComponent& component) {
  platform::unique_variant image;
  const HRESULT hr = component.GetImage(image.put());
  if (FAILED(hr)) return Failed("GetImage", hr);
  SAFEARRAY* array = image.get().parray;
  const platform::safearray_access access(array);
  if (FAILED(access.result())) return Failed("reading the picture", access.result());
  const std::size_t size = array->rgsabound[0].cElements;
  if (!WriteStdout(access.data(), size)) {
    std::fprintf(stderr, "vexorin: cannot write the picture to standard output\n");
    return 1;
  }
  return 0;
}


// --audio: the number from -n, or -d random digits (6 by default) from the generator (the stand-in
// with --seed), then GetAudio or SaveToFile.
int Speak(const Options& o) {
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
  if (FAILED(hr)) return Failed("setting the number '" + digits + "'", hr);
  if (o.hasNoiseLevel) audio.put_Noise(static_cast<LONG>(o.noiseLevel));

  const bool toStdout = std::strcmp(o.output, "-") == 0;
  if (toStdout) {
    platform::unique_variant sound;
    hr = audio.GetAudio(sound.put());
    if (FAILED(hr)) return Failed("GetAudio", hr);
    SAFEARRAY* array = sound.get().parray;
    const platform::safearray_access access(array);
    if (FAILED(access.result())) return Failed("reading the audio", access.result());
    if (!WriteStdout(access.data(), array->rgsabound[0].cElements)) {
      std::fprintf(stderr, "vexorin: cannot write the audio to standard output\n");
      return 1;
    }
  } else {
    platform::unique_bstr path;
    if (!OutputPath(o.output, path)) return 1;
    hr = audio.SaveToFile(path.get());
    if (FAILED(hr)) return Failed(std::string("writing '") + o.output + "'", hr);
  }
  std::FILE* numberOut = toStdout ? stderr : stdout;
  std::fprintf(numberOut, "%s\n", digits.c_str());
  return std::fflush(numberOut) == 0 ? 0 : 1;
}

// --challenge and --verify, through the proof-of-work class's members.
int Work(int argc, char** argv) {
  const bool challenge = std::strcmp(argv[1], "--challenge") == 0;
  const char* payload = nullptr;
  const char* bind = "";
  const char* client = "";
  const char* secret = nullptr;
  long long cost = 0, expires = 0, maxCost = 0, count = 1;
  int i = 2;
  if (!challenge) {
    if (argc < 3) return UsageError("--verify needs the payload");
    payload = argv[i++];
  }
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return UsageError("'" + arg + "' needs a value, or is unknown");
    const char* v = argv[++i];
    if (arg == "--bind") {
      bind = v;
    } else if (challenge && arg == "--client") {
      client = v;
    } else if (challenge && arg == "--count") {
      if (!ParseLong(v, 1, 100000, count)) return UsageError("count must be 1..100000");
    } else if (arg == "--max-cost") {
      if (!ParseLong(v, vexorin::kMinWorkCost, vexorin::kMaxWorkCost, maxCost)) return UsageError("max cost must be 100..1000000");
    } else if (arg == "--secret") {
      if (*v == '\0') return UsageError("--secret must not be empty");
      secret = v;
    } else if (arg == "--cost") {
      if (!ParseLong(v, vexorin::kMinWorkCost, vexorin::kMaxWorkCost, cost)) return UsageError("cost must be 100..1000000");
    } else if (arg == "--expires") {
      if (!ParseLong(v, vexorin::kMinWorkExpires, vexorin::kMaxWorkExpires, expires)) {
        return UsageError("expires must be 10..86400 seconds");
      }
    } else {
      return UsageError("unknown option '" + arg + "'");
    }
  }
  vexorin::WorkComponent work;
  platform::unique_bstr bindText(platform::MakeBstrNothrow(bind));
  if (secret != nullptr) {
    platform::unique_bstr text(platform::MakeBstrNothrow(secret));
    const HRESULT hr = work.put_Secret(text.get());
    if (FAILED(hr)) return Failed("setting the secret", hr);
  }
  if (cost != 0) work.put_Cost(static_cast<LONG>(cost));
  if (expires != 0) work.put_Expires(static_cast<LONG>(expires));
  if (maxCost != 0) work.put_MaxCost(static_cast<LONG>(maxCost));
  if (challenge) {
    platform::unique_bstr clientText(platform::MakeBstrNothrow(client));
    for (long long n = 0; n < count; ++n) {
      platform::unique_bstr json;
      const HRESULT hr = work.CreateChallenge(bindText.get(), clientText.get(), json.put());
      if (FAILED(hr)) return Failed("CreateChallenge", hr);
      std::string text;
      platform::NarrowFromWide(json.get(), text);
      std::printf("%s\n", text.c_str());
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  platform::unique_bstr payloadText(platform::MakeBstrNothrow(payload));
  VARIANT_BOOL verified = VARIANT_FALSE;
  HRESULT hr = work.Verify(payloadText.get(), bindText.get(), &verified);
  if (FAILED(hr)) return Failed("Verify", hr);
  platform::unique_bstr reason;
  hr = work.get_Reason(reason.put());
  if (FAILED(hr)) return Failed("reading the reason", hr);
  std::string text;
  platform::NarrowFromWide(reason.get(), text);
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
  return verified == VARIANT_TRUE ? 0 : 1;
}

}  // namespace

static int Run(int argc, char** argv) {
  Options o;
  const int parsed = Parse(argc, argv, o);
  if (parsed >= 0) return parsed;
  // The component draws its creation's number and picture seed, then --digits', from the stand-in.
  // Installed for this run only: a batch's next run without --seed draws from the system again.
  vexorin::SeededRandomSource seeded(o.seed);
  std::unique_ptr<vexorin::ScopedRandomSource> installed;
  if (o.hasSeed) installed = std::make_unique<vexorin::ScopedRandomSource>(seeded);

  if (o.audio) return Speak(o);

  std::unique_ptr<vexorin::VexorinComponent> created;
  const HRESULT made = vexorin::Guarded([&] {
    created = std::make_unique<vexorin::VexorinComponent>();
    return S_OK;
  });
  if (FAILED(made)) return Failed("creating the component", made);
  vexorin::VexorinComponent& component = *created;
  if (o.digits != 0) {
    LONG number = 0;
    const HRESULT hr = component.GenerateRnd(static_cast<LONG>(o.digits), &number);
    if (FAILED(hr)) return Failed("GenerateRnd", hr);
  }
  if (o.number != nullptr) {
    platform::unique_bstr text(platform::MakeBstrNothrow(o.number));
    if (text.get() == nullptr && *o.number != '\0') return Failed("converting the number", E_OUTOFMEMORY);
    const HRESULT hr = component.put_Number(text.get());
    if (FAILED(hr)) return Failed(std::string("setting the number '") + o.number + "'", hr);
  }
  if (o.hasHeight) component.put_Height(static_cast<LONG>(o.height));
  if (o.noise) component.put_Noise(1);

  const bool toStdout = std::strcmp(o.output, "-") == 0;
  if (toStdout && o.pgm) return UsageError("-o - takes the JPEG picture only");
  if (toStdout) {
    const int status = WriteJpegToStdout(component);
    if (status != 0) return status;
  } else if (o.pgm) {
    const int status = WritePgm(component, o.output);
    if (status != 0) return status;
  } else {
    platform::unique_bstr path;
    if (!OutputPath(o.output, path)) return 1;
    const HRESULT hr = component.SaveToFile(path.get());
    if (FAILED(hr)) return Failed(std::string("writing '") + o.output + "'", hr);
  }

  platform::unique_bstr number;
  const HRESULT hr = component.get_Number(number.put());
  if (FAILED(hr)) return Failed("reading the number", hr);
  std::string text;
  platform::NarrowFromWide(number.get(), text);
  // With the picture on standard output, the number goes to standard error.
  std::FILE* numberOut = toStdout ? stderr : stdout;
  std::fprintf(numberOut, "%s\n", text.c_str());
  return std::fflush(numberOut) == 0 ? 0 : 1;
}

// Many runs in one process: a Windows build of the tool under emulated Wine takes seconds to start.
// (Read with getc: every C runtime function the tool imports must exist on the oldest Windows.)
static int RunBatch(const char* path) {
  std::FILE* f = std::fopen(path, "r");
  if (f == nullptr) {
    std::fprintf(stderr, "vexorin: cannot read '%s': %s\n", path, std::strerror(errno));
    return 2;
  }
  int status = 0;
  std::vector<std::string> words;
  std::string word;
  for (int c = std::getc(f);; c = std::getc(f)) {
    const bool endOfLine = c == EOF || c == '\n';
    if (!endOfLine && !std::isspace(c)) {
      word += static_cast<char>(c);
      continue;
    }
    if (!word.empty()) words.push_back(std::move(word));
    word.clear();
    if (!endOfLine) continue;
    if (!words.empty()) {
      std::vector<char*> args{const_cast<char*>("vexorin")};
      for (std::string& w : words) args.push_back(&w[0]);
      const int result = Run(static_cast<int>(args.size()), args.data());
      if (status == 0) status = result;
      words.clear();
    }
    if (c == EOF) break;
  }
  std::fclose(f);
  return status;
}

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--batch") == 0) return RunBatch(argv[2]);
  if (argc >= 2 && (std::strcmp(argv[1], "--challenge") == 0 || std::strcmp(argv[1], "--verify") == 0)) {
    return Work(argc, argv);
  }
  return Run(argc, argv);
}
