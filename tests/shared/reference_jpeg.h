// The straightforward route, kept as the reference the component's encoder is held to: libjpeg
// alone with the component's settings, gray expanded to three equal channels and handed to the
// library's colour conversion and downsampling, quality 100.
#pragma once

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "platform/platform.h"

namespace reference_jpeg {

// To `file`, or to memory when `file` is null (the caller frees *mem).
inline void Encode(const BYTE* canvas, LONG width, LONG height, FILE* file, unsigned char** mem = nullptr,
                   unsigned long* memSize = nullptr) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  if (file != nullptr) {
    jpeg_stdio_dest(&cinfo, file);
  } else {
    jpeg_mem_dest(&cinfo, mem, memSize);
  }
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 100, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  std::vector<JSAMPLE> rgb(pixels * 3);
  for (std::size_t i = 0; i < pixels; ++i) rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = canvas[i];
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = rgb.data() + static_cast<std::size_t>(cinfo.next_scanline) * static_cast<std::size_t>(width) * 3;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
}

// The whole file in memory.
inline std::vector<unsigned char> EncodeToBytes(const BYTE* canvas, LONG width, LONG height) {
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  Encode(canvas, width, height, nullptr, &mem, &size);
  std::vector<unsigned char> out(mem, mem + size);
  std::free(mem);
  return out;
}

// A decoded file, in the channels it stores (no conversion back to RGB).
struct Decoded {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> ycc;  // 3 bytes per pixel: Y, Cb, Cr
};

namespace detail {

struct DecodeError {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

// The library calls and their recovery point, alone in this frame: the caller owns the decompress
// object, its error manager and the output, and nothing here has a destructor.
inline bool DecodeFrame(jpeg_decompress_struct& d, DecodeError& err, const unsigned char* data, std::size_t size,
                        Decoded& out) {
  if (setjmp(err.jump) != 0) return false;
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, data, static_cast<unsigned long>(size));
  jpeg_read_header(&d, TRUE);
  d.out_color_space = JCS_YCbCr;
  jpeg_start_decompress(&d);
  out.width = static_cast<int>(d.output_width);
  out.height = static_cast<int>(d.output_height);
  out.ycc.assign(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height) * 3, 0);
  while (d.output_scanline < d.output_height) {
    JSAMPROW row = out.ycc.data() + static_cast<std::size_t>(d.output_scanline) * static_cast<std::size_t>(out.width) * 3;
    jpeg_read_scanlines(&d, &row, 1);
  }
  jpeg_finish_decompress(&d);
  return true;
}

}  // namespace detail

// False when the library gives up on the bytes.
inline bool Decode(const unsigned char* data, std::size_t size, Decoded& out) {
  jpeg_decompress_struct d;
  std::memset(&d, 0, sizeof d);  // destroying an object that was never created is harmless
  detail::DecodeError err;
  d.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<detail::DecodeError*>(c->err)->jump, 1); };
  const bool decoded = detail::DecodeFrame(d, err, data, size, out);
  jpeg_destroy_decompress(&d);
  return decoded;
}

}  // namespace reference_jpeg
