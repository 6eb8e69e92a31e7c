#include "platform.h"

#ifndef _WIN32
#include <new>
#include <string>

namespace {
// Appends the UTF-8 form of one code point.
void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

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
}  // namespace

namespace {
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
  if (usedDefault != nullptr) *usedDefault = 0;
  std::string out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t u = src[i];
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < n && src[i + 1] >= 0xDC00 && src[i + 1] < 0xE000) {
      AppendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(src[i + 1]) - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u < 0xE000) {
      out += replacement;  // a lone surrogate has no UTF-8 form
      if (usedDefault != nullptr) *usedDefault = 1;
    } else {
      AppendUtf8(out, u);
    }
  }
  return Deliver(out, dst, dstSize);
}

int MultiToWide(LPCSTR src, int srcLength, LPWSTR dst, int dstSize) {
  const std::size_t n = SourceUnits(src, srcLength, dst, dstSize);
  if (n == 0) return 0;
  const auto* s = reinterpret_cast<const unsigned char*>(src);
  std::u16string out;
  out.reserve(n);
  for (std::size_t i = 0; i < n;) {
    const unsigned char b = s[i];
    int extra = 0;
    char32_t c = 0;
    if (b < 0x80) {
      c = b;
    } else if ((b & 0xE0) == 0xC0) {
      extra = 1;
      c = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2;
      c = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3;
      c = b & 0x07;
    } else {
      extra = -1;
    }
    bool valid = extra >= 0 && i + static_cast<std::size_t>(extra) < n;
    for (int k = 1; valid && k <= extra; ++k) {
      const unsigned char t = s[i + static_cast<std::size_t>(k)];
      if ((t & 0xC0) != 0x80) valid = false;
      c = (c << 6) | (t & 0x3F);
    }
    if (valid) {
      static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
      valid = c >= kMin[extra] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
    }
    if (valid) {
      AppendUtf16(out, c);
      i += static_cast<std::size_t>(extra) + 1;
    } else {
      out += u'\uFFFD';  // malformed byte: replaced, as the Windows conversion does by default
      ++i;
    }
  }
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
