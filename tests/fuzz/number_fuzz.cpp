// Number put with arbitrary UTF-16 text, then Number get, GetWidth and a render.
#include <cstdint>
#include <cstring>
#include <vector>

#include "component/picture/component.h"
#include "fuzz_support.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<OLECHAR> text(size / 2);
  if (!text.empty()) std::memcpy(text.data(), data, text.size() * sizeof(OLECHAR));
  platform::unique_bstr value(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
  vexorin::PictureComponent c;
  const HRESULT put = c.put_Number(value.get());
  if (put != S_OK && put != E_INVALIDARG) __builtin_trap();
  platform::unique_bstr number;
  if (FAILED(c.get_Number(number.put())) || number.get() == nullptr) __builtin_trap();
  LONG width = 0;
  c.GetWidth(&width);
  fuzz_support::CheckRender(c);
  return 0;
}
