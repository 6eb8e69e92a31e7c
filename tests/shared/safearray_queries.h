// The SAFEARRAY calls that only tests and benchmarks make, for the native build (on Windows they
// are OLE Automation's own): the one-dimensional VT_UI1 arrays the component hands out.
#pragma once

#include "platform/platform.h"

#ifndef _WIN32
inline HRESULT SafeArrayPutElement(SAFEARRAY* array, LONG* indices, void* value) {
  if (array == nullptr || indices == nullptr || value == nullptr) return E_INVALIDARG;
  const long long offset = static_cast<long long>(indices[0]) - array->rgsabound[0].lLbound;
  if (offset < 0 || offset >= static_cast<long long>(array->rgsabound[0].cElements)) return DISP_E_BADINDEX;
  static_cast<BYTE*>(array->pvData)[offset] = *static_cast<BYTE*>(value);
  return S_OK;
}

inline UINT SafeArrayGetDim(SAFEARRAY* array) { return array != nullptr ? array->cDims : 0; }

inline HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound) {
  if (array == nullptr || bound == nullptr) return E_INVALIDARG;
  if (dim != 1) return DISP_E_BADINDEX;
  *bound = array->rgsabound[0].lLbound;
  return S_OK;
}

inline HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound) {
  if (array == nullptr || bound == nullptr) return E_INVALIDARG;
  if (dim != 1) return DISP_E_BADINDEX;
  *bound = array->rgsabound[0].lLbound + static_cast<LONG>(array->rgsabound[0].cElements) - 1;
  return S_OK;
}

inline HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt) {
  if (array == nullptr || vt == nullptr) return E_INVALIDARG;
  *vt = VT_UI1;
  return S_OK;
}
#endif
