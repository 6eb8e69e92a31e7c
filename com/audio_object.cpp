#include "com/audio_object.h"

#include <new>

#include "com/aggregated.h"
#include "com/dispatch.h"
#include "com/server_module.h"
#include "component/component.h"

namespace com {

CVexorinAudio::CVexorinAudio(IUnknown* outer) : outer_(outer) { ModuleLock(); }

CVexorinAudio::~CVexorinAudio() {
  refs_ = kDestroying;  // reference calls during tear-down never reach 0 again
  ModuleUnlock();
}

HRESULT CVexorinAudio::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  return vexorin::Guarded([&] {
    if (outer != nullptr) {
      auto* aggregated = new (std::nothrow) Aggregated<CVexorinAudio>(outer);
      if (aggregated == nullptr) return E_OUTOFMEMORY;
      const HRESULT hr = aggregated->QueryInterface(iid, out);
      if (FAILED(hr)) delete aggregated;
      return hr;
    }
    auto* object = new (std::nothrow) CVexorinAudio(nullptr);
    if (object == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = object->InternalQueryInterface(iid, out);
    if (FAILED(hr)) delete object;
    return hr;
  });
}

HRESULT CVexorinAudio::InternalQueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  IUnknown* answer = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IVexorinAudio) || IsEqualIID(iid, IID_IDispatch)) {
    answer = static_cast<IVexorinAudio*>(this);
  } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
    answer = static_cast<ISupportErrorInfo*>(this);
  } else {
    return E_NOINTERFACE;
  }
  answer->AddRef();  // goes to the controlling object when aggregated
  *out = answer;
  return S_OK;
}

ULONG CVexorinAudio::InternalAddRef() { return static_cast<ULONG>(++refs_); }

ULONG CVexorinAudio::InternalRelease() {
  const LONG refs = --refs_;
  if (refs == 0) delete this;
  return static_cast<ULONG>(refs);
}

HRESULT CVexorinAudio::QueryInterface(REFIID iid, void** out) {
  return outer_ != nullptr ? outer_->QueryInterface(iid, out) : InternalQueryInterface(iid, out);
}
ULONG CVexorinAudio::AddRef() { return outer_ != nullptr ? outer_->AddRef() : InternalAddRef(); }
ULONG CVexorinAudio::Release() { return outer_ != nullptr ? outer_->Release() : InternalRelease(); }

HRESULT CVexorinAudio::GetTypeInfoCount(UINT* count) {
  return vexorin::Guarded([&] { return DispatchGetTypeInfoCount(count); });
}
HRESULT CVexorinAudio::GetTypeInfo(UINT index, LCID locale, ITypeInfo** out) {
  return vexorin::Guarded([&] { return DispatchGetTypeInfo(IID_IVexorinAudio, index, locale, out); });
}
HRESULT CVexorinAudio::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) {
  return vexorin::Guarded([&] { return DispatchGetIDsOfNames(IID_IVexorinAudio, iid, names, count, locale, ids); });
}
HRESULT CVexorinAudio::Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                              EXCEPINFO* exception, UINT* argumentError) {
  return vexorin::Guarded([&] {
    return DispatchInvoke(IID_IVexorinAudio, static_cast<IVexorinAudio*>(this), id, iid, locale, flags, params,
                          result, exception, argumentError);
  });
}

HRESULT CVexorinAudio::get_Number(BSTR* pVal) { return NoStaleErrorInfo(core_.get_Number(pVal)); }
HRESULT CVexorinAudio::put_Number(BSTR newVal) { return NoStaleErrorInfo(core_.put_Number(newVal)); }
HRESULT CVexorinAudio::get_Noise(LONG* pVal) { return NoStaleErrorInfo(core_.get_Noise(pVal)); }
HRESULT CVexorinAudio::put_Noise(LONG newVal) { return NoStaleErrorInfo(core_.put_Noise(newVal)); }
HRESULT CVexorinAudio::GetAudio(VARIANT* retVal) { return NoStaleErrorInfo(core_.GetAudio(retVal)); }
HRESULT CVexorinAudio::SaveToFile(BSTR filePath) { return NoStaleErrorInfo(core_.SaveToFile(filePath)); }

HRESULT CVexorinAudio::InterfaceSupportsErrorInfo(REFIID iid) {
  return IsEqualIID(iid, IID_IVexorinAudio) ? S_OK : S_FALSE;
}

}  // namespace com
