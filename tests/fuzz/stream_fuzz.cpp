// XFileInStream over arbitrary file contents, buffer sizes and strict brackets: every byte comes
// back in order, and alarms are the only failures.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "support/file_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::int32_t buffer = static_cast<std::int32_t>(data[0] | (data[1] << 8)) % 9000;
  const std::uint8_t script = data[2];  // when to open and close strict stretches
  data += 3;
  size -= 3;
  // A file of its own for each input, removed with it (libFuzzer ends with _Exit).
  std::string path = fuzz_support::TemporaryDirectory("/tmp") + "/vexorin-stream-fuzz-XXXXXX";
  const int fd = mkstemp(&path[0]);
  if (fd == -1) std::abort();
  close(fd);
  struct Remove {
    const std::string& path;
    ~Remove() { std::remove(path.c_str()); }
  } removeAtEnd{path};
  FILE* f = std::fopen(path.c_str(), "wb");
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);

  std::vector<std::uint8_t> got;
  try {
    support::XFileInStream in(path.c_str(), buffer);
    std::uint8_t b = 0;
    int strict = 0;
    for (std::size_t step = 0;; ++step) {
      if ((script >> (step % 8)) & 1) {
        in.BeginStrict();
        ++strict;
      } else if (strict > 0 && step % 3 == 0) {
        in.EndStrict();
        --strict;
      }
      if (!in.ReadByte(b).good()) break;
      got.push_back(b);
    }
  } catch (const support::XFileAlarm& alarm) {
    if (std::strcmp(alarm.message, "Unable to block read file") != 0) __builtin_trap();
  }
  if (got.size() > size || (!got.empty() && std::memcmp(got.data(), data, got.size()) != 0)) __builtin_trap();
  return 0;
}
