// The image component: its state, the number it shows and the picture of that number.
// A plain object whose methods return HRESULTs and never let an exception out. The methods that the
// component also calls on itself are virtual, so those calls go through its own interface.
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace vexorin {

struct ComponentState {
  LONG Height = 30;
  LONG DigitCount = 0;
  LONG NumberValue = 0;
  LONG Noise = 0;
};

// Pictures of more pixels than this are refused before anything is allocated or written.
constexpr std::size_t kMaxPicturePixels = std::size_t{1} << 30;

// width x height as a byte count, or false when either is not positive or the product is over
// kMaxPicturePixels.
bool PictureBytes(LONG width, LONG height, std::size_t& bytes);

class VexorinComponent {
 public:
  // Digit count 0, then GenerateRnd(8) through the object's own interface, Height 30, Noise 0.
  VexorinComponent();
  VexorinComponent(const VexorinComponent&) = delete;
  VexorinComponent& operator=(const VexorinComponent&) = delete;
  virtual ~VexorinComponent() = default;

  virtual HRESULT STDMETHODCALLTYPE GenerateRnd(LONG adigits, LONG* pnumber);
  virtual HRESULT STDMETHODCALLTYPE SaveToFile(BSTR filePath);
  virtual HRESULT STDMETHODCALLTYPE get_Number(BSTR* pVal);
  virtual HRESULT STDMETHODCALLTYPE put_Number(BSTR newVal);
  virtual HRESULT STDMETHODCALLTYPE get_Height(LONG* pVal);
  virtual HRESULT STDMETHODCALLTYPE put_Height(LONG newVal);
  virtual HRESULT STDMETHODCALLTYPE get_Noise(LONG* pVal);
  virtual HRESULT STDMETHODCALLTYPE put_Noise(LONG newVal);
  virtual HRESULT STDMETHODCALLTYPE GetWidth(LONG* retVal);
  virtual HRESULT STDMETHODCALLTYPE GetImage(VARIANT* retVal);

  // Fills a caller-owned canvas of GetWidth() x Height bytes with the picture of the state.
  HRESULT RenderImage(BYTE* canvas);

  const ComponentState& State() const noexcept { return state_; }

 private:
  HRESULT GenerateRndBody(LONG adigits, LONG* pnumber);
  HRESULT GetNumberBody(BSTR* pVal);
  HRESULT SaveToFileBody(BSTR filePath);
  HRESULT GetImageBody(VARIANT* retVal);

  ComponentState state_;
};

// Turns the exception in flight into the HRESULT a method returns; call only inside a catch block.
// CAtlException gives its code, std::bad_alloc E_OUTOFMEMORY, a file alarm the code of its kind
// (FileAlarmHresult), anything else E_FAIL.
HRESULT HresultFromCurrentException() noexcept;

// The HRESULT that stands for a file alarm's message: opening 0x8007006E, reading 0x8007001E,
// writing 0x8007001D, anything else (seeking, closing) E_FAIL.
HRESULT FileAlarmHresult(const char* message) noexcept;

}  // namespace vexorin
