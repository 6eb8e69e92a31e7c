// CVexorinWork: the proof of work behind IVexorinWork and ISupportErrorInfo, plain or aggregated.
// A thin shell over the core's WorkComponent, with the other classes' plumbing.
#pragma once

#include "vexorin_h.h"
#include "com/dispatch_object.h"
#include "component/work/work.h"

namespace com {

class CVexorinWork final : public DispatchObject<CVexorinWork, IVexorinWork> {
 public:
  static REFIID InterfaceId() { return IID_IVexorinWork; }

  // IVexorinWork
  HRESULT STDMETHODCALLTYPE CreateChallenge(BSTR binding, BSTR client, BSTR* challenge) override;
  HRESULT STDMETHODCALLTYPE Verify(BSTR payload, BSTR binding, VARIANT_BOOL* verified) override;
  HRESULT STDMETHODCALLTYPE get_Reason(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE get_Cost(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Cost(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE get_Expires(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Expires(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE put_Secret(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_MaxCost(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE put_MaxCost(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE get_Statistics(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Store(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE putref_Store(IDispatch* newVal) override;

 private:
  friend class DispatchObject<CVexorinWork, IVexorinWork>;
  template <class>
  friend class Aggregated;
  explicit CVexorinWork(IUnknown* outer) : DispatchObject(outer) {}
  ~CVexorinWork() = default;

  vexorin::WorkComponent core_;
};

}  // namespace com
