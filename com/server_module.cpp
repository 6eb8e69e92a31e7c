// The DLL's entry point, its four exports and the module-level records.
#include "com/server_module.h"

#include <atomic>
#include <iterator>
#include <new>

#include "com/audio_object.h"
#include "com/class_object.h"
#include "com/registrar.h"
#include "com/scoped_lock.h"
#include "vexorin_h.h"
#include "com/vexorin_object.h"
#include "component/guarded.h"

namespace com {

const GUID kAppId = {0x625E6AD9, 0x9949, 0x46FE, {0x83, 0x9D, 0xD6, 0x37, 0x7C, 0x2B, 0xB7, 0xC6}};

namespace {

constexpr UINT kAppIdScript = 101;
constexpr UINT kClassScript = 103;
constexpr UINT kAudioClassScript = 104;

ServerModule module = {};

struct ClassEntry {
  const CLSID* classId;
  UINT registryScript;
  InstanceCreator creator;
  std::atomic<IUnknown*> cachedClassObject;  // read without the lock, set once under it
};

struct ClassTable {
  CRITICAL_SECTION section;  // serialises creation of cached class objects
  bool sectionReady;
  ClassEntry entries[2];
};

ClassTable classTable = {{},
                         false,
                         {{&CLSID_CVexorin, kClassScript, CVexorin::CreateInstance, nullptr},
                          {&CLSID_CVexorinAudio, kAudioClassScript, CVexorinAudio::CreateInstance, nullptr}}};

void ProcessAttach(HINSTANCE instance) {
  classTable.sectionReady = InitializeCriticalSectionAndSpinCount(&classTable.section, 0) != FALSE;
  module.instance = instance;
  module.lockCount = 0;
  module.termination = nullptr;
  module.initFailed = !classTable.sectionReady || !InitializeCriticalSectionAndSpinCount(&module.moduleLock, 0);
}

void ProcessDetach() {
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
  module.shutDown = true;
}

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

using com::classTable;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    com::ProcessAttach(instance);
    return com::Module().initFailed ? FALSE : TRUE;
  }
  if (reason == DLL_PROCESS_DETACH) com::ProcessDetach();
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
  return vexorin::Guarded([] { return com::Module().lockCount == 0 ? S_OK : S_FALSE; });
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  return vexorin::Guarded([] {
    HRESULT hr = com::RunRegistryScript(com::Module().instance, com::kAppIdScript, true, CLSID_CVexorin);
    for (std::size_t i = 0; SUCCEEDED(hr) && i < std::size(com::classTable.entries); ++i) {
      const auto& entry = com::classTable.entries[i];
      hr = com::RunRegistryScript(com::Module().instance, entry.registryScript, true, *entry.classId);
    }
    if (SUCCEEDED(hr)) hr = com::RegisterModuleTypeLib(com::Module().instance);
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
