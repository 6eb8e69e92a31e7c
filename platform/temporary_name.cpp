#include <cstdio>
#include <cstdlib>

#include "platform/io.h"
#include "platform/platform.h"

namespace platform {

#ifdef _WIN32
// The runtime's _tempnam only checks that a name is free, and two threads can be handed the same
// one; creating the file with _O_EXCL settles who owns it.
char* ClaimTemporaryName() {
  for (int attempt = 0; attempt < 100; ++attempt) {
    char* name = _tempnam(nullptr, nullptr);
    if (name == nullptr) return nullptr;
    const int fd = _open(name, _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd != -1) {
      _close(fd);
      return name;
    }
    std::free(name);  // taken meanwhile (or not creatable): ask for another
  }
  return nullptr;
}
#else
// This build's _tempnam already creates the file exclusively.
char* ClaimTemporaryName() { return _tempnam(nullptr, nullptr); }
#endif

}  // namespace platform
