// The process-wide record of the DLL: the module's lock count, module lock and termination list.
// Everything in com/ counts against it; the exports (exports.cpp) set it up and tear it down.
#pragma once

#include "platform/platform.h"

namespace com {

struct TerminationEntry {
  void (*function)(void* argument);
  void* argument;
  TerminationEntry* next;
};

struct ServerModule {
  volatile LONG lockCount;
  CRITICAL_SECTION moduleLock;  // guards type-information loading and the termination list
  TerminationEntry* termination;
  bool initFailed;
  bool shutDown;
  HINSTANCE instance;
};

ServerModule& Module();
LONG ModuleLock();    // interlocked increment; returns the new count
LONG ModuleUnlock();  // interlocked decrement
// Pushes clean-up work at the head of the termination list; call with the module lock held.
// False when no entry could be allocated (the work then runs at once).
bool AddTermination(void (*function)(void*), void* argument);

}  // namespace com
