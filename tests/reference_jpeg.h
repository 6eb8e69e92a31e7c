// The straightforward route, kept as the reference the component's encoder is held to: libjpeg
// alone with the component's settings, gray expanded to three equal channels and handed to the
// library's colour conversion and downsampling, quality 100.
#pragma once

#include <cstdio>
#include <cstdlib>
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

}  // namespace reference_jpeg
