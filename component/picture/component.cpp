// PictureComponent: its state and every member.
// The drawing and the encoding are free functions of their own modules.
#include "component/picture/component.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "component/shared/guarded.h"
#include "component/picture/jpeg_output.h"
#include "component/picture/picture_random.h"
#include "component/picture/renderer.h"
#include "component/shared/byte_array.h"
#include "platform/errors.h"
#include "platform/file_calls.h"
#include "platform/output_file.h"
#include "platform/random_source.h"
#include "platform/text.h"

namespace vexorin {

HRESULT DrawDigits(LONG digits, std::uint32_t& value) {
  std::uint32_t modulus = 10;
  for (LONG i = 1; i < digits; ++i) modulus *= 10;
  return platform::SecureRandomBelow(modulus, value);
}

PictureComponent::PictureComponent() {
  // Never an object whose number did not come from the generator: creation fails instead.
  const HRESULT hr = GenerateRnd(8, &state_.NumberValue);
  if (FAILED(hr)) throw CAtlException(hr);
}

HRESULT PictureComponent::GenerateRnd(LONG adigits, LONG* pnumber) {
  return Guarded([&] {
    if (pnumber == nullptr) return E_POINTER;
    if (adigits == 0) return E_INVALIDARG;
    if (adigits > kMaxPictureDigits) adigits = kMaxPictureDigits;
    // Both from the system's generator, the picture's seed after the number: a picture tells
    // nothing about its number but the digits it shows, nor about any other picture.
    std::uint32_t value = 0;
    HRESULT hr = DrawDigits(adigits, value);
    if (FAILED(hr)) return hr;
    std::uint32_t pictureSeed = 0;
    hr = platform::SecureRandomWord(pictureSeed);
    if (FAILED(hr)) return hr;

    vexorin::SeedRandom(pictureSeed);
    *pnumber = static_cast<LONG>(value);
    state_.DigitCount = adigits;
    state_.NumberValue = static_cast<LONG>(value);
    return S_OK;
  });
}

HRESULT PictureComponent::get_Number(BSTR* pVal) {
  return Guarded([&] {
    if (pVal == nullptr) return E_POINTER;
    *pVal = nullptr;  // null on failure, never read
    // A digit count below 1 has no padding to give: the plain decimal value is shown.
    const int precision = state_.DigitCount >= 1 ? static_cast<int>(state_.DigitCount) : 1;
    // Precision pads with zeros to the digit count (as %0.8d does).
    char text[32];
    std::snprintf(text, sizeof text, "%.*d", precision, static_cast<int>(state_.NumberValue));
    *pVal = platform::MakeBstr(text);
    return S_OK;
  });
}

HRESULT PictureComponent::put_Number(BSTR newVal) {
  return Guarded([&] {
    const UINT length = SysStringLen(newVal);
    if (newVal == nullptr || length == 0) return E_INVALIDARG;
    std::string narrow;
    platform::NarrowFromWide(newVal, narrow);
    const std::size_t take = std::min<std::size_t>(length, kMaxPictureDigits);
    // The count is of UTF-16 units; the converted text may be shorter than that.
    const std::string head = narrow.substr(0, take);
    // Trap: stored before the refusal below, and kept. A page that puts "abc" gets E_INVALIDARG
    // and then reads Number as "000" and draws three digits; callers rely on it (and
    // NumberPutParsesAndPads holds it), so the check stays after the store.
    state_.DigitCount = static_cast<LONG>(take);
    state_.NumberValue = static_cast<LONG>(std::atol(head.c_str()));
    return state_.NumberValue != 0 ? S_OK : E_INVALIDARG;
  });
}

HRESULT PictureComponent::get_Height(LONG* pVal) {
  if (pVal == nullptr) return E_POINTER;
  *pVal = state_.Height;
  return S_OK;
}

HRESULT PictureComponent::put_Height(LONG newVal) {
  state_.Height = newVal < 20 ? 20 : newVal;
  return S_OK;
}

HRESULT PictureComponent::get_Noise(LONG* pVal) {
  if (pVal == nullptr) return E_POINTER;
  *pVal = state_.Noise;
  return S_OK;
}

HRESULT PictureComponent::put_Noise(LONG newVal) {
  state_.Noise = newVal;
  return S_OK;
}

HRESULT PictureComponent::GetWidth(LONG* retVal) {
  if (retVal == nullptr) return E_POINTER;
  *retVal = Width();
  return S_OK;
}

LONG PictureComponent::Width() const noexcept {
  // In 64 bits: 9 digits of a huge height would overflow; such widths are pinned to the range.
  const long long width = static_cast<long long>(state_.DigitCount) * state_.Height / 2;
  const long long lo = std::numeric_limits<LONG>::min();
  const long long hi = std::numeric_limits<LONG>::max();
  return static_cast<LONG>(width < lo ? lo : (width > hi ? hi : width));
}

HRESULT PictureComponent::MeasurePicture(PictureSize& size) const {
  const LONG width = Width();
  const LONG height = state_.Height;
  if (width <= 0 || height <= 0 || state_.DigitCount < 1 || state_.NumberValue < 0) return E_FAIL;
  const auto pixels = static_cast<unsigned long long>(width) * static_cast<unsigned long long>(height);
  if (pixels > kMaxPicturePixels) return E_FAIL;
  size.width = width;
  size.height = height;
  size.bytes = static_cast<std::size_t>(pixels);
  return S_OK;
}

HRESULT PictureComponent::RenderImage(BYTE* canvas, const PictureSize& size) {
  if (canvas == nullptr) return E_POINTER;
  std::memset(canvas, 255, size.bytes);
  DrawNumber(canvas, size.width, size.height, state_.DigitCount, state_.NumberValue);
  if (state_.Noise != 0) AddNoise(canvas, size.width, size.height);
  return S_OK;
}

HRESULT PictureComponent::Render(Canvas& canvas) {
  const HRESULT measured = MeasurePicture(canvas.size);
  if (FAILED(measured)) return measured;
  canvas.pixels.reset(new (std::nothrow) BYTE[canvas.size.bytes]);
  return RenderImage(canvas.pixels.get(), canvas.size);
}

HRESULT PictureComponent::EncodePicture(JpegBytes& jpeg) {
  Canvas canvas;
  const HRESULT rendered = Render(canvas);
  if (FAILED(rendered)) return rendered;
  return EncodeJpeg(canvas.pixels.get(), canvas.size.width, canvas.size.height, 100, jpeg);
}

HRESULT PictureComponent::SaveToFile(BSTR filePath) {
  return Guarded([&] {
    // Refused before anything is drawn: a name the system would read otherwise than given.
    const HRESULT named = platform::CheckOutputName(filePath, SysStringLen(filePath));
    if (FAILED(named)) return named;
    // Everything that can fail before the file is touched comes first: a failure there leaves an
    // existing file as it was.
    JpegBytes jpeg;
    const HRESULT hr = EncodePicture(jpeg);
    if (FAILED(hr)) return hr;
    return platform::WriteNewFile(filePath, jpeg.data.get(), jpeg.size);
  });
}

HRESULT PictureComponent::GetImage(VARIANT* retVal) {
  return Guarded([&] {
    if (retVal == nullptr) return E_POINTER;
    VariantInit(retVal);  // an [out] VARIANT: written, never read or cleared
    // The same bytes SaveToFile writes, copied from the encoder's buffer: no file, so no temporary
    // directory the page's account must be able to write.
    JpegBytes jpeg;
    const HRESULT hr = EncodePicture(jpeg);
    if (FAILED(hr)) return hr;
    return MakeByteArrayVariant(jpeg.data.get(), jpeg.size, retVal);
  });
}

}  // namespace vexorin
