// The byte arrays the members hand out (GetImage's JPEG, GetAudio's WAV): one builder, so the same
// failure gives the same code in both classes.
#pragma once

#include <cstddef>
#include <utility>

#include "platform/owner.h"
#include "platform/platform.h"

namespace vexorin {

// A new one-dimensional VT_UI1 array of `size` bytes, which `fill(BYTE* data)` writes and answers
// with an HRESULT. E_OUTOFMEMORY when no such array can be had; else fill's failure, or the access's.
// `array` is set only on success.
template <typename Fill>
HRESULT MakeByteArray(std::size_t size, Fill&& fill, platform::unique_safearray& array) {
  if constexpr (sizeof(std::size_t) > sizeof(ULONG)) {
    if (size > 0xFFFFFFFFu) return E_OUTOFMEMORY;  // beyond what a bound counts
  }
  SAFEARRAYBOUND bound;
  bound.cElements = static_cast<ULONG>(size);
  bound.lLbound = 0;
  platform::unique_safearray made(SafeArrayCreate(VT_UI1, 1, &bound));
  if (!made) return E_OUTOFMEMORY;
  {
    const platform::safearray_access<BYTE> access(made.get());
    if (FAILED(access.result())) return access.result();
    const HRESULT filled = fill(access.data());
    if (FAILED(filled)) return filled;
  }
  array = std::move(made);
  return S_OK;
}

}  // namespace vexorin
