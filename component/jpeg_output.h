// Baseline JFIF output of a gray canvas through libjpeg: RGB input of three equal channels,
// the library's defaults otherwise, quality as given (the component always passes 100).
#pragma once

#include "platform/platform.h"

namespace vexorin {

// Writes width x height gray bytes to `path` (narrow, in the conversion code page).
// S_OK, or E_FAIL: the file could not be opened, a buffer could not be had, or the library reported
// a fatal error (its message goes to standard error; a partly written file stays).
HRESULT WriteJpegFile(const BYTE* canvas, LONG width, LONG height, const char* path, LONG quality);

}  // namespace vexorin
