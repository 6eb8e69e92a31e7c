#include <cstdio>
#include <string>

#ifdef _WIN32
#include <io.h>
#endif

#include "platform/platform.h"

namespace platform {

// Text that is not well-formed UTF-16 has no UTF-8 form, and no sensible name on Windows either.
bool IsExactFileName(const OLECHAR* name, UINT length) {
  for (UINT i = 0; i < length; ++i) {
    const OLECHAR u = name[i];
    if (u == 0) return false;
    if (u >= 0xD800 && u < 0xDC00) {  // a high surrogate needs a low one next
      if (i + 1 == length || name[i + 1] < 0xDC00 || name[i + 1] >= 0xE000) return false;
      ++i;
    } else if (u >= 0xDC00 && u < 0xE000) {
      return false;
    }
  }
  return true;
}

#ifdef _WIN32
// Narrowing the name would apply best-fit mappings (full-width dots and backslashes become "..\")
// and cut at a NUL: on Windows the file is opened by the caller's own UTF-16 text instead.
HRESULT OpenOutputFile(const OLECHAR* name, std::FILE** file) {
  *file = _wfopen(name, L"wb");
  if (*file == nullptr) return E_FAIL;
  // NUL, CON, COM1, "dir\nul.jpg"... open fine and swallow the picture.
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(*file)));
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    std::fclose(*file);
    *file = nullptr;
    return E_INVALIDARG;
  }
  return S_OK;
}
#else
HRESULT OpenOutputFile(const OLECHAR* name, std::FILE** file) {
  *file = nullptr;
  const int needed = WideCharToMultiByte(CP_UTF8, 0, name, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return E_FAIL;
  std::string path(static_cast<std::size_t>(needed), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, name, -1, &path[0], needed, nullptr, nullptr) != needed) return E_FAIL;
  *file = std::fopen(path.c_str(), "wb");
  return *file != nullptr ? S_OK : E_FAIL;
}
#endif

}  // namespace platform
