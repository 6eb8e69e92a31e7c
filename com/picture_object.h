// CVexorin: the picture behind IVexorin and ISupportErrorInfo, plain or aggregated (the class keeps
// the type library's name). A thin shell: every member is the core PictureComponent's.
#pragma once

#include "vexorin_h.h"
#include "com/dispatch_object.h"
#include "component/picture/component.h"
#include "platform/owner.h"

namespace com {

class CVexorin final : public DispatchObject<CVexorin, IVexorin> {
 public:
  static REFIID InterfaceId() { return IID_IVexorin; }

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

 private:
  friend class DispatchObject<CVexorin, IVexorin>;
  template <class>
  friend class Aggregated;
  explicit CVexorin(IUnknown* outer) : DispatchObject(outer) {}
  ~CVexorin() = default;

  platform::unique_com<IUnknown> request_;  // the page's Request object while a page runs
  vexorin::PictureComponent core_;          // draws its first number: may throw
};

}  // namespace com
