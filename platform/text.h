// BSTR ownership and the component's text conversions, all through ConversionCodePage and always up
// to the terminating zero.
#pragma once

#include <string>

#include "platform.h"

namespace platform {

// Owns one BSTR; the release is part of the type, so no path forgets it.
class unique_bstr {
 public:
  unique_bstr() noexcept = default;
  explicit unique_bstr(BSTR text) noexcept : text_(text) {}
  unique_bstr(const unique_bstr&) = delete;
  unique_bstr& operator=(const unique_bstr&) = delete;
  unique_bstr(unique_bstr&& other) noexcept : text_(other.release()) {}
  unique_bstr& operator=(unique_bstr&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~unique_bstr() { reset(); }

  BSTR get() const noexcept { return text_; }
  BSTR release() noexcept {
    BSTR t = text_;
    text_ = nullptr;
    return t;
  }
  void reset(BSTR text = nullptr) noexcept {
    if (text_ != nullptr) SysFreeString(text_);
    text_ = text;
  }
  // Out-parameter rule: the owner is emptied before its address is handed out.
  BSTR* put() noexcept {
    reset();
    return &text_;
  }

 private:
  BSTR text_ = nullptr;
};

// UTF-16 text up to its first zero, converted to 8-bit text; false (and `out` empty) when the
// conversion fails. Throws std::bad_alloc when out of memory.
bool NarrowFromWide(const OLECHAR* text, std::string& out);

// 8-bit text converted to a new BSTR; throws CAtlException(E_OUTOFMEMORY) when that fails.
BSTR MakeBstr(const char* narrow);
// The same, returning null on failure.
BSTR MakeBstrNothrow(const char* narrow) noexcept;

}  // namespace platform
