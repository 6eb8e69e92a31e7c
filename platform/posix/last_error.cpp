#include "platform/platform.h"

#ifndef _WIN32
namespace {
thread_local DWORD lastError = 0;
}  // namespace

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }
#endif
