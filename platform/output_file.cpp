#include "platform/output_file.h"

#ifdef _WIN32
#include <io.h>
#endif

#include <initializer_list>

#include "platform/file_calls.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace platform {

namespace {

bool IsSeparator(OLECHAR c) { return c == u'\\' || c == u'/'; }
bool IsAsciiLetter(OLECHAR c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
OLECHAR AsciiUpper(OLECHAR c) { return c >= u'a' && c <= u'z' ? static_cast<OLECHAR>(c - 32) : c; }

bool SameAsciiText(const OLECHAR* text, UINT length, const char* word) {
  UINT i = 0;
  for (; i < length && word[i] != 0; ++i) {
    if (AsciiUpper(text[i]) != static_cast<OLECHAR>(word[i])) return false;
  }
  return i == length && word[i] == 0;
}

// A NUL cuts the name short; text that is not well-formed UTF-16 has no UTF-8 form, and no
// sensible name on Windows either.
bool IsWellFormed(const OLECHAR* name, UINT length) {
  for (UINT i = 0; i < length; ++i) {
    if (name[i] == 0) return false;
  }
  return IsWellFormedUtf16(name, length);
}

// A name Windows opens as a device in any directory: "NUL", "nul.jpg", "COM1 .wav"; the part
// before the first dot, trailing spaces dropped, decides.
bool IsDeviceName(const OLECHAR* part, UINT length) {
  if (SameAsciiText(part, length, "CONIN$") || SameAsciiText(part, length, "CONOUT$")) return true;
  UINT base = 0;
  while (base < length && part[base] != u'.') ++base;
  while (base > 0 && part[base - 1] == u' ') --base;
  for (const char* device : {"CON", "PRN", "AUX", "NUL"}) {
    if (SameAsciiText(part, base, device)) return true;
  }
  if (base != 4) return false;
  const bool port = SameAsciiText(part, 3, "COM") || SameAsciiText(part, 3, "LPT");
  const OLECHAR n = part[3];
  return port && ((n >= u'0' && n <= u'9') || n == 0xB9 || n == 0xB2 || n == 0xB3);  // also ¹ ² ³
}

// Components from `start` on: none that Windows would trim ("evil.asp." and "x ." become others),
// none with a stream (":$DATA", ":hidden"), none that is a device. "." and ".." stay allowed.
bool ComponentsAreExact(const OLECHAR* name, UINT length, UINT start) {
  for (UINT begin = start; begin <= length;) {
    UINT end = begin;
    while (end < length && !IsSeparator(name[end])) ++end;
    const UINT size = end - begin;
    const OLECHAR* part = name + begin;
    const bool dots = (size == 1 && part[0] == u'.') || (size == 2 && part[0] == u'.' && part[1] == u'.');
    if (size > 0 && !dots) {
      if (part[size - 1] == u'.' || part[size - 1] == u' ') return false;
      for (UINT i = 0; i < size; ++i) {
        if (part[i] == u':') return false;
      }
      if (IsDeviceName(part, size)) return false;
    }
    begin = end + 1;
  }
  return true;
}

// Where the components of a name start, past its root: 0 for a relative name, after "X:" for a
// drive, after "\\server\share" for a share (also in its "\\?\UNC\" form). -1 for a name in
// the device or object namespaces ("\\.\", "\\?\" but for "\\?\X:\", "\??\"), whose text says it
// is no file on a disk, and for the shares that are pipes and mailslots.
int ComponentsStart(const OLECHAR* name, UINT length) {
  auto at = [&](UINT i) { return i < length ? name[i] : OLECHAR{0}; };
  UINT share = 0;  // where the server's name starts, for a share
  if (IsSeparator(at(0)) && IsSeparator(at(1))) {
    if ((at(2) == u'.' || at(2) == u'?') && (length == 3 || IsSeparator(at(3)))) {
      // "\\?\" with backslashes only, as Windows reads it: a drive path or a share.
      if (at(2) != u'?' || name[0] != u'\\' || name[1] != u'\\' || name[3] != u'\\') return -1;
      if (IsAsciiLetter(at(4)) && at(5) == u':' && at(6) == u'\\') return 6;
      if (length > 8 && SameAsciiText(name + 4, 3, "UNC") && name[7] == u'\\') {
        share = 8;
      } else {
        return -1;
      }
    } else {
      share = 2;
    }
  } else if (IsSeparator(at(0)) && at(1) == u'?' && at(2) == u'?' && IsSeparator(at(3))) {
    return -1;
  } else if (IsAsciiLetter(at(0)) && at(1) == u':') {
    return 2;
  }
  if (share == 0) return 0;
  UINT server = share;
  while (server < length && !IsSeparator(name[server])) ++server;
  UINT shareEnd = server + 1;
  while (shareEnd < length && !IsSeparator(name[shareEnd])) ++shareEnd;
  if (server >= length) return static_cast<int>(share);
  const OLECHAR* shareName = name + server + 1;
  const UINT shareSize = shareEnd - server - 1;
  // "\\host\pipe\x" is a named pipe on that host (this one too, as localhost or by address).
  if (SameAsciiText(shareName, shareSize, "PIPE") || SameAsciiText(shareName, shareSize, "MAILSLOT")) return -1;
  return static_cast<int>(share);
}

}  // namespace

HRESULT CheckOutputName(const OLECHAR* name, UINT length) {
  if (name == nullptr || length == 0 || !IsWellFormed(name, length)) return E_INVALIDARG;
  const int start = ComponentsStart(name, length);
  if (start < 0 || !ComponentsAreExact(name, length, static_cast<UINT>(start))) return E_INVALIDARG;
  return S_OK;
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
