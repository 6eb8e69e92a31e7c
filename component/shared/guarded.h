// The one way an entry point that must not throw turns the exception in flight into its HRESULT;
// the component's classes, the tool and the COM layer all run their bodies through Guarded.
#pragma once

#include "platform/platform.h"

namespace vexorin {

// Turns the exception in flight into the HRESULT a method returns; call only inside a catch block.
// CAtlException gives its code, std::bad_alloc E_OUTOFMEMORY, anything else E_FAIL.
HRESULT HresultFromCurrentException() noexcept;

template <typename Body>
HRESULT Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return HresultFromCurrentException();
  }
}

}  // namespace vexorin
