// The picture: the component's state from the options, then SaveToFile, GetImage (-o -) or its raw
// canvas (--format pgm).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "cli/output.h"
#include "cli/runs.h"
#include "component/picture/component.h"
#include "component/shared/guarded.h"
#include "platform/text.h"

namespace cli {

namespace {

// The component refuses every state it draws no picture of with the same E_FAIL: the words come
// from its state. Empty when the picture is not what failed.
std::string WhyNoPicture(vexorin::PictureComponent& component) {
  vexorin::PictureSize size;
  if (SUCCEEDED(component.MeasurePicture(size))) return std::string();
  if (component.State().NumberValue < 0) return "a negative number has no picture (a sign has no glyph)";
  LONG width = 0, height = 0;
  component.GetWidth(&width);
  component.get_Height(&height);
  if (width > 0 && height > 0 &&
      static_cast<unsigned long long>(width) * static_cast<unsigned long long>(height) > vexorin::kMaxPicturePixels) {
    return "the picture is too large: " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels, more than the " + std::to_string(vexorin::kMaxPicturePixels) + " a picture may have";
  }
  return "no picture shows this number at this height";
}

int WritePgm(vexorin::PictureComponent& component, const char* path) {
  vexorin::Canvas canvas;
  const HRESULT hr = component.Render(canvas);
  if (FAILED(hr)) return Failed("Render", hr, WhyNoPicture(component));
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return Complain(std::string("cannot write '") + path + "': " + std::strerror(errno));
  std::fprintf(f, "P5\n%ld %ld\n255\n", static_cast<long>(canvas.size.width), static_cast<long>(canvas.size.height));
  const bool ok = std::fwrite(canvas.pixels.get(), 1, canvas.size.bytes, f) == canvas.size.bytes;
  // The close reports what the writes left in the buffer.
  if (std::fclose(f) != 0 || !ok) return Complain(std::string("cannot write '") + path + "'");
  return 0;
}

int WriteJpegToStdout(vexorin::PictureComponent& component) {
  platform::unique_variant image;
  const HRESULT hr = component.GetImage(image.put());
  if (FAILED(hr)) return Failed("GetImage", hr, WhyNoPicture(component));
  const platform::safearray_access<const BYTE> bytes(image.get().parray);
  if (FAILED(bytes.result())) return Failed("reading the picture", bytes.result());
  if (!WriteBytes(bytes.data(), bytes.size())) return Complain("cannot write the picture to standard output");
  return 0;
}

}  // namespace

int DrawPicture(const Options& o) {
  std::unique_ptr<vexorin::PictureComponent> created;
  const HRESULT made = vexorin::Guarded([&] {
    created = std::make_unique<vexorin::PictureComponent>();
    return S_OK;
  });
  if (FAILED(made)) return Failed("creating the component", made);
  vexorin::PictureComponent& component = *created;
  if (o.digits != 0) {
    LONG number = 0;
    const HRESULT hr = component.GenerateRnd(static_cast<LONG>(o.digits), &number);
    if (FAILED(hr)) return Failed("GenerateRnd", hr);
  }
  if (o.number != nullptr) {
    platform::unique_bstr text(platform::MakeBstrNothrow(o.number));
    if (text.get() == nullptr && *o.number != '\0') return Failed("converting the number", E_OUTOFMEMORY);
    const HRESULT hr = component.put_Number(text.get());
    if (FAILED(hr)) {
      return Failed(std::string("setting the number '") + o.number + "'", hr, "it starts with no number other than 0");
    }
  }
  if (o.hasHeight) component.put_Height(static_cast<LONG>(o.height));
  if (o.noise) component.put_Noise(1);

  const bool toStdout = std::strcmp(o.output, "-") == 0;
  int status = 0;
  if (toStdout) {
    status = WriteJpegToStdout(component);
  } else if (o.pgm) {
    status = WritePgm(component, o.output);
  } else {
    platform::unique_bstr path;
    if (!OutputPath(o.output, path)) return 1;
    const HRESULT hr = component.SaveToFile(path.get());
    if (FAILED(hr)) {
      std::string why = WhyNoPicture(component);
      if (why.empty()) why = WhyNotWritten(hr, path.get());
      return Failed(std::string("writing '") + o.output + "'", hr, why);
    }
  }
  if (status != 0) return status;

  platform::unique_bstr number;
  const HRESULT hr = component.get_Number(number.put());
  if (FAILED(hr)) return Failed("reading the number", hr);
  std::string text;
  platform::NarrowFromWide(number.get(), text);
  return PrintNumber(text, toStdout);
}

}  // namespace cli
