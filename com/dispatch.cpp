#include "com/dispatch.h"

#include <atomic>
#include <new>

#include "com/scoped_lock.h"
#include "com/server_module.h"
#include "platform/owner.h"
#include "platform/text.h"
#include "vexorin_h.h"

namespace com {

namespace {

struct NameEntry {
  BSTR name;
  UINT length;
  DISPID id;
};

// One per dual interface of the library. Published only when complete; read without a lock on the
// fast path.
struct TypeInfoCache {
  const IID* interfaceId;
  std::atomic<ITypeInfo*> typeInfo;
  std::atomic<NameEntry*> names;
  UINT nameCount;
};

TypeInfoCache caches[] = {{&IID_IVexorin, {nullptr}, {nullptr}, 0},
                          {&IID_IVexorinAudio, {nullptr}, {nullptr}, 0},
                          {&IID_IVexorinWork, {nullptr}, {nullptr}, 0}};

TypeInfoCache* CacheFor(REFIID interfaceId) {
  for (TypeInfoCache& cache : caches) {
    if (IsEqualIID(interfaceId, *cache.interfaceId)) return &cache;
  }
  return nullptr;
}

void ReleaseTypeInfoCache(void* argument) {
  auto* cache = static_cast<TypeInfoCache*>(argument);
  if (ITypeInfo* info = cache->typeInfo.exchange(nullptr)) info->Release();
  if (NameEntry* names = cache->names.exchange(nullptr)) {
    for (UINT i = 0; i < cache->nameCount; ++i) SysFreeString(names[i].name);
    delete[] names;
  }
  cache->nameCount = 0;
}

void BuildNameCache(TypeInfoCache& cache, ITypeInfo* info) {
  TYPEATTR* attributes = nullptr;
  if (FAILED(info->GetTypeAttr(&attributes))) return;
  const UINT count = attributes->cFuncs;
  auto* names = new (std::nothrow) NameEntry[count];
  if (names == nullptr) {
    info->ReleaseTypeAttr(attributes);
    return;
  }
  for (UINT i = 0; i < count; ++i) names[i] = {nullptr, 0, DISPID_UNKNOWN};
  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* function = nullptr;
    if (FAILED(info->GetFuncDesc(i, &function))) continue;
    BSTR name = nullptr;
    if (SUCCEEDED(info->GetDocumentation(function->memid, &name, nullptr, nullptr, nullptr)) && name != nullptr) {
      names[i] = {name, SysStringLen(name), function->memid};
      name = nullptr;
    }
    SysFreeString(name);
    info->ReleaseFuncDesc(function);
  }
  cache.nameCount = count;
  cache.names.store(names);
  info->ReleaseTypeAttr(attributes);
}

}  // namespace

HRESULT EnsureTypeInfo(REFIID interfaceId, LCID locale, ITypeInfo** typeInfo) {
  *typeInfo = nullptr;
  TypeInfoCache* cache = CacheFor(interfaceId);
  if (cache == nullptr) return E_NOINTERFACE;
  ITypeInfo* info = cache->typeInfo.load();
  if (info != nullptr && cache->names.load() != nullptr) {
    *typeInfo = info;
    return S_OK;
  }
  const ScopedLock lock(Module().moduleLock);
  HRESULT hr = S_OK;
  if (cache->typeInfo.load() == nullptr) {
    platform::unique_com<ITypeLib> library;
    hr = LoadRegTypeLib(LIBID_corvathLib, 2, 0, locale, library.put());
    if (SUCCEEDED(hr)) {
      platform::unique_com<ITypeInfo> loaded;
      hr = library.get()->GetTypeInfoOfGuid(interfaceId, loaded.put());
      if (SUCCEEDED(hr)) {
        ITypeInfo2* richer = nullptr;
        if (SUCCEEDED(loaded.get()->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(&richer)))) {
          loaded.reset(richer);
        }
        // Cached only when its release at unload is booked: otherwise it would never be released.
        if (AddTermination(ReleaseTypeInfoCache, cache)) {
          cache->typeInfo.store(loaded.release());
        } else {
          hr = E_OUTOFMEMORY;
        }
      }
    }
  }
  info = cache->typeInfo.load();
  if (info != nullptr && cache->names.load() == nullptr) BuildNameCache(*cache, info);
  *typeInfo = info;
  return info != nullptr ? S_OK : hr;
}

