#include "com/work_object.h"

#include <string>

#include "com/dispatch.h"

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
HRESULT CVexorinWork::put_Store(BSTR newVal) {
  const HRESULT hr = core_.put_Store(newVal);
  return Described(hr, core_.Failure());
}

}  // namespace com
