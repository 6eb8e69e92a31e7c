#include "com/picture_object.h"

#include "com/dispatch.h"
#include "component/shared/guarded.h"

namespace com {

// The host's page context, known by its published identifier; of it only get_Request is called.
// Not in an anonymous namespace: GCC would see no implementation of a file-local interface and
// compile the call through the host's vtable into a jump to nowhere.
const IID kIidScriptingContext = {0xD97A6DA0, 0xA868, 0x11CF, {0x83, 0xAE, 0x00, 0xB0, 0xC9, 0x0C, 0x2B, 0xD8}};

struct IScriptingContext : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_Request(IUnknown** request) = 0;  // the first own member
};

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

}  // namespace com
