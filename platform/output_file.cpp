
#ifdef _WIN32
#include <io.h>
#endif

#include "platform/file_calls.h"
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

// Narrowing the name would apply best-fit mappings (full-width dots and backslashes become "..\")
// and cut at a NUL: on Windows the file is opened by the caller's own UTF-16 text instead.
HRESULT OpenOutputFile(const OLECHAR* name, int* handle) {
  const FileCalls& io = ActiveFileCalls();
  *handle = io.createOutput(name);
  if (*handle == -1) return E_FAIL;
#ifdef _WIN32
  // NUL, CON, COM1, "dir\nul.jpg"... open fine and swallow the picture.
  if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(*handle))) != FILE_TYPE_DISK) {
    io.close(*handle);
    *handle = -1;
    return E_INVALIDARG;
  }
#endif
  return S_OK;
}

HRESULT WriteNewFile(const OLECHAR* name, const void* data, std::size_t size) {
  int handle = -1;
  const HRESULT hr = OpenOutputFile(name, &handle);
  if (FAILED(hr)) return hr;
  const bool written = WriteWhole(handle, data, size);
  // A close that fails may have lost bytes: the file is not what was asked for.
  const bool closed = ActiveFileCalls().close(handle) == 0;
  return written && closed ? S_OK : E_FAIL;
}

}  // namespace platform
