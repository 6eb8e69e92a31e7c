// IDispatch served from the registered type library, and error information for scripts.
#pragma once

#include "platform/platform.h"

namespace com {

// The process-wide type information of IVexorin, loaded by the first IDispatch call (with that
// call's locale) under the module lock and released at unload.
HRESULT EnsureTypeInfo(LCID locale, ITypeInfo** typeInfo);

HRESULT DispatchGetTypeInfoCount(UINT* count);
// By the IDispatch rules: one type information (index 0), IID_NULL as the only interface
// argument, and no null array handed on to the type information.
HRESULT DispatchGetTypeInfo(UINT index, LCID locale, ITypeInfo** out);
HRESULT DispatchGetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids);
HRESULT DispatchInvoke(IDispatch* self, DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                       VARIANT* result, EXCEPINFO* exception, UINT* argumentError);

// Sets the thread's error information (source: the class's ProgID) and returns `hr`, or
// DISP_E_EXCEPTION when `hr` is 0. E_POINTER for no description, E_OUTOFMEMORY when a text cannot
// be converted (nothing set then).
HRESULT ReportError(REFCLSID classId, const char* description, DWORD helpContext,
                    const char* helpFile, REFIID iid, HRESULT hr);

}  // namespace com
