// The thin layer between the portable core and the Windows runtime / OLE Automation.
// On Windows it is the real headers; elsewhere it supplies the same names with the same semantics,
// and no more than the core uses. Code above this layer is written once, against these names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <oleauto.h>
#else

using HRESULT = std::int32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using BOOL = int;
using WCHAR = char16_t;
using OLECHAR = WCHAR;
using LPCWSTR = const WCHAR*;
using LPWSTR = WCHAR*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPBOOL = BOOL*;
using BSTR = OLECHAR*;
using BYTE = std::uint8_t;

#define STDMETHODCALLTYPE
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT DISP_E_EXCEPTION = static_cast<HRESULT>(0x80020009u);
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);

using VARIANT_BOOL = short;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;

// BSTR: length-prefixed (bytes, 32-bit) UTF-16 text with a terminating zero; null is the empty string.
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);

// Code-page conversion; on this build every code page is UTF-8. Lengths of -1 mean "up to and
// including the terminating zero"; a destination size of 0 asks for the size needed.
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLength, LPSTR dst,
                        int dstSize, LPCSTR defaultChar, LPBOOL usedDefault);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLength, LPWSTR dst,
                        int dstSize);
DWORD GetLastError();
void SetLastError(DWORD error);

using USHORT = std::uint16_t;
using WORD = std::uint16_t;
using VARTYPE = std::uint16_t;

constexpr HRESULT DISP_E_BADVARTYPE = static_cast<HRESULT>(0x80020008u);
constexpr HRESULT DISP_E_BADINDEX = static_cast<HRESULT>(0x8002000Bu);
constexpr HRESULT DISP_E_ARRAYISLOCKED = static_cast<HRESULT>(0x8002000Du);

enum : VARTYPE { VT_EMPTY = 0, VT_NULL = 1, VT_I4 = 3, VT_BSTR = 8, VT_UI1 = 17, VT_ARRAY = 0x2000 };

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

// One dimension of VT_UI1 elements is all this build supports.
struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
};

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1, wReserved2, wReserved3;
  union {
    LONG lVal;
    BYTE bVal;
    BSTR bstrVal;
    SAFEARRAY* parray;
  };
};

void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds);
HRESULT SafeArrayDestroy(SAFEARRAY* array);
HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* array);

#endif  // _WIN32

namespace platform {

// The code page of every BSTR <-> 8-bit conversion in the component.
UINT ConversionCodePage();

// Bytes written to `stream` pass unchanged (Windows' text mode would turn \n into \r\n).
void SetBinaryMode(std::FILE* stream);

}  // namespace platform
