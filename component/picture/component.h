// The image component: its state, the number it shows and the picture of that number.
// A plain object whose methods return HRESULTs and never let an exception out.
#pragma once

#include <cstdint>

#include "component/picture/picture.h"
#include "platform/platform.h"

namespace vexorin {

struct JpegBytes;

struct ComponentState {
  LONG Height = 30;
  LONG DigitCount = 0;
  LONG NumberValue = 0;
  LONG Noise = 0;
};

// A number of `digits` (1 to 9) decimal digits, leading zeros counted, every one equally likely,
// from the system's generator (or the stand-in installed in its place); its failure otherwise.
HRESULT DrawDigits(LONG digits, std::uint32_t& value);

class PictureComponent {
 public:
  // Digit count 0, then GenerateRnd(8), Height 30, Noise 0.
  PictureComponent();
  PictureComponent(const PictureComponent&) = delete;
  PictureComponent& operator=(const PictureComponent&) = delete;

  HRESULT GenerateRnd(LONG adigits, LONG* pnumber);
  HRESULT SaveToFile(BSTR filePath);
  HRESULT get_Number(BSTR* pVal);
  HRESULT put_Number(BSTR newVal);
  HRESULT get_Height(LONG* pVal);
  HRESULT put_Height(LONG newVal);
  HRESULT get_Noise(LONG* pVal);
  HRESULT put_Noise(LONG newVal);
  HRESULT GetWidth(LONG* retVal);
  HRESULT GetImage(VARIANT* retVal);

  // The size of the picture of the current state, or E_FAIL for a state no picture shows: no digit,
  // a negative number (a sign has no glyph), a width of 0 or less, or more than kMaxPicturePixels.
  HRESULT MeasurePicture(PictureSize& size) const;
  // Fills a caller-owned canvas of size.bytes with the picture; `size` is MeasurePicture's answer
  // for the unchanged state.
  HRESULT RenderImage(BYTE* canvas, const PictureSize& size);
  // Measures, allocates and renders: MeasurePicture's refusal, or E_POINTER when no canvas could
  // be had.
  HRESULT Render(Canvas& canvas);

  const ComponentState& State() const noexcept { return state_; }

 private:
  LONG Width() const noexcept;
  // Renders the state and encodes its JPEG picture: the bytes SaveToFile and GetImage both write.
  HRESULT EncodePicture(JpegBytes& jpeg);

  ComponentState state_;
};

}  // namespace vexorin
