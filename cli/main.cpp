// vexorin: draws the picture of a number, or speaks it as a WAV file, from the command line, through
// the components' methods; also makes and checks proof-of-work challenges.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cli/options.h"
#include "cli/output.h"
#include "cli/runs.h"
#include "cli/seeded_for_tests/seeded_random.h"

namespace {

int RunBatch(const char* path);

int Run(int argc, char** argv, bool inBatch) {
  cli::Options o;
  const int parsed = cli::ParseOptions(argc, argv, inBatch, o);
  if (parsed >= 0) return parsed;
  switch (o.mode) {
    case cli::Mode::kBatch:
      return RunBatch(o.batchFile);
    case cli::Mode::kChallenge:
      return cli::PrintChallenge(o);
    case cli::Mode::kVerify:
      return cli::CheckPayload(o);
    case cli::Mode::kPicture:
    case cli::Mode::kAudio:
      break;
  }
  // The component draws its creation's number and picture seed, then --digits', from the stand-in.
  // Installed for this run only: a batch's next run without --seed draws from the system again.
  vexorin::SeededRandomSource seeded(o.seed);
  std::unique_ptr<vexorin::ScopedRandomSource> installed;
  if (o.hasSeed) installed = std::make_unique<vexorin::ScopedRandomSource>(seeded);
  return o.mode == cli::Mode::kAudio ? cli::SpeakNumber(o) : cli::DrawPicture(o);
}

// Many runs in one process: a Windows build of the tool under emulated Wine takes seconds to start.
// (Read with getc: every C runtime function the tool imports must exist on the oldest Windows.)
int RunBatch(const char* path) {
  std::FILE* f = std::fopen(path, "r");
  if (f == nullptr) {
    cli::Complain(std::string("cannot read '") + path + "': " + std::strerror(errno));
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
      const int result = Run(static_cast<int>(args.size()), args.data(), true);
      if (status == 0) status = result;
      words.clear();
    }
    if (c == EOF) break;
  }
  std::fclose(f);
  return status;
}

}  // namespace

int main(int argc, char** argv) { return Run(argc, argv, false); }
