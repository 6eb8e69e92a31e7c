#include "cli/options.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "cli/output.h"
#include "component/audio/audio.h"
#include "component/picture/picture.h"
#include "component/work/work.h"

namespace cli {

namespace {

constexpr long long kMaxDigits = vexorin::kMaxPictureDigits;
static_assert(kMaxDigits == static_cast<long long>(vexorin::kMaxAudioDigits), "--digits serves both");

std::string N(long long value) { return std::to_string(value); }
std::string Range(long long lo, long long hi) { return N(lo) + ".." + N(hi); }

// The help; every range and default in it is the constant the options are checked against.
std::string Usage() {
  return std::string("usage: vexorin [-d|--digits N] [-n|--number S] [-H|--height PX] [--noise] [--seed N]\n") +
    "               [-f|--format jpeg|pgm] [-o|--output FILE]\n"
    "       vexorin --audio [-d|--digits N] [-n|--number S] [--noise-level L] [--seed N]\n"
    "               [-o|--output FILE]\n"
    "       vexorin --challenge [--cost N] [--max-cost N] [--expires S] [--bind TEXT]\n"
    "               [--client ADDRESS] [--secret S [--store URL]]\n"
    "       vexorin --verify PAYLOAD [--cost N] [--expires S] [--bind TEXT] [--secret S [--store URL]]\n"
    "       vexorin --batch FILE\n"
    "Draws the picture of a number (or with --audio speaks it as a WAV file) and prints the number.\n"
    "A long option's value follows it as the next argument or after '=' (--height=40).\n"
    "  -d, --digits N     draw a random number of N digits (" + Range(1, kMaxDigits) + ")\n"
    "  -n, --number S     show the number S instead\n"
    "  -H, --height PX    picture height in pixels (at least 20; default 30)\n"
    "      --noise        sprinkle speckle noise\n"
    "      --seed N       repeatable numbers, pictures and audio, for tests and samples only (never\n"
    "                     a page): N (" + Range(0, UINT32_MAX) + ") starts SplitMix64, which stands in for the\n"
    "                     system's generator; each 32-bit draw is the low half of its next output,\n"
    "                     the audio's 256-bit key the next four whole ones\n"
    "  -f, --format F     jpeg (default) or pgm (the raw gray canvas)\n"
    "  -o, --output FILE  where to write the picture (default captcha.jpg); - sends the JPEG\n"
    "                     bytes to standard output and the number to standard error\n"
    "      --audio        speak the number instead (16 kHz mono WAV; default file captcha.wav,\n"
    "                     default 6 random digits)\n"
    "      --noise-level L  the audio's babble: 0 clean to " + N(vexorin::kMaxAudioNoise) + " loudest (default " +
    N(vexorin::kDefaultAudioNoise) + ")\n"
    "      --batch FILE   one run per line of FILE, each line holding the options of a run\n"
    "                     (in one process)\n"
    "      --challenge    print a proof-of-work challenge (JSON) for the widget\n"
    "      --verify P     check the widget's payload P: prints why, exits 0 only when verified\n"
    "      --cost N       expected work, in 256s of PBKDF2 iterations (" + Range(vexorin::kMinWorkCost, vexorin::kMaxWorkCost) +
    "; default\n"
    "                     " + N(vexorin::kDefaultWorkCost) + "); --verify refuses a challenge made cheaper\n"
    "      --max-cost N   the most a client that keeps asking is asked (default " + N(vexorin::kDefaultWorkMaxCost) + ")\n"
    "      --client A     the visitor's address: its price rises as it keeps asking (counted\n"
    "                     per process: a --batch of challenge lines shows it rise)\n"
    "      --expires S    seconds the challenge stays valid (" + Range(vexorin::kMinWorkExpires, vexorin::kMaxWorkExpires) +
    "; default " + N(vexorin::kDefaultWorkExpires) + "); --verify\n"
    "                     refuses a challenge made to live longer\n"
    "      --bind TEXT    the session the challenge is bound to (the same for --verify)\n"
    "      --secret S     the HMAC key shared by the two runs (a challenge and its check run in\n"
    "                     different processes); a real secret belongs in the site's\n"
    "                     configuration, never on a command line, where other users see it\n"
    "                     (without it each run draws its own key, and nothing verifies).\n"
    "                     Replays are caught within one process only, unless --store names the\n"
    "                     farm's store\n"
    "      --store URL    the store a farm shares (needs --secret), where a verified challenge\n"
    "                     is recorded once for every process: redis://[:password@]host[:port]\n"
    "                     [/db][?prefix=P&timeout=MS&retry=MS]; when it cannot be reached,\n"
    "                     --verify fails and says why\n"
    "  -h, --help         show this help\n";
}

enum class Id {
  kHelp, kDigits, kNumber, kHeight, kNoise, kSeed, kFormat, kOutput, kAudio, kNoiseLevel, kBatch,
  kChallenge, kVerify, kCost, kExpires, kBind, kSecret, kMaxCost, kClient, kStore, kCount
};

struct Spec {
  Id id;
  const char* shortName;  // null: none
  const char* longName;
  bool takesValue;
};

constexpr Spec kSpecs[] = {
    {Id::kHelp, "-h", "--help", false},          {Id::kDigits, "-d", "--digits", true},
    {Id::kNumber, "-n", "--number", true},       {Id::kHeight, "-H", "--height", true},
    {Id::kNoise, nullptr, "--noise", false},     {Id::kSeed, nullptr, "--seed", true},
    {Id::kFormat, "-f", "--format", true},       {Id::kOutput, "-o", "--output", true},
    {Id::kAudio, nullptr, "--audio", false},     {Id::kNoiseLevel, nullptr, "--noise-level", true},
    {Id::kBatch, nullptr, "--batch", true},      {Id::kChallenge, nullptr, "--challenge", false},
    {Id::kVerify, nullptr, "--verify", true},    {Id::kCost, nullptr, "--cost", true},
    {Id::kExpires, nullptr, "--expires", true},  {Id::kBind, nullptr, "--bind", true},
    {Id::kSecret, nullptr, "--secret", true},    {Id::kMaxCost, nullptr, "--max-cost", true},
    {Id::kClient, nullptr, "--client", true},    {Id::kStore, nullptr, "--store", true},
};

const Spec* Find(const std::string& name) {
  for (const Spec& spec : kSpecs) {
    if (name == spec.longName || (spec.shortName != nullptr && name == spec.shortName)) return &spec;
  }
  return nullptr;
}

bool ParseNumber(const char* text, long long lo, long long hi, long long& value) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  value = v;
  return true;
}

// The options given, by Id, for the checks of what goes with what.
class Given {
 public:
  void Add(Id id) { given_[static_cast<int>(id)] = true; }
  bool Has(Id id) const { return given_[static_cast<int>(id)]; }
  // The first given option outside `allowed`, or null.
  const char* Outside(std::initializer_list<Id> allowed) const {
    for (const Spec& spec : kSpecs) {
      if (!Has(spec.id)) continue;
      bool ok = false;
      for (Id id : allowed) ok = ok || id == spec.id;
      if (!ok) return spec.longName;
    }
    return nullptr;
  }

