#include "component/jpeg_output.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <jpeglib.h>
#include <jerror.h>

#include "component/component.h"
#include "platform/text.h"

namespace vexorin {

namespace {

struct JpegErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf recovery;
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
  auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  std::longjmp(manager->recovery, 1);
}

// The host's standard error is the host's: the library's messages go nowhere.
void KeepQuiet(j_common_ptr) {}

// A growing malloc'd buffer as the library's destination; the caller frees `data` on every path.
struct MemoryDestination {
  jpeg_destination_mgr pub;
  unsigned char* data;
  std::size_t capacity;
};

void InitDestination(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  d->pub.next_output_byte = d->data;
  d->pub.free_in_buffer = d->capacity;
}

// The buffer is full: double it, or give up through the error exit.
boolean GrowDestination(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  const std::size_t used = d->capacity;
  void* larger = used <= std::numeric_limits<std::size_t>::max() / 2 ? std::realloc(d->data, used * 2) : nullptr;
  if (larger == nullptr) {
    cinfo->err->msg_code = JERR_OUT_OF_MEMORY;
    (*cinfo->err->error_exit)(reinterpret_cast<j_common_ptr>(cinfo));
  }
  d->data = static_cast<unsigned char*>(larger);
  d->capacity = used * 2;
  d->pub.next_output_byte = d->data + used;
  d->pub.free_in_buffer = d->capacity - used;
  return TRUE;
}

void TermDestination(j_compress_ptr) {}

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
};

// The library calls and their recovery point. The caller owns the compress object, the error
// manager, the destination and everything the failure path releases, so no local here changes
// between setjmp and longjmp, and nothing here has a destructor. False when the library gave up.
bool Compress(jpeg_compress_struct& cinfo, JpegErrorManager& errors, MemoryDestination& destination,
              const CompressJob& job) {
  if (setjmp(errors.recovery) != 0) return false;
  jpeg_create_compress(&cinfo);
  cinfo.dest = &destination.pub;
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

}  // namespace

HRESULT EncodeJpeg(const BYTE* canvas, LONG width, LONG height, LONG quality, JpegBytes& out) {
  if (canvas == nullptr || width <= 0 || height <= 0) return E_FAIL;
  const auto pixels = static_cast<unsigned long long>(width) * static_cast<unsigned long long>(height);
  if (pixels > kMaxPicturePixels) return E_FAIL;

  platform::unique_malloc<JSAMPLE> rgb(static_cast<JSAMPLE*>(std::malloc(static_cast<std::size_t>(pixels) * 3)));
  if (!rgb) return E_FAIL;
  ExpandGrayToRgb(canvas, static_cast<std::size_t>(pixels), rgb.get());

  // The header and tables take 623 bytes; the coded picture rarely takes half a byte a pixel.
  const std::size_t initial = 1024 + static_cast<std::size_t>(pixels) / 2;
  MemoryDestination destination = {{}, static_cast<unsigned char*>(std::malloc(initial)), initial};
  platform::unique_malloc<unsigned char> buffer;  // whatever the destination holds at the end
  if (destination.data == nullptr) return E_FAIL;
  destination.pub.init_destination = InitDestination;
  destination.pub.empty_output_buffer = GrowDestination;
  destination.pub.term_destination = TermDestination;

  jpeg_compress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);  // destroying an object that was never created is harmless
  JpegErrorManager errors;
  cinfo.err = jpeg_std_error(&errors.pub);
  errors.pub.error_exit = JpegErrorExit;
  errors.pub.output_message = KeepQuiet;
  const CompressJob job = {rgb.get(), static_cast<JDIMENSION>(width), static_cast<JDIMENSION>(height),
                           static_cast<int>(quality)};
  const bool compressed = Compress(cinfo, errors, destination, job);
  buffer.reset(destination.data);
  const std::size_t size = destination.capacity - destination.pub.free_in_buffer;
  jpeg_destroy_compress(&cinfo);
  if (!compressed) return E_FAIL;
  out.data = std::move(buffer);
  out.size = size;
  return S_OK;
}

HRESULT VexorinComponent::EncodePicture(JpegBytes& jpeg) {
  Canvas canvas;
  const HRESULT rendered = Render(canvas);
  if (FAILED(rendered)) return rendered;
  return EncodeJpeg(canvas.pixels.get(), canvas.size.width, canvas.size.height, 100, jpeg);
}

HRESULT VexorinComponent::SaveToFile(BSTR filePath) {
  return Guarded([&] {
    const UINT length = SysStringLen(filePath);
    if (length == 0) return E_INVALIDARG;
    // Refused before anything is drawn: a name the file system would read otherwise than given.
    if (!platform::IsExactFileName(filePath, length)) return E_INVALIDARG;
    // Everything that can fail before the file is touched comes first: a failure there leaves an
    // existing file as it was.
    JpegBytes jpeg;
    HRESULT hr = EncodePicture(jpeg);
    if (FAILED(hr)) return hr;
    platform::unique_file file;
    hr = platform::OpenOutputFile(filePath, file.put());
    if (FAILED(hr)) return hr;
    const bool written = std::fwrite(jpeg.data.get(), 1, jpeg.size, file.get()) == jpeg.size;
    // A close that fails has lost buffered bytes: the file is not the picture.
    const bool closed = std::fclose(file.release()) == 0;
    return written && closed ? S_OK : E_FAIL;
  });
}

}  // namespace vexorin