HRESULT DispatchGetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT DispatchGetTypeInfo(REFIID interfaceId, UINT index, LCID locale, ITypeInfo** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  ITypeInfo* info = nullptr;
  const HRESULT hr = EnsureTypeInfo(interfaceId, locale, &info);
  if (FAILED(hr)) return hr;
  info->AddRef();
  *out = info;
  return S_OK;
}

HRESULT DispatchGetIDsOfNames(REFIID interfaceId, REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                              DISPID* ids) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (count == 0) return S_OK;
  if (ids == nullptr) return E_POINTER;
  if (names == nullptr) return E_INVALIDARG;
  for (UINT i = 0; i < count; ++i) {
    if (names[i] == nullptr) return E_INVALIDARG;
  }
  ITypeInfo* info = nullptr;
  const HRESULT hr = EnsureTypeInfo(interfaceId, locale, &info);
  if (FAILED(hr)) return hr;
  const TypeInfoCache* loaded = CacheFor(interfaceId);
  const NameEntry* cache = loaded->names.load();
  if (cache != nullptr && count == 1) {
    UINT length = 0;
    while (names[0][length] != 0) ++length;
    for (UINT i = loaded->nameCount; i-- > 0;) {  // last to first, exact and case-sensitive
      if (cache[i].length == length && cache[i].name != nullptr &&
          memcmp(cache[i].name, names[0], length * sizeof(OLECHAR)) == 0) {
        ids[0] = cache[i].id;
        return S_OK;
      }
    }
  }
  return info->GetIDsOfNames(names, count, ids);
}

HRESULT DispatchInvoke(REFIID interfaceId, IDispatch* self, DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                       VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (params == nullptr) return E_INVALIDARG;
  ITypeInfo* info = nullptr;
  const HRESULT hr = EnsureTypeInfo(interfaceId, locale, &info);
  if (FAILED(hr)) return hr;
  return info->Invoke(self, id, flags, params, result, exception, argumentError);
}

HRESULT ReportError(REFCLSID classId, const char* description, DWORD helpContext,
                    const char* helpFile, REFIID iid, HRESULT hr) {
  if (description == nullptr) return E_POINTER;
  platform::unique_bstr wideDescription(platform::MakeBstrNothrow(description));
  if (!wideDescription) return E_OUTOFMEMORY;
  platform::unique_bstr wideHelpFile;
  if (helpFile != nullptr) {
    wideHelpFile.reset(platform::MakeBstrNothrow(helpFile));
    if (!wideHelpFile) return E_OUTOFMEMORY;
  }
  platform::unique_com<ICreateErrorInfo> create;
  if (SUCCEEDED(CreateErrorInfo(create.put()))) {
    create.get()->SetGUID(iid);
    platform::unique_any<LPOLESTR, &CoTaskMemFree> progId;
    if (SUCCEEDED(ProgIDFromCLSID(classId, progId.put())) && progId) create.get()->SetSource(progId.get());
    if (helpContext != 0 && wideHelpFile) {
      create.get()->SetHelpContext(helpContext);
      create.get()->SetHelpFile(wideHelpFile.get());
    }
    create.get()->SetDescription(wideDescription.get());
    platform::unique_com<IErrorInfo> info;
    if (SUCCEEDED(create.get()->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.put())))) {
      SetErrorInfo(0, info.get());
    }
  }
  return hr == 0 ? DISP_E_EXCEPTION : hr;
}

HRESULT NoStaleErrorInfo(HRESULT hr) noexcept {
  if (FAILED(hr)) SetErrorInfo(0, nullptr);
  return hr;
}

}  // namespace com
