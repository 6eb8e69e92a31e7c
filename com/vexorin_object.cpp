#include "com/vexorin_object.h"

#include <new>

#include "com/aggregated.h"
#include "com/dispatch.h"
#include "com/server_module.h"

namespace com {

// The host's page context, known by its published identifier; of it only get_Request is called.
// Not in an anonymous namespace: GCC would see no implementation of a file-local interface and
// compile the call through the host's vtable into a jump to nowhere.
const IID kIidScriptingContext = {0xD97A6DA0, 0xA868, 0x11CF, {0x83, 0xAE, 0x00, 0xB0, 0xC9, 0x0C, 0x2B, 0xD8}};

struct IScriptingContext : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_Request(IUnknown** request) = 0;  // the first own member
};

CVexorin::CVexorin(IUnknown* outer) : outer_(outer) { ModuleLock(); }

CVexorin::~CVexorin() {
  refs_ = kDestroying;  // reference calls during tear-down never reach 0 again
  ModuleUnlock();
}

HRESULT CVexorin::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  // Construction throws the generator's failure: no object holds a number that did not come from it.
  return vexorin::Guarded([&] {
    if (outer != nullptr) {
      auto* aggregated = new (std::nothrow) Aggregated<CVexorin>(outer);
      if (aggregated == nullptr) return E_OUTOFMEMORY;
      const HRESULT hr = aggregated->QueryInterface(iid, out);
      if (FAILED(hr)) delete aggregated;
      return hr;
    }
    auto* object = new (std::nothrow) CVexorin(nullptr);  // constructs the state with its defaults
    if (object == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = object->InternalQueryInterface(iid, out);
    if (FAILED(hr)) delete object;
    return hr;
  });
}

HRESULT CVexorin::InternalQueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  IUnknown* answer = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IVexorin) || IsEqualIID(iid, IID_IDispatch)) {
    answer = static_cast<IVexorin*>(this);
  } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
    answer = static_cast<ISupportErrorInfo*>(this);
  } else {
    return E_NOINTERFACE;
  }
  answer->AddRef();  // goes to the controlling object when aggregated
  *out = answer;
  return S_OK;
}

ULONG CVexorin::InternalAddRef() { return static_cast<ULONG>(++refs_); }

ULONG CVexorin::InternalRelease() {
  const LONG refs = --refs_;
  if (refs == 0) delete this;
  return static_cast<ULONG>(refs);
}

HRESULT CVexorin::QueryInterface(REFIID iid, void** out) {
  return outer_ != nullptr ? outer_->QueryInterface(iid, out) : InternalQueryInterface(iid, out);
}
ULONG CVexorin::AddRef() { return outer_ != nullptr ? outer_->AddRef() : InternalAddRef(); }
ULONG CVexorin::Release() { return outer_ != nullptr ? outer_->Release() : InternalRelease(); }

HRESULT CVexorin::GetTypeInfoCount(UINT* count) {
  return vexorin::Guarded([&] { return DispatchGetTypeInfoCount(count); });
}
HRESULT CVexorin::GetTypeInfo(UINT index, LCID locale, ITypeInfo** out) {
  return vexorin::Guarded([&] { return DispatchGetTypeInfo(IID_IVexorin, index, locale, out); });
}
HRESULT CVexorin::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) {
  return vexorin::Guarded([&] { return DispatchGetIDsOfNames(IID_IVexorin, iid, names, count, locale, ids); });
}
HRESULT CVexorin::Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* exception, UINT* argumentError) {
  return vexorin::Guarded([&] {
    return DispatchInvoke(IID_IVexorin, static_cast<IVexorin*>(this), id, iid, locale, flags, params, result, exception,
                          argumentError);
  });
}

HRESULT CVexorin::OnStartPage(IUnknown* piUnk) {
  return vexorin::Guarded([&] {
    if (piUnk == nullptr) return NoStaleErrorInfo(E_POINTER);
    platform::unique_com<IScriptingContext> context;
    HRESULT hr = piUnk->QueryInterface(kIidScriptingContext, reinterpret_cast<void**>(context.put()));
    if (FAILED(hr)) return ReportError(CLSID_CVexorin, "Can't obtain ScriptingContext", 0, nullptr, GUID_NULL, hr);
    // A second start without an end: give the earlier page's Request back first, so none leaks.
    hr = context.get()->get_Request(request_.put());
    if (FAILED(hr)) return ReportError(CLSID_CVexorin, "Can't obtain Request object", 0, nullptr, GUID_NULL, hr);
    return S_OK;
  });
}

HRESULT CVexorin::OnEndPage() {
  request_.reset();
  return S_OK;
}

HRESULT CVexorin::GenerateRnd(LONG adigits, LONG* pnumber) {
  return NoStaleErrorInfo(core_.GenerateRnd(adigits, pnumber));
}
HRESULT CVexorin::SaveToFile(BSTR filePath) { return NoStaleErrorInfo(core_.SaveToFile(filePath)); }
HRESULT CVexorin::get_Number(BSTR* pVal) { return NoStaleErrorInfo(core_.get_Number(pVal)); }
HRESULT CVexorin::put_Number(BSTR newVal) { return NoStaleErrorInfo(core_.put_Number(newVal)); }
HRESULT CVexorin::get_Height(LONG* pVal) { return NoStaleErrorInfo(core_.get_Height(pVal)); }
HRESULT CVexorin::put_Height(LONG newVal) { return NoStaleErrorInfo(core_.put_Height(newVal)); }
HRESULT CVexorin::get_Noise(LONG* pVal) { return NoStaleErrorInfo(core_.get_Noise(pVal)); }
HRESULT CVexorin::put_Noise(LONG newVal) { return NoStaleErrorInfo(core_.put_Noise(newVal)); }
HRESULT CVexorin::GetWidth(LONG* retVal) { return NoStaleErrorInfo(core_.GetWidth(retVal)); }
HRESULT CVexorin::GetImage(VARIANT* retVal) { return NoStaleErrorInfo(core_.GetImage(retVal)); }

HRESULT CVexorin::InterfaceSupportsErrorInfo(REFIID iid) {
  return IsEqualIID(iid, IID_IVexorin) ? S_OK : S_FALSE;
}

}  // namespace com
