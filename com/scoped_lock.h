// A critical section held for a scope: entered by the constructor, left by the destructor, on
// every path out.
#pragma once

#include "platform/platform.h"

namespace com {

class ScopedLock {
 public:
  explicit ScopedLock(CRITICAL_SECTION& section) noexcept : section_(section) { EnterCriticalSection(&section_); }
  ~ScopedLock() { LeaveCriticalSection(&section_); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  CRITICAL_SECTION& section_;
};

}  // namespace com
