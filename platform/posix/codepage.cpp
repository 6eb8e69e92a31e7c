#include "platform/platform.h"

#ifndef _WIN32
#include <new>
#include <string>

#include "platform/text.h"

namespace {
// Copies the converted units out with the Windows rules: size query, or fail with
// ERROR_INSUFFICIENT_BUFFER when they do not fit.
template <typename Unit, typename Text>
int Deliver(const Text& text, Unit* dst, int dstSize) {
  if (text.size() > 0x7FFFFFFF) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const int needed = static_cast<int>(text.size());
  if (dstSize == 0) return needed;
  if (needed > dstSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (int i = 0; i < needed; ++i) dst[i] = static_cast<Unit>(text[static_cast<std::size_t>(i)]);
  return needed;
}

constexpr DWORD kNotEnoughMemory = 8;  // ERROR_NOT_ENOUGH_MEMORY

// The Windows argument rules of both conversions, and the number of source units to convert
// (a length of -1 takes the text up to and including its terminating zero). 0 when refused.
template <typename Source, typename Destination>
std::size_t SourceUnits(const Source* src, int srcLength, const Destination* dst, int dstSize) {
  if (src == nullptr || srcLength == 0 || srcLength < -1 || dstSize < 0 ||
      (dstSize > 0 && dst == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (srcLength != -1) return static_cast<std::size_t>(srcLength);
  std::size_t n = 0;
  while (src[n] != 0) ++n;
  return n + 1;
}

int WideToMulti(LPCWSTR src, int srcLength, LPSTR dst, int dstSize, LPCSTR defaultChar,
                LPBOOL usedDefault) {
  const std::size_t n = SourceUnits(src, srcLength, dst, dstSize);
  if (n == 0) return 0;
  const char replacement = (defaultChar != nullptr && *defaultChar != 0) ? *defaultChar : '?';
  std::string out;
  out.reserve(n);
  const std::size_t replaced = platform::AppendUtf8(src, n, replacement, out);
  if (usedDefault != nullptr) *usedDefault = replaced != 0 ? 1 : 0;
  return Deliver(out, dst, dstSize);
}

int MultiToWide(LPCSTR src, int srcLength, LPWSTR dst, int dstSize) {
  const std::size_t n = SourceUnits(src, srcLength, dst, dstSize);
  if (n == 0) return 0;
  // Malformed bytes become U+FFFD, as the Windows conversion does by default.
  const std::u16string out = platform::Utf16FromUtf8(src, n);
  return Deliver(out, dst, dstSize);
}

}  // namespace

// C-style calls: running out of memory is a failed conversion, never an exception.
int WideCharToMultiByte(UINT, DWORD, LPCWSTR src, int srcLength, LPSTR dst, int dstSize,
                        LPCSTR defaultChar, LPBOOL usedDefault) {
  try {
    return WideToMulti(src, srcLength, dst, dstSize, defaultChar, usedDefault);
  } catch (const std::bad_alloc&) {
    SetLastError(kNotEnoughMemory);
    return 0;
  }
}

int MultiByteToWideChar(UINT, DWORD, LPCSTR src, int srcLength, LPWSTR dst, int dstSize) {
  try {
    return MultiToWide(src, srcLength, dst, dstSize);
  } catch (const std::bad_alloc&) {
    SetLastError(kNotEnoughMemory);
    return 0;
  }
}

namespace platform {
UINT ConversionCodePage() { return CP_UTF8; }
}  // namespace platform
#endif
