#include "text.h"

#include <vector>

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

}  // namespace platform
