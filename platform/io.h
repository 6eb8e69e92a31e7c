// The runtime's low-level file calls with their Windows names, flags and permission bits. On
// Windows these are the runtime's own; elsewhere thin wrappers over POSIX with binary mode implied.
#pragma once

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <cstdio>

constexpr int _O_RDONLY = 0x0000;
constexpr int _O_WRONLY = 0x0001;
constexpr int _O_RDWR = 0x0002;
constexpr int _O_APPEND = 0x0008;
constexpr int _O_CREAT = 0x0100;
constexpr int _O_TRUNC = 0x0200;
constexpr int _O_EXCL = 0x0400;
constexpr int _O_BINARY = 0x8000;
constexpr int _S_IREAD = 0x0100;
constexpr int _S_IWRITE = 0x0080;

int _open(const char* path, int flags, int permission = 0);
int _read(int handle, void* buffer, unsigned int count);
long _lseek(int handle, long offset, int origin);
int _close(int handle);
int _write(int handle, const void* buffer, unsigned int count);
#endif
