// IDispatch served from the registered type library, and error information for scripts.
#pragma once

#include "platform/platform.h"

namespace com {

// The process-wide type information of one dual interface of the library (IVexorin or
// IVexorinAudio), loaded by the first IDispatch call on it (with that call's locale) under the
// module lock and released at unload.
HRESULT EnsureTypeInfo(REFIID interfaceId, LCID locale, ITypeInfo** typeInfo);

HRESULT DispatchGetTypeInfoCount(UINT* count);
// By the IDispatch rules: one type information (index 0), IID_NULL as the only interface
// argument, and no null array handed on to the type information. `interfaceId` names the
// object's dual interface.
HRESULT DispatchGetTypeInfo(REFIID interfaceId, UINT index, LCID locale, ITypeInfo** out);
HRESULT DispatchGetIDsOfNames(REFIID interfaceId, REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                              DISPID* ids);
// Checks the call before the type information reads it: E_INVALIDARG for counts without their
// arrays or more named arguments than arguments; DISP_E_MEMBERNOTFOUND for no member of that DISPID
// and kind; DISP_E_PARAMNOTFOUND for a put whose value is not named DISPID_PROPERTYPUT;
// DISP_E_NONAMEDARGS for any other named argument; DISP_E_BADPARAMCOUNT for more or fewer
// arguments than the member takes.
HRESULT DispatchInvoke(REFIID interfaceId, IDispatch* self, DISPID id, REFIID iid, LCID locale, WORD flags,
                       DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* argumentError);

// Sets the thread's error information (source: the class's ProgID) and returns `hr`, or
// DISP_E_EXCEPTION when `hr` is 0. E_POINTER for no description, E_OUTOFMEMORY when a text cannot
// be converted (nothing set then).
HRESULT ReportError(REFCLSID classId, const char* description, DWORD helpContext,
                    const char* helpFile, REFIID iid, HRESULT hr);

// A failing member leaves no error information on the thread: what another call or component left
// there would otherwise reach a script as this call's message. Without it a script engine shows the
// HRESULT as its own error (VBScript: E_INVALIDARG is its error 5), as scripts expect.
// S_OK and the like pass untouched.
HRESULT NoStaleErrorInfo(HRESULT hr) noexcept;

}  // namespace com
