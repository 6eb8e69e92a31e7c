#include "platform/io.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int _open(const char* path, int flags, int permission) {
  int posix = O_CLOEXEC;
  switch (flags & 3) {
    case _O_WRONLY: posix |= O_WRONLY; break;
    case _O_RDWR: posix |= O_RDWR; break;
    default: posix |= O_RDONLY; break;
  }
  if (flags & _O_APPEND) posix |= O_APPEND;
  if (flags & _O_CREAT) posix |= O_CREAT;
  if (flags & _O_TRUNC) posix |= O_TRUNC;
  if (flags & _O_EXCL) posix |= O_EXCL;
  mode_t mode = 0;
  if (permission & _S_IREAD) mode |= S_IRUSR;
  if (permission & _S_IWRITE) mode |= S_IWUSR;
  return open(path, posix, mode);
}

int _read(int handle, void* buffer, unsigned int count) {
  return static_cast<int>(read(handle, buffer, count));
}

long _lseek(int handle, long offset, int origin) { return lseek(handle, offset, origin); }

// Don't retry close on EINTR: the descriptor is gone either way on Linux.
int _close(int handle) { return close(handle); }

int _write(int handle, const void* buffer, unsigned int count) {
  return static_cast<int>(write(handle, buffer, count));
}
#endif
