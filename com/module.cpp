#include "com/module.h"

#include <new>

namespace com {

namespace {
ServerModule module = {};
}  // namespace

ServerModule& Module() { return module; }
LONG ModuleLock() { return InterlockedIncrement(&module.lockCount); }
LONG ModuleUnlock() { return InterlockedDecrement(&module.lockCount); }

bool AddTermination(void (*function)(void*), void* argument) {
  auto* entry = new (std::nothrow) TerminationEntry{function, argument, module.termination};
  if (entry == nullptr) return false;
  module.termination = entry;
  return true;
}

}  // namespace com
