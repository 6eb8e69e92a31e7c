#pragma once

#include "platform/platform.h"

namespace com {

using InstanceCreator = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);

// IClassFactory for one class. Its reference count changes under its own critical section; while a
// client holds it (a count of 2 or more, one reference being the cache's) it holds one module lock.
class ClassObject final : public IClassFactory {
 public:
  // Makes a class object bound to `creator` and queries it for `iid`; E_OUTOFMEMORY when it cannot
  // be had.
  static HRESULT Create(InstanceCreator creator, REFIID iid, void** out);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  explicit ClassObject(InstanceCreator creator) : creator_(creator) {}
  ~ClassObject();

  LONG refs_ = 0;
  CRITICAL_SECTION section_;
  InstanceCreator creator_;
};

}  // namespace com
