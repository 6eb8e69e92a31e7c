// The DLL's entry point and its four exports, over the class table with its cached class objects.
#include <atomic>
#include <iterator>

#include "com/audio_object.h"
#include "com/class_object.h"
#include "com/module.h"
#include "com/picture_object.h"
#include "com/registrar.h"
#include "com/resource_ids.h"
#include "com/scoped_lock.h"
#include "com/work_object.h"
#include "component/shared/guarded.h"
#include "component/work/work_ledger.h"
#include "vexorin_h.h"

namespace com {

namespace {

constexpr UINT kAppIdScript = VEXORIN_APPID_SCRIPT;

struct ClassEntry {
  const CLSID* classId;
  UINT registryScript;
  InstanceCreator creator;
  std::atomic<IUnknown*> cachedClassObject;  // read without the lock, set once under it
};

struct ClassTable {
  CRITICAL_SECTION section;  // serialises creation of cached class objects
  bool sectionReady;
  ClassEntry entries[3];
};

ClassTable classTable = {{},
                         false,
                         {{&CLSID_CVexorin, VEXORIN_PICTURE_SCRIPT, CVexorin::CreateInstance, nullptr},
                          {&CLSID_CVexorinAudio, VEXORIN_AUDIO_SCRIPT, CVexorinAudio::CreateInstance, nullptr},
                          {&CLSID_CVexorinWork, VEXORIN_WORK_SCRIPT, CVexorinWork::CreateInstance, nullptr}}};

void ProcessAttach(HINSTANCE instance) {
  ServerModule& module = Module();
  classTable.sectionReady = InitializeCriticalSectionAndSpinCount(&classTable.section, 0) != FALSE;
  module.instance = instance;
  module.lockCount = 0;
  module.termination = nullptr;
  module.initFailed = !classTable.sectionReady || !InitializeCriticalSectionAndSpinCount(&module.moduleLock, 0);
}

// At process exit (`exiting`) other DLLs may already be gone: nothing of theirs is called (the
// termination list releases type information) and the process's end frees the rest.
void ProcessDetach(bool exiting) {
  ServerModule& module = Module();
  module.shutDown = true;
  if (exiting) return;
  if (!module.initFailed) {
    for (TerminationEntry* e = module.termination; e != nullptr;) {
      TerminationEntry* next = e->next;
      e->function(e->argument);
      delete e;
      e = next;
    }
    module.termination = nullptr;
    DeleteCriticalSection(&module.moduleLock);
  }
  for (ClassEntry& entry : classTable.entries) {
    if (IUnknown* cached = entry.cachedClassObject.exchange(nullptr)) cached->Release();
  }
  if (classTable.sectionReady) DeleteCriticalSection(&classTable.section);
}

}  // namespace

}  // namespace com


// A non-null `reserved` at detach: the process is ending, not FreeLibrary.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    // Trap: the static runtime gives this DLL a TLS directory (.tls, its TLS callbacks), and for such
    // a DLL Windows ignores this call: thread attach and detach still arrive here, and must stay
    // as cheap as the nothing done for them below.
    DisableThreadLibraryCalls(instance);
    com::ProcessAttach(instance);
    return com::Module().initFailed ? FALSE : TRUE;
  }
  if (reason == DLL_PROCESS_DETACH) com::ProcessDetach(reserved != nullptr);
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID classId, REFIID iid, LPVOID* out) {
  return vexorin::Guarded([&] {
    if (com::Module().shutDown) return E_UNEXPECTED;
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    for (auto& entry : com::classTable.entries) {
      if (!IsEqualCLSID(classId, *entry.classId)) continue;
      HRESULT hr = S_OK;
      if (entry.cachedClassObject.load() == nullptr) {
        const com::ScopedLock lock(com::classTable.section);
        if (entry.cachedClassObject.load() == nullptr) {  // tested again under the lock
          void* created = nullptr;
          hr = com::ClassObject::Create(entry.creator, IID_IUnknown, &created);
          if (SUCCEEDED(hr)) entry.cachedClassObject.store(static_cast<IUnknown*>(created));
        }
      }
      if (IUnknown* cached = entry.cachedClassObject.load()) hr = cached->QueryInterface(iid, out);
      if (*out == nullptr && SUCCEEDED(hr)) hr = CLASS_E_CLASSNOTAVAILABLE;
      return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
  });
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  // A process that made or checked a challenge keeps what it remembers of them (the used
  // challenges, its key): unloading would let those payloads verify again.
  return vexorin::Guarded([] {
    return com::Module().lockCount == 0 && !vexorin::ProcessWorkStateInUse() ? S_OK : S_FALSE;
  });
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  return vexorin::Guarded([] {
    com::RegistryScript scripts[1 + std::size(com::classTable.entries)] = {{com::kAppIdScript, &CLSID_CVexorin}};
    for (std::size_t i = 0; i < std::size(com::classTable.entries); ++i) {
      scripts[i + 1] = {com::classTable.entries[i].registryScript, com::classTable.entries[i].classId};
    }
    const HRESULT hr = com::RegisterModule(com::Module().instance, scripts, std::size(scripts));
    return FAILED(hr) ? hr : S_OK;
  });
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  return vexorin::Guarded([] {
    HRESULT hr = S_OK;
    for (std::size_t i = 0; SUCCEEDED(hr) && i < std::size(com::classTable.entries); ++i) {
      const auto& entry = com::classTable.entries[i];
      hr = com::RunRegistryScript(com::Module().instance, entry.registryScript, false, *entry.classId);
    }
    if (SUCCEEDED(hr)) hr = com::UnregisterModuleTypeLib(com::Module().instance);
    if (SUCCEEDED(hr)) hr = com::RunRegistryScript(com::Module().instance, com::kAppIdScript, false, CLSID_CVexorin);
    return FAILED(hr) ? hr : S_OK;
  });
}
