// The runtime's low-level file calls in one replaceable table. Every file the component writes or
// reads goes through it, so that tests can make any call fail.
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace platform {

struct FileCalls {
  int (*open)(const char* path, int flags, int permission);
  int (*read)(int handle, void* buffer, unsigned int count);
  long (*lseek)(int handle, long offset, int origin);
  int (*close)(int handle);
  int (*write)(int handle, const void* buffer, unsigned int count);
  // Creates or empties the file of exactly this name for writing, as stdio's "wb" would: on Windows
  // by its UTF-16 text, elsewhere by its UTF-8 form. -1 when it cannot.
  int (*createOutput)(const OLECHAR* path);
};

const FileCalls& RuntimeFileCalls();
const FileCalls& ActiveFileCalls();
// Installs `calls` (kept by pointer, so it must outlive its use); null restores the runtime's.
void SetFileCalls(const FileCalls* calls);

// Hands all `size` bytes to the active write call; false when the file took fewer (a full disk, a
// size limit) or the call failed.
bool WriteWhole(int handle, const void* data, std::size_t size);

}  // namespace platform
