// CVexorin: the component behind IVexorin and ISupportErrorInfo, plain or aggregated. A thin shell:
// every member of the component is the core's.
#pragma once

#include "vexorin_h.h"
#include "component/component.h"
#include "platform/owner.h"

namespace com {

class CVexorin final : public IVexorin, public ISupportErrorInfo {
 public:
  // Makes an object (aggregated when `outer` is given) and queries it for `iid`.
  static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out);

  // IUnknown: delegated to the controlling object when aggregated.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** out) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

  // IVexorin
  HRESULT STDMETHODCALLTYPE OnStartPage(IUnknown* piUnk) override;
  HRESULT STDMETHODCALLTYPE OnEndPage() override;
  HRESULT STDMETHODCALLTYPE GenerateRnd(LONG adigits, LONG* pnumber) override;
  HRESULT STDMETHODCALLTYPE SaveToFile(BSTR filePath) override;
  HRESULT STDMETHODCALLTYPE get_Number(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Number(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_Height(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Height(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE get_Noise(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Noise(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE GetWidth(LONG* retVal) override;
  HRESULT STDMETHODCALLTYPE GetImage(VARIANT* retVal) override;

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

  // The fixed interface table, shared by the plain object and the aggregated form's inner unknown.
  HRESULT InternalQueryInterface(REFIID iid, void** out);
  ULONG InternalAddRef();
  ULONG InternalRelease();

 private:
  template <class>
  friend class Aggregated;
  explicit CVexorin(IUnknown* outer);
  ~CVexorin();

  LONG refs_ = 0;
  platform::unique_com<IUnknown> request_;  // the page's Request object while a page runs
  IUnknown* outer_;              // the controlling object, or null
  vexorin::VexorinComponent core_;
};

}  // namespace com
