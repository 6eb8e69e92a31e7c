#include "component/jpeg_output.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <jpeglib.h>

#include "component/component.h"
#include "platform/text.h"

namespace vexorin {

namespace {

struct JpegErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf recovery;
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  std::longjmp(manager->recovery, 1);
}

// Each gray byte becomes three equal bytes. One 4-byte store per pixel (its fourth byte is
// overwritten by the next pixel) instead of three dependent byte stores; the last pixel by hand.
void ExpandGrayToRgb(const BYTE* canvas, std::size_t pixels, JSAMPLE* rgb) {
  if (pixels == 0) return;
  for (std::size_t i = 0; i + 1 < pixels; ++i) {
    const std::uint32_t v = canvas[i] * 0x01010101u;
    std::memcpy(rgb + 3 * i, &v, sizeof v);
  }
  const std::size_t last = pixels - 1;
  rgb[3 * last] = rgb[3 * last + 1] = rgb[3 * last + 2] = canvas[last];
}

}  // namespace

// Between setjmp and the library calls this frame holds nothing with a destructor; what the failure
// path releases lives in volatile locals, since a longjmp may otherwise restore stale registers.
HRESULT WriteJpegFile(const BYTE* canvas, LONG width, LONG height, const char* path, LONG quality) {
  std::size_t pixels = 0;
  if (canvas == nullptr || path == nullptr || !PictureBytes(width, height, pixels)) return E_FAIL;
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;

  jpeg_compress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  JpegErrorManager errorManager;
  cinfo.err = jpeg_std_error(&errorManager.pub);
  errorManager.pub.error_exit = JpegErrorExit;
  std::FILE* volatile file = nullptr;
  JSAMPLE* volatile rgb = nullptr;

  if (setjmp(errorManager.recovery) != 0) {
    jpeg_destroy_compress(&cinfo);
    if (file != nullptr) std::fclose(file);
    std::free(rgb);
    return E_FAIL;
  }

  jpeg_create_compress(&cinfo);
  file = std::fopen(path, "wb");
  if (file == nullptr) {
    jpeg_destroy_compress(&cinfo);
    return E_FAIL;
  }
  rgb = static_cast<JSAMPLE*>(std::malloc(pixels * 3));
  if (rgb == nullptr) {
    jpeg_destroy_compress(&cinfo);
    std::fclose(file);
    return E_FAIL;
  }
  jpeg_stdio_dest(&cinfo, file);

  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, static_cast<int>(quality), TRUE);
  jpeg_start_compress(&cinfo, TRUE);

  JSAMPLE* const out = rgb;
  ExpandGrayToRgb(canvas, pixels, out);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = out + static_cast<std::size_t>(cinfo.next_scanline) * rowBytes;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }

  jpeg_finish_compress(&cinfo);
  std::FILE* const done = file;
  file = nullptr;
  const bool closed = std::fclose(done) == 0;
  jpeg_destroy_compress(&cinfo);
  std::free(rgb);
  // A close that fails has lost buffered bytes: the file is not the picture.
  return closed ? S_OK : E_FAIL;
}

HRESULT VexorinComponent::SaveToFile(BSTR filePath) {
  try {
    return SaveToFileBody(filePath);
  } catch (...) {
    return HresultFromCurrentException();
  }
}

HRESULT VexorinComponent::SaveToFileBody(BSTR filePath) {
  if (SysStringLen(filePath) == 0) return E_INVALIDARG;
  // A name that cannot be converted stays empty, and opening it fails below.
  std::string path;
  platform::NarrowFromWide(filePath, path);

  LONG width = 0;
  VexorinComponent* self = this;
  self->GetWidth(&width);
  if (width == 0) return E_FAIL;
  std::size_t bytes = 0;
  if (!PictureBytes(width, state_.Height, bytes)) return E_FAIL;

  struct CanvasOwner {
    BYTE* p;
    ~CanvasOwner() { delete[] p; }
  } canvas{new (std::nothrow) BYTE[bytes]};
  const HRESULT rendered = RenderImage(canvas.p);
  if (FAILED(rendered)) return rendered;
  const HRESULT written = WriteJpegFile(canvas.p, width, state_.Height, path.c_str(), 100);
  return FAILED(written) ? written : S_OK;
}

}  // namespace vexorin
