#include "com/work_object.h"

#include "com/dispatch.h"

namespace com {

HRESULT CVexorinWork::CreateChallenge(BSTR binding, BSTR* challenge) {
  return NoStaleErrorInfo(core_.CreateChallenge(binding, challenge));
}
HRESULT CVexorinWork::Verify(BSTR payload, BSTR binding, VARIANT_BOOL* verified) {
  return NoStaleErrorInfo(core_.Verify(payload, binding, verified));
}
HRESULT CVexorinWork::get_Reason(BSTR* pVal) { return NoStaleErrorInfo(core_.get_Reason(pVal)); }
HRESULT CVexorinWork::get_Cost(LONG* pVal) { return NoStaleErrorInfo(core_.get_Cost(pVal)); }
HRESULT CVexorinWork::put_Cost(LONG newVal) { return NoStaleErrorInfo(core_.put_Cost(newVal)); }
HRESULT CVexorinWork::get_Expires(LONG* pVal) { return NoStaleErrorInfo(core_.get_Expires(pVal)); }
HRESULT CVexorinWork::put_Expires(LONG newVal) { return NoStaleErrorInfo(core_.put_Expires(newVal)); }
HRESULT CVexorinWork::put_Secret(BSTR newVal) { return NoStaleErrorInfo(core_.put_Secret(newVal)); }

}  // namespace com
