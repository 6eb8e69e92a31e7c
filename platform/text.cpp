#include "text.h"

#include <new>

#include "errors.h"

namespace platform {

bool NarrowFromWide(const OLECHAR* text, std::string& out) {
  out.clear();
  if (text == nullptr) return true;
  const UINT codePage = ConversionCodePage();
  const int needed = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return false;
  std::string buffer(static_cast<std::size_t>(needed), '\0');
  if (WideCharToMultiByte(codePage, 0, text, -1, &buffer[0], needed, nullptr, nullptr) != needed) {
    return false;
  }
  buffer.resize(static_cast<std::size_t>(needed) - 1);  // drop the converted terminator
  out.swap(buffer);
  return true;
}

BSTR MakeBstrNothrow(const char* narrow) noexcept {
  if (narrow == nullptr) return nullptr;
  const UINT codePage = ConversionCodePage();
  const int needed = MultiByteToWideChar(codePage, 0, narrow, -1, nullptr, 0);
  if (needed <= 0) return nullptr;
  BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(needed - 1));
  if (text == nullptr) return nullptr;
  if (MultiByteToWideChar(codePage, 0, narrow, -1, text, needed) != needed) {
    SysFreeString(text);
    return nullptr;
  }
  return text;
}

BSTR MakeBstr(const char* narrow) {
  BSTR text = MakeBstrNothrow(narrow);
  if (text == nullptr) throw CAtlException(E_OUTOFMEMORY);
  return text;
}

namespace {

bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u < 0xDC00; }
bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u < 0xE000; }

// The code point at text[i] and the units it takes (2 for a pair); 0 units for an unpaired surrogate.
char32_t CodePointAt(const OLECHAR* text, std::size_t length, std::size_t i, std::size_t& units) {
  const char32_t u = static_cast<char16_t>(text[i]);
  if (IsHighSurrogate(u) && i + 1 < length && IsLowSurrogate(static_cast<char16_t>(text[i + 1]))) {
    units = 2;
    return 0x10000 + ((u - 0xD800) << 10) + (static_cast<char16_t>(text[i + 1]) - 0xDC00);
  }
  units = IsHighSurrogate(u) || IsLowSurrogate(u) ? 0 : 1;
  return u;
}

void AppendCodePoint(std::string& out, char32_t c) {
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

void AppendCodePoint(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

// The code point of the well-formed UTF-8 sequence at s[i] and its bytes; 0 bytes when none starts there.
char32_t CodePointAt(const unsigned char* s, std::size_t length, std::size_t i, std::size_t& bytes) {
  const unsigned char lead = s[i];
  bytes = 0;
  std::size_t extra = 0;
  char32_t c = 0;
  if (lead < 0x80) {
    c = lead;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    c = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    c = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    c = lead & 0x07;
  } else {
    return 0;
  }
  if (i + extra >= length) return 0;
  for (std::size_t k = 1; k <= extra; ++k) {
    const unsigned char trail = s[i + k];
    if ((trail & 0xC0) != 0x80) return 0;
    c = (c << 6) | (trail & 0x3F);
  }
  static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};  // shorter forms are overlong
  if (c < kLeast[extra] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return 0;
  bytes = extra + 1;
  return c;
}

}  // namespace

bool IsWellFormedUtf16(const OLECHAR* text, std::size_t length) noexcept {
  for (std::size_t i = 0, units = 0; i < length; i += units) {
    CodePointAt(text, length, i, units);
    if (units == 0) return false;
  }
  return true;
}

std::size_t AppendUtf8(const OLECHAR* text, std::size_t length, char unpaired, std::string& out) {
  std::size_t count = 0;
  for (std::size_t i = 0, units = 0; i < length; i += units) {
    const char32_t c = CodePointAt(text, length, i, units);
    if (units == 0) {
      out += unpaired;
      ++count;
      units = 1;
    } else {
      AppendCodePoint(out, c);
    }
  }
  return count;
}

bool Utf8FromUtf16(const OLECHAR* text, std::size_t length, std::string& out) {
  out.clear();
  if (AppendUtf8(text, length, '?', out) == 0) return true;
  out.clear();
  return false;
}

bool IsWellFormedUtf8(const char* text, std::size_t length) noexcept {
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  for (std::size_t i = 0, bytes = 0; i < length; i += bytes) {
    CodePointAt(s, length, i, bytes);
    if (bytes == 0) return false;
  }
  return true;
}

std::u16string Utf16FromUtf8(const char* text, std::size_t length) {
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  std::u16string out;
  out.reserve(length);
  for (std::size_t i = 0, bytes = 0; i < length; i += bytes) {
    const char32_t c = CodePointAt(s, length, i, bytes);
    if (bytes == 0) {
      out += u'\uFFFD';
      bytes = 1;
    } else {
      AppendCodePoint(out, c);
    }
  }
  return out;
}

BSTR BstrFromUtf8(const std::string& text) {
  const std::u16string wide = Utf16FromUtf8(text.data(), text.size());
  BSTR out = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()), static_cast<UINT>(wide.size()));
  if (out == nullptr) throw std::bad_alloc();
  return out;
}

}  // namespace platform
