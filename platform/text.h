// BSTR ownership and the component's text conversions, all through ConversionCodePage and always up
// to the terminating zero.
#pragma once

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

}  // namespace platform
