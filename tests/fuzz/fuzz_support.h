// Checks shared by the fuzz targets.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "component/picture/component.h"

namespace fuzz_support {

// Where an input's files go: TMPDIR when it names a directory, else `fallback`.
inline std::string TemporaryDirectory(const char* fallback) {
  const char* dir = std::getenv("TMPDIR");
  struct stat st;
  if (dir != nullptr && *dir != '\0' && stat(dir, &st) == 0 && S_ISDIR(st.st_mode)) return dir;
  return fallback;
}

// Draws the state when it can be drawn: a refusal is E_FAIL, no canvas E_POINTER; anything else
// is a finding.
inline void CheckRender(vexorin::PictureComponent& c) {
  vexorin::Canvas canvas;
  const HRESULT r = c.Render(canvas);
  if (r != S_OK && r != E_FAIL && r != E_POINTER) __builtin_trap();
}

}  // namespace fuzz_support
