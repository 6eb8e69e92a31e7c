// BSTR ownership and the component's text conversions: through ConversionCodePage and always up to
// the terminating zero, or between UTF-16 and UTF-8 whatever the code page.
#pragma once

#include <cstddef>
#include <string>

#include "owner.h"
#include "platform.h"

namespace platform {

// UTF-16 text up to its first zero, converted to 8-bit text; false (and `out` empty) when the
// conversion fails. Throws std::bad_alloc when out of memory.
bool NarrowFromWide(const OLECHAR* text, std::string& out);

// 8-bit text converted to a new BSTR; throws CAtlException(E_OUTOFMEMORY) when that fails.
BSTR MakeBstr(const char* narrow);
// The same, returning null on failure.
BSTR MakeBstrNothrow(const char* narrow) noexcept;

// UTF-16 and UTF-8, the one conversion between them. The surrogate rule: a high surrogate followed
// by a low one is one code point; any other surrogate is unpaired and has no UTF-8 form. Lengths
// count units, NULs included.

// No unpaired surrogate in `length` units.
bool IsWellFormedUtf16(const OLECHAR* text, std::size_t length) noexcept;
// Appends the UTF-8 form of `length` units to `out`, `unpaired` standing for each unpaired
// surrogate; returns how many there were. Throws std::bad_alloc.
std::size_t AppendUtf8(const OLECHAR* text, std::size_t length, char unpaired, std::string& out);
// The UTF-8 form; false (and `out` empty) when there is an unpaired surrogate. Throws std::bad_alloc.
bool Utf8FromUtf16(const OLECHAR* text, std::size_t length, std::string& out);
// No byte in `length` that starts no well-formed UTF-8 sequence (see Utf16FromUtf8).
bool IsWellFormedUtf8(const char* text, std::size_t length) noexcept;
// The UTF-16 form of `length` bytes of UTF-8; a byte that starts no well-formed sequence (overlong,
// a surrogate, beyond U+10FFFF, cut short) becomes U+FFFD. Throws std::bad_alloc.
std::u16string Utf16FromUtf8(const char* text, std::size_t length);
// The same as a new BSTR; throws std::bad_alloc when out of memory.
BSTR BstrFromUtf8(const std::string& text);

}  // namespace platform
