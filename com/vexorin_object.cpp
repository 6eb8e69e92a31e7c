#include "com/vexorin_object.h"

#include <cstdio>
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
  if (outer != nullptr) {
    if (!IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
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
    if (piUnk == nullptr) return Described(E_POINTER, "OnStartPage");
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

// Each failing member describes its own failure: error information left on the thread by another
// call or component would otherwise reach a script as this call's message.
HRESULT CVexorin::GenerateRnd(LONG adigits, LONG* pnumber) {
  return Described(core_.GenerateRnd(adigits, pnumber), "GenerateRnd");
}
HRESULT CVexorin::SaveToFile(BSTR filePath) { return Described(core_.SaveToFile(filePath), "SaveToFile"); }
HRESULT CVexorin::get_Number(BSTR* pVal) { return Described(core_.get_Number(pVal), "Number"); }
HRESULT CVexorin::put_Number(BSTR newVal) { return Described(core_.put_Number(newVal), "Number"); }
HRESULT CVexorin::get_Height(LONG* pVal) { return Described(core_.get_Height(pVal), "Height"); }
HRESULT CVexorin::put_Height(LONG newVal) { return Described(core_.put_Height(newVal), "Height"); }
HRESULT CVexorin::get_Noise(LONG* pVal) { return Described(core_.get_Noise(pVal), "Noise"); }
HRESULT CVexorin::put_Noise(LONG newVal) { return Described(core_.put_Noise(newVal), "Noise"); }
HRESULT CVexorin::GetWidth(LONG* retVal) { return Described(core_.GetWidth(retVal), "GetWidth"); }
HRESULT CVexorin::GetImage(VARIANT* retVal) { return Described(core_.GetImage(retVal), "GetImage"); }

namespace {

const char* FailureText(HRESULT hr) {
  switch (static_cast<unsigned long>(hr)) {
    case 0x80070057ul: return "invalid argument";
    case 0x80004003ul: return "null pointer, or no memory for the picture";
    case 0x8007000Eul: return "out of memory";
    case 0x80004005ul: return "the picture could not be drawn or written";
    case 0x8007006Eul: return "the temporary file could not be opened";
    case 0x8007001Eul: return "the temporary file could not be read";
    default: return "failed";
  }
}

}  // namespace

HRESULT CVexorin::Described(HRESULT hr, const char* member) noexcept {
  if (SUCCEEDED(hr)) return hr;
  // Cleared first: when no description can be made, no stale one stays behind either.
  SetErrorInfo(0, nullptr);
  char description[128];
  std::snprintf(description, sizeof description, "%s: %s (0x%08lX)", member, FailureText(hr),
                static_cast<unsigned long>(hr));
  ReportError(CLSID_CVexorin, description, 0, nullptr, IID_IVexorin, hr);
  return hr;
}

HRESULT CVexorin::InterfaceSupportsErrorInfo(REFIID iid) {
  return IsEqualIID(iid, IID_IVexorin) ? S_OK : S_FALSE;
}

}  // namespace com
