// Self-registration: the module's REGISTRY resources run against HKEY_CLASSES_ROOT, and its type
// library registered from the module file.
#pragma once

#include "platform/platform.h"

namespace com {

// Runs REGISTRY resource `id` of the module for registration or unregistration, stopping at the
// first failure. `classId` is the class the script registers (for the AppID script: the picture's):
// while the DLL of the other bitness has it registered, unregistration leaves the keys both views
// share. A malformed script gives DISP_E_EXCEPTION with the parser's message as error information.
HRESULT RunRegistryScript(HINSTANCE module, UINT id, bool doRegister, REFCLSID classId);
HRESULT RegisterModuleTypeLib(HINSTANCE module);
HRESULT UnregisterModuleTypeLib(HINSTANCE module);

struct RegistryScript {
  UINT id;
  const CLSID* classId;
};
// Registration: the scripts in order, then the type library. A failure at any step undoes every
// step begun, the failed one too, by unregistration (the same rule for the shared keys) and in
// reverse order, and is returned.
HRESULT RegisterModule(HINSTANCE module, const RegistryScript* scripts, std::size_t count);

}  // namespace com
