// The tool's command line: one parser for every run, one rule for values ("--name value" and
// "--name=value" for a long option, "-x value" for a short one).
#pragma once

#include <cstdint>

namespace cli {

enum class Mode { kPicture, kAudio, kChallenge, kVerify, kBatch };

struct Options {
  Mode mode = Mode::kPicture;
  // The picture and the audio.
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
  bool hasNoiseLevel = false;
  long noiseLevel = 0;
  // The proof of work.
  const char* payload = nullptr;
  const char* bind = "";
  const char* client = "";
  const char* secret = nullptr;
  const char* store = nullptr;
  long long cost = 0;
  long long maxCost = 0;
  long long expires = 0;
  // --batch
  const char* batchFile = nullptr;
};

// Fills `options` from the arguments after the program's name; -1 when the run goes ahead, else the
// exit status (0 after --help, 2 after a usage error, its message printed). `inBatch`: a batch's
// line, which may not start another batch.
int ParseOptions(int argc, char** argv, bool inBatch, Options& options);

}  // namespace cli
