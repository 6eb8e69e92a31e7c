// What the component's classes share as COM objects: the interface table (their dual interface,
// IDispatch, IUnknown, ISupportErrorInfo), IUnknown delegated to the controlling object when
// aggregated, IDispatch through the type information of their interface, creation plain or
// aggregated, and one module lock per live object. A class derives from
// DispatchObject<itself, its interface> and gives `static REFIID InterfaceId()` and a constructor
// taking the controlling IUnknown (null when not aggregated).
#pragma once

#include <new>

#include "com/aggregated.h"
#include "com/dispatch.h"
#include "com/module.h"
#include "component/shared/guarded.h"

namespace com {

template <class Derived, class Interface>
class DispatchObject : public Interface, public ISupportErrorInfo {
 public:
  // Makes an object (aggregated when `outer` is given) and queries it for `iid`. The object's
  // construction may throw (the picture's draws its first number): that failure is the answer.
  static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    return vexorin::Guarded([&] {
      if (outer != nullptr) {
        auto* aggregated = new (std::nothrow) Aggregated<Derived>(outer);
        if (aggregated == nullptr) return E_OUTOFMEMORY;
        const HRESULT hr = aggregated->QueryInterface(iid, out);
        if (FAILED(hr)) delete aggregated;
        return hr;
      }
      auto* object = new (std::nothrow) Derived(nullptr);
      if (object == nullptr) return E_OUTOFMEMORY;
      const HRESULT hr = object->InternalQueryInterface(iid, out);
      if (FAILED(hr)) delete object;
      return hr;
    });
  }

  // IUnknown: delegated to the controlling object when aggregated.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return outer_ != nullptr ? outer_->QueryInterface(iid, out) : InternalQueryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return outer_ != nullptr ? outer_->AddRef() : InternalAddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return outer_ != nullptr ? outer_->Release() : InternalRelease(); }

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    return vexorin::Guarded([&] { return DispatchGetTypeInfoCount(count); });
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** out) override {
    return vexorin::Guarded([&] { return DispatchGetTypeInfo(Derived::InterfaceId(), index, locale, out); });
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override {
    return vexorin::Guarded(
        [&] { return DispatchGetIDsOfNames(Derived::InterfaceId(), iid, names, count, locale, ids); });
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override {
    return vexorin::Guarded([&] {
      return DispatchInvoke(Derived::InterfaceId(), static_cast<Interface*>(this), id, iid, locale, flags, params,
                            result, exception, argumentError);
    });
  }

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return IsEqualIID(iid, Derived::InterfaceId()) ? S_OK : S_FALSE;
  }

  // The fixed interface table, shared by the plain object and the aggregated form's inner unknown.
  HRESULT InternalQueryInterface(REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    IUnknown* answer = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, Derived::InterfaceId()) || IsEqualIID(iid, IID_IDispatch)) {
      answer = static_cast<Interface*>(this);
    } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
      answer = static_cast<ISupportErrorInfo*>(this);
    } else {
      return E_NOINTERFACE;
    }
    answer->AddRef();  // goes to the controlling object when aggregated
    *out = answer;
    return S_OK;
  }
  // A plain count, no interlocked calls: every class registers ThreadingModel "Apartment", so COM
  // makes and calls each object on one apartment's thread only (other threads get a proxy). A
  // free-threaded registration would need InterlockedIncrement here.
  ULONG InternalAddRef() { return static_cast<ULONG>(++refs_); }
  ULONG InternalRelease() {
    const LONG refs = --refs_;
    if (refs == 0) {
      refs_ = kDestroying;  // reference calls during tear-down never reach 0 again
      delete static_cast<Derived*>(this);
    }
    return static_cast<ULONG>(refs);
  }

 protected:
  explicit DispatchObject(IUnknown* outer) noexcept : outer_(outer) { ModuleLock(); }
  ~DispatchObject() { ModuleUnlock(); }
  DispatchObject(const DispatchObject&) = delete;
  DispatchObject& operator=(const DispatchObject&) = delete;

 private:
  LONG refs_ = 0;
  IUnknown* outer_;  // the controlling object, or null
};

}  // namespace com
