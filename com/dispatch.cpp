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

// One function of the interface as its type information describes it: the name for
// GetIDsOfNames, and the kind and argument counts Invoke checks a call against.
struct MemberEntry {
  BSTR name;
  UINT length;
  DISPID id;
  WORD kind;  // INVOKEKIND, the same bits as Invoke's flags
  UINT minArgs;
  UINT maxArgs;  // a put's value counted in both
};

// One per dual interface of the library. Published only when complete; read without a lock on the
// fast path.
struct TypeInfoCache {
  const IID* interfaceId;
  std::atomic<ITypeInfo*> typeInfo;
  std::atomic<MemberEntry*> members;
  UINT memberCount;
};

TypeInfoCache caches[] = {{&IID_IVexorin, {nullptr}, {nullptr}, 0}, {&IID_IVexorinAudio, {nullptr}, {nullptr}, 0}};

TypeInfoCache* CacheFor(REFIID interfaceId) {
  for (TypeInfoCache& cache : caches) {
    if (IsEqualIID(interfaceId, *cache.interfaceId)) return &cache;
  }
  return nullptr;
}

void ReleaseTypeInfoCache(void* argument) {
  auto* cache = static_cast<TypeInfoCache*>(argument);
  if (ITypeInfo* info = cache->typeInfo.exchange(nullptr)) info->Release();
  if (MemberEntry* members = cache->members.exchange(nullptr)) {
    for (UINT i = 0; i < cache->memberCount; ++i) SysFreeString(members[i].name);
    delete[] members;
  }
  cache->memberCount = 0;
}

// The arguments a caller passes: every parameter but the [retval] one (and an [lcid] one, which
// the type information fills in); [optional] and [defaultvalue] ones may be left out.
void CountArguments(const FUNCDESC& function, MemberEntry& entry) {
  UINT passed = 0;
  UINT optional = 0;
  for (SHORT i = 0; i < function.cParams; ++i) {
    const USHORT flags = function.lprgelemdescParam[i].paramdesc.wParamFlags;
    if ((flags & (PARAMFLAG_FRETVAL | PARAMFLAG_FLCID)) != 0) continue;
    ++passed;
    if ((flags & (PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT)) != 0) ++optional;
  }
  entry.minArgs = passed - optional;
  entry.maxArgs = passed;
  if (function.cParamsOpt == -1) {  // vararg: the last parameter takes any number of arguments
    entry.minArgs = passed > 0 ? passed - 1 : 0;
    entry.maxArgs = ~0u;
  }
}

// Call with the module lock held.
void BuildMemberCache(TypeInfoCache& cache, ITypeInfo* info) {
  TYPEATTR* attributes = nullptr;
  if (FAILED(info->GetTypeAttr(&attributes))) return;
  const UINT count = attributes->cFuncs;
  info->ReleaseTypeAttr(attributes);
  auto* members = new (std::nothrow) MemberEntry[count];
  if (members == nullptr) return;
  for (UINT i = 0; i < count; ++i) members[i] = {nullptr, 0, DISPID_UNKNOWN, 0, 0, 0};
  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* function = nullptr;
    if (FAILED(info->GetFuncDesc(i, &function))) continue;
    MemberEntry& entry = members[i];
    entry.id = function->memid;
    entry.kind = static_cast<WORD>(function->invkind);
    CountArguments(*function, entry);
    BSTR name = nullptr;
    if (SUCCEEDED(info->GetDocumentation(function->memid, &name, nullptr, nullptr, nullptr)) && name != nullptr) {
      entry.name = name;
      entry.length = SysStringLen(name);
    }
    info->ReleaseFuncDesc(function);
  }
  cache.memberCount = count;
  cache.members.store(members);
}

const MemberEntry* FindMember(const TypeInfoCache& cache, DISPID id, WORD flags) {
  const MemberEntry* members = cache.members.load();
  for (UINT i = 0; i < cache.memberCount; ++i) {
    if (members[i].id == id && (members[i].kind & flags) != 0) return &members[i];
  }
  return nullptr;
}

// What the type information's Invoke would otherwise read unchecked. Named arguments: only a
// put's value, named DISPID_PROPERTYPUT; every argument else goes by position.
HRESULT CheckCall(const MemberEntry& member, const DISPPARAMS& params, UINT* argumentError) {
  const bool put = (member.kind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) != 0;
  if (put && params.cNamedArgs == 0) {
    if (argumentError != nullptr) *argumentError = 0;
    return DISP_E_PARAMNOTFOUND;  // the value is not marked as such
  }
  if (params.cNamedArgs > (put ? 1u : 0u) || (put && params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)) {
    return DISP_E_NONAMEDARGS;
  }
  if (params.cArgs < member.minArgs || params.cArgs > member.maxArgs) return DISP_E_BADPARAMCOUNT;
  return S_OK;
}

}  // namespace

HRESULT EnsureTypeInfo(REFIID interfaceId, LCID locale, ITypeInfo** typeInfo) {
  *typeInfo = nullptr;
  TypeInfoCache* cache = CacheFor(interfaceId);
  if (cache == nullptr) return E_NOINTERFACE;
  ITypeInfo* info = cache->typeInfo.load();
  if (info != nullptr && cache->members.load() != nullptr) {
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
  if (info != nullptr && cache->members.load() == nullptr) BuildMemberCache(*cache, info);
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
  const MemberEntry* cache = loaded->members.load();
  if (cache != nullptr && count == 1) {
    UINT length = 0;
    while (names[0][length] != 0) ++length;
    for (UINT i = loaded->memberCount; i-- > 0;) {  // last to first, exact and case-sensitive
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
  // Counts that promise arrays which are not there: the type information would read through null.
  if (params == nullptr || (params->cArgs != 0 && params->rgvarg == nullptr) ||
      (params->cNamedArgs != 0 && params->rgdispidNamedArgs == nullptr) || params->cNamedArgs > params->cArgs) {
    return E_INVALIDARG;
  }
  ITypeInfo* info = nullptr;
  HRESULT hr = EnsureTypeInfo(interfaceId, locale, &info);
  if (FAILED(hr)) return hr;
  const TypeInfoCache* cache = CacheFor(interfaceId);
  if (cache->members.load() == nullptr) return E_OUTOFMEMORY;
  // Checked here, not left to the host's type information: some accept extra arguments, some not.
  const MemberEntry* member = FindMember(*cache, id, flags);
  if (member == nullptr) return DISP_E_MEMBERNOTFOUND;
  hr = CheckCall(*member, *params, argumentError);
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
