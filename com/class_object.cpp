#include "com/class_object.h"

#include <new>

#include "com/module.h"
#include "com/scoped_lock.h"

namespace com {

HRESULT ClassObject::Create(InstanceCreator creator, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  auto* object = new (std::nothrow) ClassObject(creator);
  if (object == nullptr) return E_OUTOFMEMORY;
  if (!InitializeCriticalSectionAndSpinCount(&object->section_, 0)) {
    ::operator delete(object);  // the section never came to be: no destructor
    return E_OUTOFMEMORY;
  }
  const HRESULT hr = object->QueryInterface(iid, out);
  if (FAILED(hr)) delete object;
  return hr;
}

ClassObject::~ClassObject() { DeleteCriticalSection(&section_); }

HRESULT ClassObject::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG ClassObject::AddRef() {
  const ScopedLock lock(section_);
  const LONG refs = InterlockedIncrement(&refs_);
  if (refs == 2) ModuleLock();  // the first client beside the cache
  return static_cast<ULONG>(refs);
}

ULONG ClassObject::Release() {
  LONG refs;
  {
    const ScopedLock lock(section_);
    refs = InterlockedDecrement(&refs_);
  }
  if (refs == 0) {
    delete this;
  } else if (refs == 1) {
    ModuleUnlock();
  }
  return static_cast<ULONG>(refs);
}

HRESULT ClassObject::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  return creator_(outer, iid, out);
}

HRESULT ClassObject::LockServer(BOOL lock) {
  if (lock) {
    ModuleLock();
  } else {
    ModuleUnlock();
  }
  return S_OK;
}

}  // namespace com
