// The aggregated form of a class: its own non-delegating IUnknown and count, around a contained
// object whose IUnknown methods go to the controlling object.
#pragma once

#include "platform/platform.h"

namespace com {

// Set while an object is destroyed: reference calls during tear-down never reach 0 again.
constexpr LONG kDestroying = static_cast<LONG>(0xC0000001u);

// Contained: a class with a constructor taking the controlling IUnknown, and InternalQueryInterface.
template <class Contained>
class Aggregated final : public IUnknown {
 public:
  explicit Aggregated(IUnknown* outer) : contained_(outer) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown)) {
      *out = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return contained_.InternalQueryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG refs = --refs_;
    if (refs == 0) {
      refs_ = kDestroying;
      delete this;
    }
    return static_cast<ULONG>(refs);
  }

 private:
  LONG refs_ = 0;
  Contained contained_;
};

}  // namespace com
