// CVexorinAudio: the spoken alternative behind IVexorinAudio and ISupportErrorInfo, plain or
// aggregated. A thin shell over the core's AudioComponent, with the picture object's plumbing.
#pragma once

#include "vexorin_h.h"
#include "com/dispatch_object.h"
#include "component/audio/audio.h"

namespace com {

class CVexorinAudio final : public DispatchObject<CVexorinAudio, IVexorinAudio> {
 public:
  static REFIID InterfaceId() { return IID_IVexorinAudio; }

  // IVexorinAudio
  HRESULT STDMETHODCALLTYPE get_Number(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Number(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_Noise(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Noise(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE GetAudio(VARIANT* retVal) override;
  HRESULT STDMETHODCALLTYPE SaveToFile(BSTR filePath) override;

 private:
  friend class DispatchObject<CVexorinAudio, IVexorinAudio>;
  template <class>
  friend class Aggregated;
  explicit CVexorinAudio(IUnknown* outer) : DispatchObject(outer) {}
  ~CVexorinAudio() = default;

  vexorin::AudioComponent core_;
};

}  // namespace com
