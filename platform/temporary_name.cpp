#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/io.h"
#include "platform/platform.h"

namespace platform {

#ifdef _WIN32
// The runtime's _tempnam only checks that a name is free, and two threads can be handed the same
// one: creating the file with _O_EXCL settles who owns it. Short-lived and deleted when its handle
// closes, the file normally never reaches the disk and cannot outlive the process.
TemporaryClaim ClaimTemporaryFile(OpenCall open, char** name, int* handle) {
  *name = nullptr;
  *handle = -1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char* candidate = _tempnam(nullptr, nullptr);
    if (candidate == nullptr) return TemporaryClaim::NoName;
    errno = 0;
    const int fd = open(candidate, _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_SHORT_LIVED | _O_TEMPORARY,
                        _S_IREAD | _S_IWRITE);
    if (fd != -1) {
      *name = candidate;
      *handle = fd;
      return TemporaryClaim::Claimed;
    }
    std::free(candidate);
    if (errno != EEXIST) return TemporaryClaim::NotOpened;  // not a race: another name won't help
  }
  return TemporaryClaim::NoName;
}

// The system deleted it with its last handle; removing the name now could hit another call's file.
void DiscardTemporaryFile(const char*) {}
#else
// This build's _tempnam creates the file exclusively and owner-only; opening it without
// truncation keeps the file system from flushing an emptied file at close.
TemporaryClaim ClaimTemporaryFile(OpenCall open, char** name, int* handle) {
  *name = nullptr;
  *handle = -1;
  char* candidate = _tempnam(nullptr, nullptr);
  if (candidate == nullptr) return TemporaryClaim::NoName;
  const int fd = open(candidate, _O_RDWR | _O_BINARY, 0);
  if (fd == -1) {
    std::remove(candidate);
    std::free(candidate);
    return TemporaryClaim::NotOpened;
  }
  *name = candidate;
  *handle = fd;
  return TemporaryClaim::Claimed;
}

void DiscardTemporaryFile(const char* name) { std::remove(name); }
#endif

}  // namespace platform
