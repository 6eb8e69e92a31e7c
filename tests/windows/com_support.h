// Helpers of the Windows COM test programs: objects, strings and VARIANTs held in the project's
// owners (platform/owner.h), members called by name, and a test run again in a child process.
#pragma once

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/owner.h"
#include "platform/platform.h"

namespace testing_support {

using platform::unique_bstr;
using platform::unique_com;
using platform::unique_variant;

// GetProcAddress gives a generic function pointer; the export's real type is known to the caller.
template <typename Function>
Function Export(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The DLL under test (VEXORIN_DLL, set by the test tree), else the one on the search path.
inline std::wstring DllPath() {
  const char* path = std::getenv("VEXORIN_DLL");
  std::string narrow = path != nullptr ? path : "vexorin.dll";
  return std::wstring(narrow.begin(), narrow.end());
}

// The module's own exports, for the lock count and the class objects' identity.
struct Exports {
  Exports() {
    module = LoadLibraryW(DllPath().c_str());
    getClassObject = Export<decltype(getClassObject)>(module, "DllGetClassObject");
    canUnloadNow = Export<decltype(canUnloadNow)>(module, "DllCanUnloadNow");
  }
  ~Exports() { FreeLibrary(module); }
  Exports(const Exports&) = delete;
  Exports& operator=(const Exports&) = delete;
  HMODULE module;
  HRESULT(STDAPICALLTYPE* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT(STDAPICALLTYPE* canUnloadNow)() = nullptr;
};

inline ULONG RefCount(IUnknown* unknown) {
  unknown->AddRef();
  return unknown->Release();
}

// A COM interface pointer's address as QueryInterface and CoCreateInstance take it.
template <typename Interface>
void** Out(unique_com<Interface>& owner) {
  return reinterpret_cast<void**>(owner.put());
}

// An in-process object of `clsid` asked for `iid`; empty (and a failed expectation) when refused.
template <typename Interface>
unique_com<Interface> Create(REFCLSID clsid, REFIID iid) {
  unique_com<Interface> object;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, Out(object)), S_OK);
  return object;
}

inline unique_bstr Bstr(const std::wstring& text) {
  return unique_bstr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}

// Argument VARIANTs for a call by name; Call clears them.
inline VARIANT Long(LONG value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}
inline VARIANT Text(const wchar_t* text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  return v;
}

// An EXCEPINFO whose strings are freed with it.
struct Exception {
  EXCEPINFO info = {};
  Exception() = default;
  Exception(const Exception&) = delete;
  Exception& operator=(const Exception&) = delete;
  ~Exception() {
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
  }
};

// Calls a member by name, arguments in reading order (cleared afterwards), a put's value named as
// the rules ask; returns the HRESULT of Invoke and, when asked, the DISPID it found.
inline HRESULT Call(IDispatch* d, const wchar_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* result,
                    DISPID* id = nullptr, EXCEPINFO* exception = nullptr) {
  DISPID dispid = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid);
  if (SUCCEEDED(hr)) {
    if (id != nullptr) *id = dispid;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    DISPID put = DISPID_PROPERTYPUT;
    if (flags == DISPATCH_PROPERTYPUT) {
      params.rgdispidNamedArgs = &put;
      params.cNamedArgs = 1;
    }
    hr = d->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, exception, nullptr);
  }
  for (VARIANT& v : args) VariantClear(&v);
  return hr;
}

// A reference-counted object of the caller's (a page's Request, or an object an out-VARIANT held),
// so that each reference taken and given back shows.
struct CountedUnknown : IUnknown {
  LONG refs = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
};

// Another component's error information, left on the thread.
inline void LeaveStaleErrorInfo() {
  unique_com<ICreateErrorInfo> create;
  ASSERT_EQ(CreateErrorInfo(create.put()), S_OK);
  create.get()->SetSource(const_cast<LPOLESTR>(L"Other.Component"));
  create.get()->SetDescription(const_cast<LPOLESTR>(L"stale"));
  unique_com<IErrorInfo> info;
  ASSERT_EQ(create.get()->QueryInterface(IID_IErrorInfo, Out(info)), S_OK);
  SetErrorInfo(0, info.get());
}

// What the thread's error information holds now: S_FALSE when none (the information is taken).
inline HRESULT TakeErrorInfo() {
  unique_com<IErrorInfo> info;
  return GetErrorInfo(0, info.put());
}

// Runs this program again with only `test` (a DISABLED_ one), so that a crash there fails the
// calling test instead of ending the run; the child's output is passed on. A child that ends at its
// start without a word (the Wine start docs/developing.md tells of) is started once more, and said so.
void ExpectChildPasses(const char* test);

}  // namespace testing_support
