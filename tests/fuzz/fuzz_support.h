// Checks shared by the fuzz targets.
#pragma once

#include "component/component.h"

namespace fuzz_support {

// Draws the state when it can be drawn: a refusal is E_FAIL, no canvas E_POINTER; anything else
// is a finding.
inline void CheckRender(vexorin::VexorinComponent& c) {
  vexorin::Canvas canvas;
  const HRESULT r = c.Render(canvas);
  if (r != S_OK && r != E_FAIL && r != E_POINTER) __builtin_trap();
}

}  // namespace fuzz_support
