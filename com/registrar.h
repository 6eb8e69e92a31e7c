// Self-registration: the module's REGISTRY resources run against HKEY_CLASSES_ROOT, and its type
// library registered from the module file.
#pragma once

#include "platform/platform.h"

namespace com {

// Runs REGISTRY resource `id` of the module for registration or unregistration. `classId` is the
// class the script registers (for the AppID script: the picture's): while the DLL of the other
// bitness has it registered, unregistration leaves the keys both views share.
HRESULT RunRegistryScript(HINSTANCE module, UINT id, bool doRegister, REFCLSID classId);
HRESULT RegisterModuleTypeLib(HINSTANCE module);
HRESULT UnregisterModuleTypeLib(HINSTANCE module);

}  // namespace com
