#include "com/vexorin_object.h"

#include <new>

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

namespace {

constexpr LONG kDestroying = static_cast<LONG>(0xC0000001u);

}  // namespace

// The aggregated form: its own non-delegating IUnknown and count, around a contained object whose
// IUnknown methods go to the controlling object.
class AggregatedVexorin final : public IUnknown {
 public:
  explicit AggregatedVexorin(IUnknown* outer) : contained_(outer) {}

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
  CVexorin contained_;
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
      auto* aggregated = new (std::nothrow) AggregatedVexorin(outer);
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
  return vexorin::Guarded([&] { return DispatchGetTypeInfo(index, locale, out); });
}
HRESULT CVexorin::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) {
  return vexorin::Guarded([&] { return DispatchGetIDsOfNames(iid, names, count, locale, ids); });
}
HRESULT CVexorin::Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* exception, UINT* argumentError) {
  return vexorin::Guarded([&] {
    return DispatchInvoke(static_cast<IVexorin*>(this), id, iid, locale, flags, params, result, exception,
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

// A failing member leaves no error information on the thread: what another call or component left
// there would otherwise reach a script as this call's message. Without it a script engine shows the
// HRESULT as its own error (VBScript: E_INVALIDARG is its error 5), as scripts expect.
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

HRESULT CVexorin::NoStaleErrorInfo(HRESULT hr) noexcept {
  if (FAILED(hr)) SetErrorInfo(0, nullptr);
  return hr;
}

HRESULT CVexorin::InterfaceSupportsErrorInfo(REFIID iid) {
  return IsEqualIID(iid, IID_IVexorin) ? S_OK : S_FALSE;
}

}  // namespace com