 private:
  bool given_[static_cast<int>(Id::kCount)] = {};
};

// A value outside its range, said with the range the value is checked against.
int RangeError(const char* what, long long lo, long long hi) {
  return UsageError(std::string(what) + " must be a number from " + N(lo) + " to " + N(hi));
}

// Takes one option's value; -1 when it is taken, else the exit status.
int Apply(const Spec& spec, const char* v, Options& o) {
  long long n = 0;
  switch (spec.id) {
    case Id::kHelp:
      return Print(Stream::kOut, Usage().c_str()) ? 0 : 1;
    case Id::kDigits:
      if (!ParseNumber(v, 1, kMaxDigits, n)) return RangeError("digits", 1, kMaxDigits);
      o.digits = static_cast<long>(n);
      break;
    case Id::kNumber:
      o.number = v;
      break;
    case Id::kHeight:
      if (!ParseNumber(v, INT32_MIN, INT32_MAX, n)) return UsageError("height must be a whole number");
      o.hasHeight = true;
      o.height = static_cast<long>(n);
      break;
    case Id::kNoise:
      o.noise = true;
      break;
    case Id::kSeed:
      if (!ParseNumber(v, 0, UINT32_MAX, n)) return RangeError("seed", 0, UINT32_MAX);
      o.hasSeed = true;
      o.seed = static_cast<std::uint32_t>(n);
      break;
    case Id::kFormat:
      o.hasFormat = true;
      if (std::strcmp(v, "pgm") == 0) {
        o.pgm = true;
      } else if (std::strcmp(v, "jpeg") == 0) {
        o.pgm = false;
      } else {
        return UsageError(std::string("unknown format '") + v + "' (jpeg or pgm)");
      }
      break;
    case Id::kOutput:
      if (*v == '\0') return UsageError("--output needs a file name");
      o.output = v;
      break;
    case Id::kAudio:
      o.mode = Mode::kAudio;
      break;
    case Id::kNoiseLevel:
      if (!ParseNumber(v, 0, vexorin::kMaxAudioNoise, n)) return RangeError("noise level", 0, vexorin::kMaxAudioNoise);
      o.hasNoiseLevel = true;
      o.noiseLevel = static_cast<long>(n);
      break;
    case Id::kBatch:
      o.mode = Mode::kBatch;
      o.batchFile = v;
      break;
    case Id::kChallenge:
      o.mode = Mode::kChallenge;
      break;
    case Id::kVerify:
      o.mode = Mode::kVerify;
      o.payload = v;
      break;
    case Id::kCost:
      if (!ParseNumber(v, vexorin::kMinWorkCost, vexorin::kMaxWorkCost, o.cost)) {
        return RangeError("cost", vexorin::kMinWorkCost, vexorin::kMaxWorkCost);
      }
      break;
    case Id::kExpires:
      if (!ParseNumber(v, vexorin::kMinWorkExpires, vexorin::kMaxWorkExpires, o.expires)) {
        return RangeError("expires (seconds)", vexorin::kMinWorkExpires, vexorin::kMaxWorkExpires);
      }
      break;
    case Id::kMaxCost:
      if (!ParseNumber(v, vexorin::kMinWorkCost, vexorin::kMaxWorkCost, o.maxCost)) {
        return RangeError("max cost", vexorin::kMinWorkCost, vexorin::kMaxWorkCost);
      }
      break;
    case Id::kClient:
      o.client = v;
      break;
    case Id::kBind:
      o.bind = v;
      break;
    case Id::kSecret:
      if (*v == '\0') return UsageError("--secret must not be empty");
      o.secret = v;
      break;
    case Id::kStore:
      o.store = v;
      break;
    case Id::kCount:
      break;
  }
  return -1;
}

// What goes with what; -1 when the options make one run.
int CheckCombination(const Given& given, bool inBatch, Options& o) {
  int modes = 0;
  for (Id id : {Id::kAudio, Id::kChallenge, Id::kVerify, Id::kBatch}) modes += given.Has(id) ? 1 : 0;
  if (modes > 1) return UsageError("--audio, --challenge, --verify and --batch go one at a time");
  const char* outside = nullptr;
  switch (o.mode) {
    case Mode::kBatch:
      if (inBatch) return UsageError("a batch's line cannot start another batch");
      outside = given.Outside({Id::kBatch});
      if (outside != nullptr) return UsageError(std::string("--batch takes no other option, such as ") + outside);
      break;
    case Mode::kChallenge:
      outside = given.Outside({Id::kChallenge, Id::kCost, Id::kMaxCost, Id::kExpires, Id::kBind, Id::kClient, Id::kSecret, Id::kStore});
      if (outside != nullptr) return UsageError(std::string("--challenge does not take ") + outside);
      break;
    case Mode::kVerify:
      outside = given.Outside({Id::kVerify, Id::kCost, Id::kExpires, Id::kBind, Id::kSecret, Id::kStore});
      if (outside != nullptr) return UsageError(std::string("--verify does not take ") + outside);
      break;
    case Mode::kAudio:
      if (o.hasHeight || o.noise || o.hasFormat) return UsageError("--audio takes no picture options");
      break;
    case Mode::kPicture:
      if (o.hasNoiseLevel) return UsageError("--noise-level needs --audio");
      if (o.pgm && o.output != nullptr && std::strcmp(o.output, "-") == 0) {
        return UsageError("-o - takes the JPEG picture only");
      }
      break;
  }
  if (o.mode == Mode::kPicture || o.mode == Mode::kAudio) {
    outside = given.Outside({Id::kDigits, Id::kNumber, Id::kHeight, Id::kNoise, Id::kSeed, Id::kFormat, Id::kOutput,
                             Id::kAudio, Id::kNoiseLevel});
    if (outside != nullptr) return UsageError(std::string(outside) + " needs --challenge or --verify");
    if (o.output == nullptr) o.output = o.mode == Mode::kAudio ? "captcha.wav" : "captcha.jpg";
  }
  return -1;
}

}  // namespace

int ParseOptions(int argc, char** argv, bool inBatch, Options& o) {
  Given given;
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    const char* value = nullptr;
    if (name.rfind("--", 0) == 0) {
      const auto equals = name.find('=');
      if (equals != std::string::npos) {
        value = argv[i] + equals + 1;
        name.resize(equals);
      }
    }
    const Spec* spec = Find(name);
    if (spec == nullptr) return UsageError("unknown option '" + name + "'");
    if (!spec->takesValue && value != nullptr) return UsageError(name + " takes no value");
    if (spec->takesValue && value == nullptr) {
      if (i + 1 >= argc) return UsageError(name + " needs a value");
      value = argv[++i];
    }
    given.Add(spec->id);
    const int status = Apply(*spec, value, o);
    if (status >= 0) return status;
  }
  return CheckCombination(given, inBatch, o);
}

}  // namespace cli
