#include "com/work_object.h"

#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include <dispex.h>

#include "com/dispatch.h"
#include "platform/owner.h"
#include "platform/text.h"

namespace com {

namespace {

// What the core says of a failure (a store's, a Store without a Secret) goes to the script as is;
// otherwise the caller's own mistakes and a lack of memory speak for themselves, and anything else
// is the platform's cryptography failing, which a script must see as an error with its reason.
HRESULT Described(HRESULT hr, const std::string& failure) {
  if (FAILED(hr) && !failure.empty()) {
    return ReportError(CLSID_CVexorinWork, failure.c_str(), 0, nullptr, IID_IVexorinWork, hr);
  }
  if (SUCCEEDED(hr) || hr == E_POINTER || hr == E_INVALIDARG || hr == E_OUTOFMEMORY) return NoStaleErrorInfo(hr);
  const char* description = hr == E_NOTIMPL
                                ? "This Windows has no PBKDF2 in bcrypt.dll (BCryptDeriveKeyPBKDF2, Windows 7 and later)"
                                : "The system's cryptography (bcrypt.dll) failed";
  return ReportError(CLSID_CVexorinWork, description, 0, nullptr, IID_IVexorinWork, hr);
}

// A page's own store: any object with AddIfAbsent(key, seconds) that returns True when it added the
// key (e.g. an INSERT on a primary key through ADO). Called on the page's thread, like the page's
// other objects; client counts stay the process's own.
// IDispatchEx's published identifier, here rather than from libuuid.
constexpr IID kIidDispatchEx = {0xa6ef9860, 0xc720, 0x11d0, {0x93, 0x37, 0x00, 0xa0, 0xc9, 0x0d, 0xca, 0xa9}};

class PageStore final : public vexorin::WorkStore {
 public:
  explicit PageStore(IDispatch* object) : object_(object) { object_->AddRef(); }
  ~PageStore() override { object_->Release(); }
  PageStore(const PageStore&) = delete;
  PageStore& operator=(const PageStore&) = delete;

  HRESULT AddIfAbsent(const std::string& key, std::int64_t milliseconds, bool& added, std::string& failure) override {
    added = false;
    DISPID id = 0;
    LPOLESTR name[] = {const_cast<LPOLESTR>(L"AddIfAbsent")};
    // A script class's object may name its members only through IDispatchEx (Wine's VBScript does).
    IDispatchEx* extended = nullptr;
    HRESULT hr = object_->GetIDsOfNames(IID_NULL, name, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr) && SUCCEEDED(object_->QueryInterface(kIidDispatchEx, reinterpret_cast<void**>(&extended)))) {
      platform::unique_bstr text(SysAllocString(name[0]));
      hr = text ? extended->GetDispID(text.get(), fdexNameCaseInsensitive, &id) : E_OUTOFMEMORY;
    }
    if (FAILED(hr)) {
      if (extended != nullptr) extended->Release();
      return Failed("has no AddIfAbsent method", hr, failure);
    }
    VARIANT args[2];  // in reverse: seconds, then the key
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[0].vt = VT_I4;
    args[0].lVal = static_cast<LONG>((milliseconds + 999) / 1000);
    args[1].vt = VT_BSTR;
    args[1].bstrVal = platform::MakeBstrNothrow(key.c_str());
    if (args[1].bstrVal == nullptr) {
      if (extended != nullptr) extended->Release();
      return E_OUTOFMEMORY;
    }
    DISPPARAMS params = {args, nullptr, 2, 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception = {};
    if (extended != nullptr) {
      hr = extended->InvokeEx(id, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &exception, nullptr);
      extended->Release();
    } else {
      hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &exception, nullptr);
    }
    VariantClear(&args[1]);
    std::string said;
    if (hr == DISP_E_EXCEPTION) {
      if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
      if (exception.bstrDescription != nullptr) {
        platform::Utf8FromUtf16(exception.bstrDescription, SysStringLen(exception.bstrDescription), said);
      }
      hr = exception.scode != 0 ? exception.scode : hr;
      SysFreeString(exception.bstrSource);
      SysFreeString(exception.bstrDescription);
      SysFreeString(exception.bstrHelpFile);
    }
    if (FAILED(hr)) return Failed(said.empty() ? "failed in AddIfAbsent" : "failed in AddIfAbsent: " + said, hr, failure);
    const bool boolean = result.vt == VT_BOOL;
    added = boolean && result.boolVal != VARIANT_FALSE;
    VariantClear(&result);
    if (!boolean) return Failed("returned no Boolean from AddIfAbsent", S_OK, failure);
    return S_OK;
  }
  HRESULT CountClient(const std::string&, double&, std::string& failure) override {
    failure = "a page's store keeps no client counts";
    return vexorin::kStoreFailed;
  }
  const std::string& Prefix() const override { return prefix_; }

 private:
  static HRESULT Failed(const std::string& what, HRESULT hr, std::string& failure) {
    char code[32] = "";
    if (FAILED(hr)) std::snprintf(code, sizeof code, " (HRESULT 0x%08lX)", static_cast<unsigned long>(hr));
    failure = "The page's store object " + what + code;
    return vexorin::kStoreFailed;
  }
  IDispatch* object_;
  const std::string prefix_;
};

}  // namespace

HRESULT CVexorinWork::CreateChallenge(BSTR binding, BSTR client, BSTR* challenge) {
  const HRESULT hr = core_.CreateChallenge(binding, client, challenge);
  return Described(hr, core_.Failure());
}
HRESULT CVexorinWork::Verify(BSTR payload, BSTR binding, VARIANT_BOOL* verified) {
  const HRESULT hr = core_.Verify(payload, binding, verified);
  return Described(hr, core_.Failure());
}
HRESULT CVexorinWork::get_Reason(BSTR* pVal) { return NoStaleErrorInfo(core_.get_Reason(pVal)); }
HRESULT CVexorinWork::get_Cost(LONG* pVal) { return NoStaleErrorInfo(core_.get_Cost(pVal)); }
HRESULT CVexorinWork::put_Cost(LONG newVal) { return NoStaleErrorInfo(core_.put_Cost(newVal)); }
HRESULT CVexorinWork::get_Expires(LONG* pVal) { return NoStaleErrorInfo(core_.get_Expires(pVal)); }
HRESULT CVexorinWork::put_Expires(LONG newVal) { return NoStaleErrorInfo(core_.put_Expires(newVal)); }
HRESULT CVexorinWork::put_Secret(BSTR newVal) { return NoStaleErrorInfo(core_.put_Secret(newVal)); }
HRESULT CVexorinWork::get_MaxCost(LONG* pVal) { return NoStaleErrorInfo(core_.get_MaxCost(pVal)); }
HRESULT CVexorinWork::put_MaxCost(LONG newVal) { return NoStaleErrorInfo(core_.put_MaxCost(newVal)); }
HRESULT CVexorinWork::get_Statistics(BSTR* pVal) { return NoStaleErrorInfo(core_.get_Statistics(pVal)); }
HRESULT CVexorinWork::putref_Store(IDispatch* newVal) {
  try {
    return NoStaleErrorInfo(core_.SetStore(newVal != nullptr ? std::make_shared<PageStore>(newVal) : nullptr));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}
HRESULT CVexorinWork::put_Store(BSTR newVal) {
  const HRESULT hr = core_.put_Store(newVal);
  return Described(hr, core_.Failure());
}

}  // namespace com
