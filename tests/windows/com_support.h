// Helpers of the Windows COM test programs.
#pragma once

#include "platform/platform.h"

namespace testing_support {

// GetProcAddress gives a generic function pointer; the export's real type is known to the caller.
template <typename Function>
Function Export(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace testing_support
