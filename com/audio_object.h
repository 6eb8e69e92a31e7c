// CVexorinAudio: the spoken alternative behind IVexorinAudio and ISupportErrorInfo, plain or
// aggregated. A thin shell over the core's AudioComponent, with the picture object's plumbing.
#pragma once

#include "vexorin_h.h"
#include "component/audio.h"

namespace com {

class CVexorinAudio final : public IVexorinAudio, public ISupportErrorInfo {
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

  // IVexorinAudio
  HRESULT STDMETHODCALLTYPE get_Number(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Number(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_Noise(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Noise(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE GetAudio(VARIANT* retVal) override;
  HRESULT STDMETHODCALLTYPE SaveToFile(BSTR filePath) override;

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

  // The fixed interface table, shared by the plain object and the aggregated form's inner unknown.
  HRESULT InternalQueryInterface(REFIID iid, void** out);
  ULONG InternalAddRef();
  ULONG InternalRelease();

 private:
  template <class>
  friend class Aggregated;
  explicit CVexorinAudio(IUnknown* outer);
  ~CVexorinAudio();

  LONG refs_ = 0;
  IUnknown* outer_;  // the controlling object, or null
  vexorin::AudioComponent core_;
};

}  // namespace com
