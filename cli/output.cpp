#include "cli/output.h"

#include <cstdint>
#include <cstdio>

namespace cli {

namespace {
std::FILE* FileOf(Stream stream) { return stream == Stream::kOut ? stdout : stderr; }
}  // namespace

bool Print(Stream stream, const std::string& text) {
  std::FILE* f = FileOf(stream);
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fflush(f) == 0 && written;
}

bool PrintLine(Stream stream, const std::string& text) { return Print(stream, text + "\n"); }

bool WriteBytes(const void* data, std::size_t size) {
  platform::SetBinaryMode(stdout);
  return std::fwrite(data, 1, size, stdout) == size && std::fflush(stdout) == 0;
}

int UsageError(const std::string& message) {
  PrintLine(Stream::kError, "vexorin: " + message + " (try --help)");
  return 2;
}

int Failed(const std::string& what, HRESULT hr, const std::string& why) {
  char code[32];
  std::snprintf(code, sizeof code, "(HRESULT 0x%08lX)", static_cast<unsigned long>(static_cast<std::uint32_t>(hr)));
  PrintLine(Stream::kError, "vexorin: " + what + " failed" + (why.empty() ? "" : ": " + why) + " " + code);
  return 1;
}

int Complain(const std::string& message) {
  PrintLine(Stream::kError, "vexorin: " + message);
  return 1;
}

}  // namespace cli
