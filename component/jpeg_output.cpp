#include "component/jpeg_output.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <jpeglib.h>

#include "component/component.h"
#include "platform/owner.h"
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

struct CompressJob {
  const JSAMPLE* rgb;
  JDIMENSION width;
  JDIMENSION height;
  int quality;
  std::FILE* file;
};

// The library calls and their recovery point. The caller owns the compress object, the error
// manager and everything the failure path releases, so no local here changes between setjmp and
// longjmp, and nothing here has a destructor. False when the library gave up.
bool Compress(jpeg_compress_struct& cinfo, JpegErrorManager& errors, const CompressJob& job) {
  if (setjmp(errors.recovery) != 0) return false;
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, job.file);
  cinfo.image_width = job.width;
  cinfo.image_height = job.height;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, job.quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  const std::size_t rowBytes = static_cast<std::size_t>(job.width) * 3;
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPLE*>(job.rgb) + static_cast<std::size_t>(cinfo.next_scanline) * rowBytes;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  return true;
}

void CloseFile(std::FILE* file) noexcept { std::fclose(file); }
using unique_file = platform::unique_any<std::FILE*, &CloseFile>;

}  // namespace

HRESULT WriteJpegFile(const BYTE* canvas, LONG width, LONG height, const char* path, LONG quality) {
  if (canvas == nullptr || path == nullptr || width <= 0 || height <= 0) return E_FAIL;
  const auto pixels = static_cast<unsigned long long>(width) * static_cast<unsigned long long>(height);
  if (pixels > kMaxPicturePixels) return E_FAIL;

  unique_file file(std::fopen(path, "wb"));
  if (!file) return E_FAIL;
  platform::unique_malloc<JSAMPLE> rgb(static_cast<JSAMPLE*>(std::malloc(static_cast<std::size_t>(pixels) * 3)));
  if (!rgb) return E_FAIL;
  ExpandGrayToRgb(canvas, static_cast<std::size_t>(pixels), rgb.get());

  jpeg_compress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);  // destroying an object that was never created is harmless
  JpegErrorManager errors;
  cinfo.err = jpeg_std_error(&errors.pub);
  errors.pub.error_exit = JpegErrorExit;
  const CompressJob job = {rgb.get(), static_cast<JDIMENSION>(width), static_cast<JDIMENSION>(height),
                           static_cast<int>(quality), file.get()};
  const bool compressed = Compress(cinfo, errors, job);
  jpeg_destroy_compress(&cinfo);
  if (!compressed) return E_FAIL;
  // A close that fails has lost buffered bytes: the file is not the picture.
  return std::fclose(file.release()) == 0 ? S_OK : E_FAIL;
}

HRESULT VexorinComponent::SaveToFile(BSTR filePath) {
  return Guarded([&] {
    if (SysStringLen(filePath) == 0) return E_INVALIDARG;
    // A name that cannot be converted stays empty, and opening it fails.
    std::string path;
    platform::NarrowFromWide(filePath, path);
    return SavePicture(path.c_str());
  });
}

HRESULT VexorinComponent::SavePicture(const char* path) {
  Canvas canvas;
  const HRESULT rendered = Render(canvas);
  if (FAILED(rendered)) return rendered;
  return WriteJpegFile(canvas.pixels.get(), canvas.size.width, canvas.size.height, path, 100);
}

}  // namespace vexorin
