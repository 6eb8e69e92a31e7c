// The byte arrays the members hand out (GetImage's JPEG, GetAudio's WAV): one maker, so the same
// failure gives the same code in both classes.
#pragma once

#include <cstddef>
#include <cstring>

#include "platform/owner.h"
#include "platform/platform.h"

namespace vexorin {

// Puts a copy of the `size` bytes at `bytes` into `out` as a new one-dimensional VT_UI1 array.
// E_OUTOFMEMORY when no such array can be had, else the access's failure; `out` is written only
// on success.
inline HRESULT MakeByteArrayVariant(const void* bytes, std::size_t size, VARIANT* out) {
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
    if (size != 0) std::memcpy(access.data(), bytes, size);
  }
  out->vt = VT_ARRAY | VT_UI1;
  out->parray = made.release();
  return S_OK;
}

}  // namespace vexorin
