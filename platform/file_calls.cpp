#include "platform/file_calls.h"

#include <atomic>
#include <string>

#include "platform/io.h"

#ifndef _WIN32
#include <fcntl.h>
#endif

namespace platform {

namespace {

#ifdef _WIN32
// As _wopen's "wb" (create or empty), but with identification-only quality of service: should the
// name reach a pipe after all, its server learns who connected and cannot act as the caller.
// Not inherited by child processes either.
int CreateOutput(const OLECHAR* path) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  const int handle = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
  if (handle == -1) CloseHandle(file);
  return handle;
}
#else
int CreateOutput(const OLECHAR* path) {
  const int needed = WideCharToMultiByte(CP_UTF8, 0, path, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return -1;
  std::string narrow(static_cast<std::size_t>(needed), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, path, -1, &narrow[0], needed, nullptr, nullptr) != needed) return -1;
  // stdio's permissions: everyone's read and write, less the umask.
  return ::open(narrow.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}
#endif

const FileCalls kRuntimeCalls = {
    [](const char* path, int flags, int permission) { return _open(path, flags, permission); },
    [](int handle, void* buffer, unsigned int count) { return _read(handle, buffer, count); },
    [](int handle, long offset, int origin) { return _lseek(handle, offset, origin); },
    [](int handle) { return _close(handle); },
    [](int handle, const void* buffer, unsigned int count) { return _write(handle, buffer, count); },
    CreateOutput,
};

std::atomic<const FileCalls*> activeCalls{&kRuntimeCalls};

}  // namespace

const FileCalls& RuntimeFileCalls() { return kRuntimeCalls; }
const FileCalls& ActiveFileCalls() { return *activeCalls.load(); }
void SetFileCalls(const FileCalls* calls) { activeCalls.store(calls != nullptr ? calls : &kRuntimeCalls); }

bool WriteWhole(int handle, const void* data, std::size_t size) {
  const FileCalls& io = ActiveFileCalls();
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const unsigned int chunk = size > 0x40000000u ? 0x40000000u : static_cast<unsigned int>(size);
    const int wrote = io.write(handle, bytes, chunk);
    if (wrote <= 0) return false;
    bytes += wrote;
    size -= static_cast<std::size_t>(wrote);
  }
  return true;
}

}  // namespace platform
