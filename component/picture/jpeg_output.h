// Baseline JFIF output of a gray canvas through libjpeg: the library's defaults for a colour picture
// of three equal channels, quality as given (the component always passes 100), into memory.
#pragma once

#include <cstddef>

#include "platform/owner.h"
#include "platform/platform.h"

namespace vexorin {

// A whole JPEG file in memory; the owner frees it.
struct JpegBytes {
  platform::unique_malloc<unsigned char> data;
  std::size_t size = 0;
};

// Encodes width x height gray bytes. E_FAIL when the input is missing, a buffer cannot be had or
// the library gives up (a side above its 65500-pixel limit); nothing is printed.
HRESULT EncodeJpeg(const BYTE* canvas, LONG width, LONG height, LONG quality, JpegBytes& out);

}  // namespace vexorin
