// GetImage's route for the picture's bytes: through a temporary file of the call's own. Callers get
// the bytes of the file the component writes, and that file's failure codes.
#pragma once

#include "component/picture/jpeg_output.h"
#include "platform/owner.h"
#include "platform/platform.h"

namespace vexorin {

// Writes `jpeg` to a fresh temporary file, reads the file back into a new VT_UI1 array in one block
// and leaves no file behind on any path. E_FAIL when no name can be had, the write comes up short,
// a seek or the close fails; E_OUTOFMEMORY when the array cannot be made; 0x8007006E when the file
// cannot be opened; 0x8007001E when reading it back fails. Throws std::bad_alloc only.
HRESULT BytesThroughTemporaryFile(const JpegBytes& jpeg, platform::unique_safearray& array);

}  // namespace vexorin
