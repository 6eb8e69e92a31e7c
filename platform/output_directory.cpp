// Apart from output_file.cpp: only the tool asks, so the DLL does not link it or its imports.
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "platform/output_file.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace platform {

bool OutputDirectoryExists(const OLECHAR* name) {
  if (name == nullptr) return false;
  std::size_t length = 0;
  while (name[length] != 0) ++length;
#ifdef _WIN32
  std::wstring directory(name, length);
  const std::size_t last = directory.find_last_of(L"\\/");
  if (last == std::wstring::npos) return true;  // the current directory
  // "\x.jpg" and "C:\x.jpg" are in a root, which keeps its separator: "C:" alone would name
  // the drive's current directory.
  directory.resize(last == 0 || directory[last - 1] == L':' ? last + 1 : last);
  const DWORD attributes = GetFileAttributesW(directory.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
#else
  std::string directory;
  if (!Utf8FromUtf16(name, length, directory)) return false;
  const std::size_t last = directory.rfind('/');
  if (last == std::string::npos) return true;  // the current directory
  directory.resize(last == 0 ? 1 : last);
  struct stat status;
  return stat(directory.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
#endif
}

}  // namespace platform
