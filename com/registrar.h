// Self-registration: the module's REGISTRY resources run against HKEY_CLASSES_ROOT, and its type
// library registered from the module file.
#pragma once

#include "platform/platform.h"

namespace com {

// Runs REGISTRY resource `id` of the module for registration or unregistration.
HRESULT RunRegistryScript(HINSTANCE module, UINT id, bool doRegister);
HRESULT RegisterModuleTypeLib(HINSTANCE module);
HRESULT UnregisterModuleTypeLib(HINSTANCE module);

}  // namespace com
