#include "platform.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace platform {

void SetBinaryMode(std::FILE* stream) {
#ifdef _WIN32
  _setmode(_fileno(stream), _O_BINARY);
#else
  (void)stream;  // POSIX streams have no text mode
#endif
}

}  // namespace platform
