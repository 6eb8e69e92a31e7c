#include "component/picture/jpeg_output.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <jpeglib.h>
#include <jerror.h>

#include "component/picture/picture.h"

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
// Not the library's jpeg_mem_dest: when its buffer fills it allocates a larger one and frees the
// caller's, so the caller's pointer dangles on the error path and the first buffer is never ours.
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

struct CompressJob {
  const BYTE* canvas;
  JDIMENSION width;
  JDIMENSION height;
  int quality;
  JSAMPLE* band;          // 16 padded rows, when the width is not a multiple of 8; else null
  JDIMENSION padded;      // its row length
  const JSAMPLE* chroma;  // one row of 128s, long enough for either chroma plane
};

// The library calls and their recovery point. The caller owns the compress object, the error
// manager, the destination and everything the failure path releases, so no local here changes
// between setjmp and longjmp, and nothing here has a destructor. False when the library gave up.
//
// Every pixel is gray, so the library's own colour conversion of three equal channels gives
// Y = gray and Cb = Cr = 128 exactly (its luma weights sum to one, its chroma weights to zero), and
// 4:2:0 downsampling of a constant is that constant: the planes are handed over ready-made. Its
// edge handling is matched: the last column repeated to a whole block, the last row to a whole
// MCU row; the blocks beyond that it makes itself.
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
  cinfo.raw_data_in = TRUE;
  jpeg_start_compress(&cinfo, TRUE);

  const JDIMENSION rowsPerPass = static_cast<JDIMENSION>(cinfo.max_v_samp_factor * DCTSIZE);  // 16
  JSAMPROW luma[2 * DCTSIZE];
  JSAMPROW chroma[DCTSIZE];
  for (JSAMPROW& row : chroma) row = const_cast<JSAMPLE*>(job.chroma);
  JSAMPARRAY planes[3] = {luma, chroma, chroma};
  while (cinfo.next_scanline < cinfo.image_height) {
    const JDIMENSION top = cinfo.next_scanline;
    for (JDIMENSION r = 0; r < rowsPerPass; ++r) {
      const JDIMENSION y = top + r < job.height ? top + r : job.height - 1;
      const BYTE* source = job.canvas + static_cast<std::size_t>(y) * job.width;
      if (job.band == nullptr) {
        luma[r] = const_cast<JSAMPLE*>(source);
      } else if (top + r < job.height || r == 0) {
        JSAMPLE* row = job.band + static_cast<std::size_t>(r) * job.padded;
        std::memcpy(row, source, job.width);
        std::memset(row + job.width, source[job.width - 1], job.padded - job.width);
        luma[r] = row;
      } else {
        luma[r] = luma[r - 1];  // below the picture: its last row again
      }
    }
    jpeg_write_raw_data(&cinfo, planes, rowsPerPass);
  }
  jpeg_finish_compress(&cinfo);
  return true;
}

}  // namespace

HRESULT EncodeJpeg(const BYTE* canvas, LONG width, LONG height, LONG quality, JpegBytes& out) {
  if (canvas == nullptr || width <= 0 || height <= 0) return E_FAIL;
  const auto pixels = static_cast<unsigned long long>(width) * static_cast<unsigned long long>(height);
  if (pixels > kMaxPicturePixels) return E_FAIL;

  // Rows a whole number of blocks long are read in place; others are copied out and padded.
  const JDIMENSION padded = (static_cast<JDIMENSION>(width) + 15) / 16 * 16;
  platform::unique_malloc<JSAMPLE> band;
  if (width % DCTSIZE != 0) {
    band.reset(static_cast<JSAMPLE*>(std::malloc(static_cast<std::size_t>(padded) * 2 * DCTSIZE)));
    if (!band) return E_FAIL;
  }
  platform::unique_malloc<JSAMPLE> chroma(static_cast<JSAMPLE*>(std::malloc(padded / 2)));
  if (!chroma) return E_FAIL;
  std::memset(chroma.get(), 128, padded / 2);

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
  const CompressJob job = {canvas, static_cast<JDIMENSION>(width), static_cast<JDIMENSION>(height),
                           static_cast<int>(quality), band.get(), padded, chroma.get()};
  const bool compressed = Compress(cinfo, errors, destination, job);
  buffer.reset(destination.data);
  const std::size_t size = destination.capacity - destination.pub.free_in_buffer;
  jpeg_destroy_compress(&cinfo);
  if (!compressed) return E_FAIL;
  out.data = std::move(buffer);
  out.size = size;
  return S_OK;
}

}  // namespace vexorin
