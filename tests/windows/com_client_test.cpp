// The DLL as a host uses it: through COM, by ProgID and CLSID, by name through IDispatch, and
// through its four exports loaded with LoadLibrary. Needs the DLL registered (registration_test).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <functional>
#include <utility>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <jpeglib.h>

#include "com_support.h"
#include "tests/shared/reference_jpeg.h"
#include "platform/platform.h"
#include "vexorin_h.h"

namespace page_doubles {

const IID kScriptingContextIid = {0xD97A6DA0, 0xA868, 0x11CF, {0x83, 0xAE, 0x00, 0xB0, 0xC9, 0x0C, 0x2B, 0xD8}};

// Test doubles for the host's page: reference-counted, so each reference taken and given back shows.
// Not in an anonymous namespace: the DLL calls get_Request through the vtable, and GCC drops
// virtual members of file-local classes that nothing in the file calls.
struct FakeRequest : IUnknown {
  LONG refs = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
};

struct FakeContext : IDispatch {
  LONG refs = 1;
  FakeRequest* request = nullptr;
  HRESULT requestResult = S_OK;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, kScriptingContextIid)) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  // IScriptingContext's first own member.
  virtual HRESULT STDMETHODCALLTYPE get_Request(IUnknown** out) {
    if (FAILED(requestResult)) {
      *out = nullptr;
      return requestResult;
    }
    request->AddRef();
    *out = request;
    return S_OK;
  }
};

}  // namespace page_doubles

namespace {

using page_doubles::FakeContext;
using page_doubles::FakeRequest;

const CLSID kClassId = CLSID_CVexorin;

std::wstring DllPath() {
  const char* path = std::getenv("VEXORIN_DLL");
  std::string narrow = path != nullptr ? path : "vexorin.dll";
  return std::wstring(narrow.begin(), narrow.end());
}

ULONG RefCount(IUnknown* unknown) {
  unknown->AddRef();
  return unknown->Release();
}

class ComTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }

  IVexorin* Create() {
    IVexorin* v = nullptr;
    EXPECT_EQ(CoCreateInstance(kClassId, nullptr, CLSCTX_INPROC_SERVER, IID_IVexorin, reinterpret_cast<void**>(&v)), S_OK);
    return v;
  }
};

using testing_support::Export;

// The module's own exports, for the lock count and the class object's identity.
struct Exports {
  Exports() {
    module = LoadLibraryW(DllPath().c_str());
    getClassObject = Export<decltype(getClassObject)>(module, "DllGetClassObject");
    canUnloadNow = Export<decltype(canUnloadNow)>(module, "DllCanUnloadNow");
  }
  ~Exports() { FreeLibrary(module); }
  HMODULE module;
  HRESULT(STDAPICALLTYPE* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT(STDAPICALLTYPE* canUnloadNow)() = nullptr;
};

TEST_F(ComTest, CreatedByProgIdAndClsidWithItsDefaults) {
  for (const wchar_t* progId : {L"Veltrano.Vexorin", L"Veltrano.Vexorin.2"}) {
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, kClassId));
  }
  IVexorin* v = Create();
  ASSERT_NE(v, nullptr);
  LONG height = 0, noise = -1, width = 0;
  BSTR number = nullptr;
  EXPECT_EQ(v->get_Height(&height), S_OK);
  EXPECT_EQ(v->get_Noise(&noise), S_OK);
  EXPECT_EQ(v->GetWidth(&width), S_OK);
  EXPECT_EQ(v->get_Number(&number), S_OK);
  EXPECT_EQ(height, 30);
  EXPECT_EQ(noise, 0);
  EXPECT_EQ(width, 120);
  EXPECT_EQ(SysStringLen(number), 8u);
  SysFreeString(number);
  EXPECT_EQ(v->Release(), 0u);
}

TEST_F(ComTest, ClassObjectIsCachedAndCountedAgainstTheModuleLock) {
  Exports dll;
  ASSERT_NE(dll.getClassObject, nullptr);
  ASSERT_NE(dll.canUnloadNow, nullptr);
  ASSERT_EQ(dll.canUnloadNow(), S_OK);
  IClassFactory* a = nullptr;
  IClassFactory* b = nullptr;
  ASSERT_EQ(dll.getClassObject(kClassId, IID_IClassFactory, reinterpret_cast<void**>(&a)), S_OK);
  ASSERT_EQ(dll.getClassObject(kClassId, IID_IClassFactory, reinterpret_cast<void**>(&b)), S_OK);
  EXPECT_EQ(a, b);
  EXPECT_EQ(dll.canUnloadNow(), S_FALSE);
  a->Release();
  EXPECT_EQ(dll.canUnloadNow(), S_FALSE);
  b->Release();
  EXPECT_EQ(dll.canUnloadNow(), S_OK);

  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(dll.getClassObject(IID_IVexorin, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(dll.getClassObject(kClassId, IID_IClassFactory, nullptr), E_POINTER);
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(dll.getClassObject(kClassId, IID_IDispatch, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);

  // Objects and server locks hold the module too.
  ASSERT_EQ(dll.getClassObject(kClassId, IID_IClassFactory, reinterpret_cast<void**>(&a)), S_OK);
  IVexorin* v = nullptr;
  ASSERT_EQ(a->CreateInstance(nullptr, IID_IVexorin, reinterpret_cast<void**>(&v)), S_OK);
  EXPECT_EQ(a->LockServer(TRUE), S_OK);
  a->Release();
  EXPECT_EQ(dll.canUnloadNow(), S_FALSE);
  v->Release();
  EXPECT_EQ(dll.canUnloadNow(), S_FALSE);  // the server lock
  ASSERT_EQ(dll.getClassObject(kClassId, IID_IClassFactory, reinterpret_cast<void**>(&a)), S_OK);
  EXPECT_EQ(a->LockServer(FALSE), S_OK);
  a->Release();
  EXPECT_EQ(dll.canUnloadNow(), S_OK);
}

// A minimal controlling object for aggregation.
struct Outer : IUnknown {
  LONG refs = 1;
  IUnknown* inner = nullptr;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown)) {
      *out = this;
      AddRef();
      return S_OK;
    }
    return inner->QueryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
};

TEST_F(ComTest, AggregationOnlyForIUnknown) {
  Outer outer;
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(kClassId, &outer, CLSCTX_INPROC_SERVER, IID_IDispatch, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  ASSERT_EQ(CoCreateInstance(kClassId, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
  IVexorin* v = nullptr;
  ASSERT_EQ(outer.QueryInterface(IID_IVexorin, reinterpret_cast<void**>(&v)), S_OK);
  EXPECT_EQ(outer.refs, 2);  // the interface's reference counting goes to the outer object
  IUnknown* identity = nullptr;
  ASSERT_EQ(v->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
  identity->Release();
  LONG height = 0;
  EXPECT_EQ(v->get_Height(&height), S_OK);
  EXPECT_EQ(height, 30);
  v->Release();
  EXPECT_EQ(outer.refs, 1);
  EXPECT_EQ(outer.inner->Release(), 0u);
}

TEST_F(ComTest, QueryInterfaceTableIdentityAndCounts) {
  IVexorin* v = Create();
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(RefCount(v), 1u);
  IUnknown* unknown = nullptr;
  IDispatch* dispatch = nullptr;
  ISupportErrorInfo* support = nullptr;
  ASSERT_EQ(v->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  ASSERT_EQ(v->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  ASSERT_EQ(v->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)), S_OK);
  EXPECT_EQ(unknown, static_cast<IUnknown*>(v));
  EXPECT_EQ(dispatch, static_cast<IDispatch*>(v));
  IUnknown* fromSupport = nullptr;
  ASSERT_EQ(support->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&fromSupport)), S_OK);
  EXPECT_EQ(fromSupport, unknown);
  EXPECT_EQ(RefCount(v), 5u);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(v->QueryInterface(IID_IConnectionPointContainer, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(v->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IVexorin), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
  fromSupport->Release();
  support->Release();
  dispatch->Release();
  unknown->Release();
  EXPECT_EQ(v->Release(), 0u);
}

// Calls a member by name; returns the HRESULT of Invoke.
HRESULT Call(IDispatch* d, const wchar_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* result,
             DISPID* id = nullptr) {
  DISPID dispid = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid);
  if (FAILED(hr)) return hr;
  if (id != nullptr) *id = dispid;
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  DISPID put = DISPID_PROPERTYPUT;
  if (flags == DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &put;
    params.cNamedArgs = 1;
  }
  return d->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
}

VARIANT Long(LONG v) {
  VARIANT x;
  VariantInit(&x);
  x.vt = VT_I4;
  x.lVal = v;
  return x;
}

TEST_F(ComTest, EveryMemberByName) {
  IVexorin* v = Create();
  ASSERT_NE(v, nullptr);
  IDispatch* d = v;
  UINT count = 0;
  EXPECT_EQ(d->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ITypeInfo* t0 = nullptr;
  ITypeInfo* t5 = nullptr;
  ASSERT_EQ(d->GetTypeInfo(0, LOCALE_USER_DEFAULT, &t0), S_OK);
  t5 = reinterpret_cast<ITypeInfo*>(static_cast<std::uintptr_t>(0xCCCCCCCCu));
  EXPECT_EQ(d->GetTypeInfo(5, LOCALE_USER_DEFAULT, &t5), DISP_E_BADINDEX);  // there is one
  EXPECT_EQ(t5, nullptr);
  t0->Release();

  const struct {
    const wchar_t* name;
    DISPID id;
  } ids[] = {{L"GenerateRnd", 1}, {L"generaternd", 1}, {L"SaveToFile", 2}, {L"Number", 3}, {L"Height", 4},
             {L"Noise", 5},       {L"GetWidth", 6},    {L"GetImage", 7},   {L"OnStartPage", 0x60020000},
             {L"OnEndPage", 0x60020001}};
  for (const auto& c : ids) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(c.name)};
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, c.id);
  }
  DISPID id = 0;
  LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"NoSuchMember")};
  EXPECT_EQ(d->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);

  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(Call(d, L"GenerateRnd", DISPATCH_METHOD, {Long(4)}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_LT(result.lVal, 10000);
  EXPECT_EQ(Call(d, L"Height", DISPATCH_PROPERTYPUT, {Long(10)}, nullptr), S_OK);
  ASSERT_EQ(Call(d, L"Height", DISPATCH_PROPERTYGET, {}, &result), S_OK);
  EXPECT_EQ(result.lVal, 20);
  EXPECT_EQ(Call(d, L"Noise", DISPATCH_PROPERTYPUT, {Long(1)}, nullptr), S_OK);
  ASSERT_EQ(Call(d, L"Noise", DISPATCH_PROPERTYGET, {}, &result), S_OK);
  EXPECT_EQ(result.lVal, 1);
  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(L"007");
  EXPECT_EQ(Call(d, L"Number", DISPATCH_PROPERTYPUT, {text}, nullptr), S_OK);
  VariantClear(&text);
  ASSERT_EQ(Call(d, L"Number", DISPATCH_PROPERTYGET, {}, &result), S_OK);
  ASSERT_EQ(result.vt, VT_BSTR);
  EXPECT_STREQ(result.bstrVal, L"007");
  VariantClear(&result);
  ASSERT_EQ(Call(d, L"GetWidth", DISPATCH_METHOD, {}, &result), S_OK);
  EXPECT_EQ(result.lVal, 30);
  ASSERT_EQ(Call(d, L"GetImage", DISPATCH_METHOD, {}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_ARRAY | VT_UI1);
  VariantClear(&result);
  EXPECT_EQ(Call(d, L"OnEndPage", DISPATCH_METHOD, {}, nullptr), S_OK);
  // A failing member comes back from the type information as an exception carrying its code.
  EXCEPINFO exception = {};
  DISPID generate = 1;
  VARIANT zero = Long(0);
  DISPPARAMS one = {&zero, nullptr, 1, 0};
  EXPECT_EQ(d->Invoke(generate, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &one, &result, &exception, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(exception.scode, E_INVALIDARG);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  EXPECT_EQ(v->Release(), 0u);
}

TEST_F(ComTest, GetImageBytesDecodeToThePicture) {
  IVexorin* v = Create();
  ASSERT_NE(v, nullptr);
  BSTR number = SysAllocString(L"90817263");
  ASSERT_EQ(v->put_Number(number), S_OK);
  SysFreeString(number);
  ASSERT_EQ(v->put_Height(44), S_OK);
  VARIANT image;
  VariantInit(&image);
  ASSERT_EQ(v->GetImage(&image), S_OK);
  ASSERT_EQ(image.vt, VT_ARRAY | VT_UI1);
  LONG lower = -1, upper = -1;
  SafeArrayGetLBound(image.parray, 1, &lower);
  SafeArrayGetUBound(image.parray, 1, &upper);
  EXPECT_EQ(lower, 0);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(image.parray, &data), S_OK);
  reference_jpeg::Decoded picture;
  const bool decoded = reference_jpeg::Decode(static_cast<unsigned char*>(data), static_cast<std::size_t>(upper + 1), picture);
  SafeArrayUnaccessData(image.parray);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(picture.width, 176);
  EXPECT_EQ(picture.height, 44);
  int inked = 0;
  for (std::size_t i = 0; i < picture.ycc.size(); i += 3) inked += picture.ycc[i] < 128 ? 1 : 0;
  EXPECT_GT(inked, 100);  // eight digits of ink on white paper
  VariantClear(&image);
  v->Release();
}

void ExpectErrorInfo(const wchar_t* description) {
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  ASSERT_NE(info, nullptr);
  GUID guid;
  BSTR source = nullptr, text = nullptr;
  info->GetGUID(&guid);
  info->GetSource(&source);
  info->GetDescription(&text);
  EXPECT_TRUE(IsEqualGUID(guid, GUID_NULL));
  EXPECT_STREQ(source, L"Veltrano.Vexorin.2");
  EXPECT_STREQ(text, description);
  SysFreeString(source);
  SysFreeString(text);
  info->Release();
}

TEST_F(ComTest, PageHooksHoldTheRequestForThePage) {
  FakeRequest request;
  FakeContext context;
  context.request = &request;
  IVexorin* v = Create();
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->OnEndPage(), S_OK);  // without a start: nothing to give back
  ASSERT_EQ(v->OnStartPage(&context), S_OK);
  EXPECT_EQ(request.refs, 2);
  EXPECT_EQ(context.refs, 1);  // the context is not kept
  ASSERT_EQ(v->OnStartPage(&context), S_OK);  // a second start gives the first Request back
  EXPECT_EQ(request.refs, 2);
  EXPECT_EQ(v->OnEndPage(), S_OK);
  EXPECT_EQ(request.refs, 1);
  EXPECT_EQ(v->OnEndPage(), S_OK);
  EXPECT_EQ(request.refs, 1);

  ASSERT_EQ(v->OnStartPage(&context), S_OK);
  EXPECT_EQ(v->Release(), 0u);  // the final release gives the Request back
  EXPECT_EQ(request.refs, 1);
}

TEST_F(ComTest, PageHookFailuresAreDescribed) {
  IVexorin* v = Create();
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->OnStartPage(nullptr), E_POINTER);

  FakeRequest notAContext;
  EXPECT_EQ(v->OnStartPage(&notAContext), E_NOINTERFACE);
  ExpectErrorInfo(L"Can't obtain ScriptingContext");

  FakeRequest request;
  FakeContext context;
  context.request = &request;
  context.requestResult = E_ACCESSDENIED;
  EXPECT_EQ(v->OnStartPage(&context), E_ACCESSDENIED);
  ExpectErrorInfo(L"Can't obtain Request object");
  EXPECT_EQ(context.refs, 1);
  EXPECT_EQ(request.refs, 1);
  LONG height = 0;
  EXPECT_EQ(v->get_Height(&height), S_OK);  // still usable
  v->Release();
}

// Another component's error information, left on the thread.
void LeaveStaleErrorInfo() {
  ICreateErrorInfo* create = nullptr;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  create->SetSource(const_cast<LPOLESTR>(L"Other.Component"));
  create->SetDescription(const_cast<LPOLESTR>(L"stale"));
  IErrorInfo* info = nullptr;
  create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
  SetErrorInfo(0, info);
  info->Release();
  create->Release();
}

struct FailingCall {
  const char* member;
  std::function<HRESULT()> call;
  HRESULT expected;
};

// Each call fails as expected and takes away what another component left on the thread.
void ExpectNoStaleErrorInfo(const std::vector<FailingCall>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.member);
    LeaveStaleErrorInfo();
    EXPECT_EQ(c.call(), c.expected);
    IErrorInfo* info = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE) << "another component's error information was left";
    if (info != nullptr) info->Release();
  }
}

TEST_F(ComTest, NoFailureCarriesStaleErrorInformation) {
  IVexorin* v = Create();
  ASSERT_NE(v, nullptr);
  BSTR empty = SysAllocString(L"");
  ExpectNoStaleErrorInfo({
      {"GenerateRnd", [&] { LONG n = 0; return v->GenerateRnd(0, &n); }, E_INVALIDARG},
      {"Number", [&] { return v->put_Number(empty); }, E_INVALIDARG},
      {"SaveToFile", [&] { return v->SaveToFile(empty); }, E_INVALIDARG},
      {"GetImage", [&] { return v->GetImage(nullptr); }, E_POINTER},
      {"Height", [&] { return v->get_Height(nullptr); }, E_POINTER},
      {"OnStartPage", [&] { return v->OnStartPage(nullptr); }, E_POINTER},
  });
  SysFreeString(empty);

  // By name: our own page-hook failure left on the thread must not reach the script as the message
  // of the next failing call.
  FakeRequest notAContext;
  EXPECT_EQ(v->OnStartPage(&notAContext), E_NOINTERFACE);
  EXCEPINFO exception = {};
  VARIANT zero = Long(0);
  DISPPARAMS one = {&zero, nullptr, 1, 0};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(v->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &one, &result, &exception, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(exception.scode, E_INVALIDARG);
  const std::wstring description = exception.bstrDescription != nullptr ? exception.bstrDescription : L"";
  EXPECT_EQ(description.find(L"ScriptingContext"), std::wstring::npos);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  v->Release();
}

TEST_F(ComTest, OutParametersAreWrittenNeverRead) {
  IVexorin* v = Create();
  ASSERT_NE(v, nullptr);
  // Uninitialised (0xCC with a string type: clearing it would free a wild pointer).
  VARIANT garbage;
  std::memset(&garbage, 0xCC, sizeof garbage);
  garbage.vt = VT_BSTR;
  ASSERT_EQ(v->GetImage(&garbage), S_OK);
  EXPECT_EQ(garbage.vt, VT_ARRAY | VT_UI1);
  VariantClear(&garbage);
  // Holding the caller's object: it stays the caller's, not released.
  FakeRequest callers;
  VARIANT holding;
  holding.vt = VT_UNKNOWN;
  holding.punkVal = &callers;
  ASSERT_EQ(v->GetImage(&holding), S_OK);
  EXPECT_EQ(callers.refs, 1);
  VariantClear(&holding);

  BSTR number = reinterpret_cast<BSTR>(static_cast<std::uintptr_t>(0xCCCCCCCCu));
  ASSERT_EQ(v->get_Number(&number), S_OK);
  EXPECT_EQ(SysStringLen(number), 8u);
  SysFreeString(number);
  v->Release();
}

TEST_F(ComTest, DispatchByTheRules) {
  IVexorin* v = Create();
  ASSERT_NE(v, nullptr);
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"GetWidth")};
  LPOLESTR nullName[] = {nullptr};
  EXPECT_EQ(v->GetIDsOfNames(IID_IVexorin, names, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(v->GetIDsOfNames(IID_NULL, nullptr, 1, LOCALE_USER_DEFAULT, &id), E_INVALIDARG);
  EXPECT_EQ(v->GetIDsOfNames(IID_NULL, nullName, 1, LOCALE_USER_DEFAULT, &id), E_INVALIDARG);
  EXPECT_EQ(v->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, nullptr), E_POINTER);
  ASSERT_EQ(v->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(v->Invoke(id, IID_IVexorin, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(v->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, nullptr, &result, nullptr, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(result.vt, VT_EMPTY);
  ASSERT_EQ(v->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result.lVal, 120);
  v->Release();
}

TEST_F(ComTest, TheHostsRandomSequenceIsItsOwn) {
  std::srand(1);
  EXPECT_EQ(std::rand(), 41);
  IVexorin* v = Create();
  ASSERT_NE(v, nullptr);
  LONG n = 0;
  EXPECT_EQ(v->GenerateRnd(5, &n), S_OK);
  VARIANT image;
  VariantInit(&image);
  EXPECT_EQ(v->GetImage(&image), S_OK);  // the jitter draws too
  VariantClear(&image);
  EXPECT_EQ(std::rand(), 18467);
  EXPECT_EQ(std::rand(), 6334);
  v->Release();
}

// What a directory holds, as the file system lists it: each name with its size and last write.
struct Entry {
  std::wstring name;
  ULONGLONG size;
  ULONGLONG written;
  bool operator==(const Entry& other) const {
    return name == other.name && size == other.size && written == other.written;
  }
};

std::vector<Entry> Listing(const std::wstring& dir) {
  std::vector<Entry> entries;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return entries;
  do {
    if (std::wcscmp(found.cFileName, L".") != 0 && std::wcscmp(found.cFileName, L"..") != 0) {
      entries.push_back({found.cFileName, (ULONGLONG{found.nFileSizeHigh} << 32) | found.nFileSizeLow,
                         (ULONGLONG{found.ftLastWriteTime.dwHighDateTime} << 32) | found.ftLastWriteTime.dwLowDateTime});
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return entries;
}

std::vector<std::wstring> Names(const std::vector<Entry>& entries) {
  std::vector<std::wstring> names;
  for (const Entry& e : entries) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  return names;
}

// A name given to SaveToFile, and what it must give: the one new name in the directory afterwards,
// or null for none.
struct FileNameCase {
  const wchar_t* what;
  std::wstring name;  // "{dir}" stands for the directory the file is to be written in
  HRESULT expected;
  const wchar_t* created;
};

// Names Windows would write under another name or open as no file on a disk: each is refused before
// anything is opened. The directory holds evil.asp, which the trimmed names would overwrite.
const std::vector<FileNameCase> kHostileNames = {
    {L"trailing dot", L"{dir}\\evil.asp.", E_INVALIDARG, nullptr},
    {L"trailing space", L"{dir}\\evil.asp ", E_INVALIDARG, nullptr},
    {L"trailing dots and spaces", L"{dir}\\evil.asp .. ", E_INVALIDARG, nullptr},
    {L"a directory with a trailing dot", L"{dir}\\sub.\\x.jpg", E_INVALIDARG, nullptr},
    {L"a directory with a trailing space", L"{dir}\\sub \\x.jpg", E_INVALIDARG, nullptr},
    {L"the main stream by its name", L"{dir}\\evil.asp::$DATA", E_INVALIDARG, nullptr},
    {L"a hidden stream", L"{dir}\\pic.jpg:hidden", E_INVALIDARG, nullptr},
    {L"a stream of the directory", L"{dir}:x.jpg", E_INVALIDARG, nullptr},
    {L"device NUL", L"NUL", E_INVALIDARG, nullptr},
    {L"device in a path", L"{dir}\\nul.jpg", E_INVALIDARG, nullptr},
    {L"device with a space", L"{dir}\\COM1 .jpg", E_INVALIDARG, nullptr},
    {L"console", L"CONOUT$", E_INVALIDARG, nullptr},
    {L"device namespace", L"\\\\.\\{dir}\\x.jpg", E_INVALIDARG, nullptr},
    {L"device namespace, slashes", L"//./{dir}\\x.jpg", E_INVALIDARG, nullptr},
    {L"object namespace", L"\\??\\{dir}\\x.jpg", E_INVALIDARG, nullptr},
    {L"\\\\?\\ but no drive", L"\\\\?\\GLOBALROOT\\Device\\Null", E_INVALIDARG, nullptr},
    {L"\\\\?\\ with slashes", L"//?/{dir}\\x.jpg", E_INVALIDARG, nullptr},
    {L"\\\\?\\ keeps the trailing dot", L"\\\\?\\{dir}\\evil.asp.", E_INVALIDARG, nullptr},
    // The one \\?\ form kept: a drive path, written as named.
    {L"\\\\?\\ drive path", L"\\\\?\\{dir}\\kept.jpg", S_OK, L"kept.jpg"},
};

// SaveToFile writes exactly the file named, or nothing, and nothing outside its directory: after
// each case the listing of the directory (and of the one around it) is what it was before, plus the
// one file created. Both directories are made here and removed at the end.
void ExpectTheFileNamed(const std::wstring& prefix, const std::function<HRESULT(BSTR)>& save,
                        std::vector<FileNameCase> cases) {
  cases.insert(cases.end(), kHostileNames.begin(), kHostileNames.end());
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring outer = std::wstring(temp) + prefix + std::to_wstring(GetCurrentProcessId());
  const std::wstring inner = outer + L"\\inner";
  ASSERT_TRUE(CreateDirectoryW(outer.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(inner.c_str(), nullptr));
  const std::wstring bait = inner + L"\\evil.asp";
  HANDLE file = CreateFileW(bait.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD wrote = 0;
  ASSERT_TRUE(WriteFile(file, "<% bait %>", 10, &wrote, nullptr));
  CloseHandle(file);
  const std::vector<Entry> before = Listing(inner);
  const std::vector<std::wstring> around = Names(Listing(outer));  // the directory inside changes its time
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.what);
    std::wstring full = c.name;
    const std::size_t at = full.find(L"{dir}");
    if (at != std::wstring::npos) full.replace(at, 5, inner);
    BSTR path = SysAllocStringLen(full.data(), static_cast<UINT>(full.size()));
    EXPECT_EQ(save(path), c.expected);
    SysFreeString(path);
    std::vector<Entry> after = Listing(inner);
    if (c.created != nullptr) {
      std::vector<std::wstring> expected = Names(before);
      expected.push_back(c.created);
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(Names(after), expected);
      DeleteFileW((inner + L"\\" + c.created).c_str());
      after = Listing(inner);
    }
    EXPECT_TRUE(after == before) << "the directory changed";
    EXPECT_EQ(Names(Listing(outer)), around) << "a file escaped the directory";
  }
  DeleteFileW(bait.c_str());
  RemoveDirectoryW(inner.c_str());
  RemoveDirectoryW(outer.c_str());
}

TEST_F(ComTest, TheFileWrittenIsTheFileNamed) {
  IVexorin* v = Create();
  ASSERT_NE(v, nullptr);
  ExpectTheFileNamed(L"vexorin-names-", [&](BSTR path) { return v->SaveToFile(path); },
                     {
                         // Full-width dots and backslash: best-fit narrowing made them "..\" and escaped the directory.
                         {L"full-width ..\\", L"{dir}\\\xFF0E\xFF0E\xFF3C" L"esc.jpg", S_OK, L"\xFF0E\xFF0E\xFF3C" L"esc.jpg"},
                         {L"full-width letters", L"{dir}\\\xFF52\xFF45\xFF50.jpg", S_OK, L"\xFF52\xFF45\xFF50.jpg"},
                         {L"U+0100", L"{dir}\\\x0100.jpg", S_OK, L"\x0100.jpg"},
                         {L"CJK", L"{dir}\\\x56FE\x7247.jpg", S_OK, L"\x56FE\x7247.jpg"},
                         {L"Cyrillic", L"{dir}\\\x0444\x043E\x0442\x043E.jpg", S_OK, L"\x0444\x043E\x0442\x043E.jpg"},
                         {L"emoji", L"{dir}\\\xD83D\xDE00.jpg", S_OK, L"\xD83D\xDE00.jpg"},
                         {L"dots inside", L"{dir}\\.\\a..b.jpg", S_OK, L"a..b.jpg"},
                         {L"NUL inside", std::wstring(L"{dir}\\evil.asp\0.jpg", 19), E_INVALIDARG, nullptr},
                     });
  v->Release();
}

// A copy of the DLL whose full path does not fit the 260-character buffer: registering it fails with
// 0x8007007A and writes nothing (the registered server stays the original).
TEST_F(ComTest, RegistrationFromAPathThatFillsTheBufferWritesNothing) {
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  std::wstring dir = std::wstring(temp) + L"vexorin-long";
  std::vector<std::wstring> made;
  while (dir.size() < 270) {
    CreateDirectoryW(dir.c_str(), nullptr);
    made.push_back(dir);
    dir += L"\\" + std::wstring(40, L'd');
  }
  CreateDirectoryW(dir.c_str(), nullptr);
  made.push_back(dir);
  const std::wstring copy = dir + L"\\vexorin.dll";
  ASSERT_TRUE(CopyFileW(DllPath().c_str(), copy.c_str(), FALSE)) << GetLastError();

  HMODULE module = LoadLibraryW(copy.c_str());
  if (module == nullptr) {
    DeleteFileW(copy.c_str());
    for (auto it = made.rbegin(); it != made.rend(); ++it) RemoveDirectoryW(it->c_str());
    GTEST_SKIP() << "this system does not load a DLL from a path this long";
  }
  auto reg = Export<HRESULT(STDAPICALLTYPE*)()>(module, "DllRegisterServer");
  ASSERT_NE(reg, nullptr);
  EXPECT_EQ(reg(), static_cast<HRESULT>(0x8007007A));
  FreeLibrary(module);

  wchar_t server[1024] = {};
  LONG size = sizeof server;
  ASSERT_EQ(RegQueryValueW(HKEY_CLASSES_ROOT, L"CLSID\\{E3D03CDB-B405-4350-8B9A-29BEA8873B1C}\\InprocServer32", server, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(server).find(L"vexorin-long"), std::wstring::npos) << "the long copy was registered";
  DeleteFileW(copy.c_str());
  for (auto it = made.rbegin(); it != made.rend(); ++it) RemoveDirectoryW(it->c_str());
}

TEST(ModuleResourcesTest, VersionAndProjectWord) {
  const std::wstring path = DllPath();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
  const struct {
    const wchar_t* name;
    const wchar_t* value;
  } strings[] = {{L"FileVersion", L"2.0.0.0"},          {L"ProductVersion", L"2.0.0.0"},
                 {L"FileDescription", L"Vexorin scripting component"},
                 {L"InternalName", L"vexorin.dll"},     {L"OriginalFilename", L"vexorin.dll"},
                 {L"ProductName", L"Vexorin"}};
  for (const auto& c : strings) {
    wchar_t* value = nullptr;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + c.name;
    ASSERT_TRUE(VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length)) << c.name;
    EXPECT_STREQ(value, c.value);
  }
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  wchar_t word[32] = {};
  EXPECT_GT(LoadStringW(module, 100, word, 32), 0);
  EXPECT_STREQ(word, L"corvath");
  FreeLibrary(module);
}

// Run on its own (a fresh process): the type information is loaded once per process.
TEST_F(ComTest, WithoutTheTypeLibraryOnlyTheVtableWorks) {
  // Each bitness registers the library under its own system kind.
  const SYSKIND own = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
  ASSERT_EQ(UnRegisterTypeLib(LIBID_corvathLib, 2, 0, 0, own), S_OK);
  IVexorin* v = Create();
  ASSERT_NE(v, nullptr);
  UINT count = 0;
  EXPECT_EQ(v->GetTypeInfoCount(&count), S_OK);
  ITypeInfo* info = nullptr;
  EXPECT_TRUE(FAILED(v->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info)));
  EXPECT_EQ(info, nullptr);
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"Height")};
  EXPECT_TRUE(FAILED(v->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)));
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  EXPECT_TRUE(FAILED(v->Invoke(4, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr)));
  LONG height = 0;
  EXPECT_EQ(v->get_Height(&height), S_OK);
  EXPECT_EQ(height, 30);
  v->Release();
  // The audio class alike: by name nothing, through its vtable everything.
  IVexorinAudio* a = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_CVexorinAudio, nullptr, CLSCTX_INPROC_SERVER, IID_IVexorinAudio,
                             reinterpret_cast<void**>(&a)), S_OK);
  names[0] = const_cast<LPOLESTR>(L"GetAudio");
  EXPECT_TRUE(FAILED(a->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)));
  EXPECT_TRUE(FAILED(a->Invoke(2, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr)));
  LONG noise = -1;
  EXPECT_EQ(a->get_Noise(&noise), S_OK);
  EXPECT_EQ(noise, 2);
  a->Release();
  // Put the registration back for whatever runs next.
  Exports dll;
  auto reg = Export<HRESULT(STDAPICALLTYPE*)()>(dll.module, "DllRegisterServer");
  ASSERT_NE(reg, nullptr);
  EXPECT_EQ(reg(), S_OK);
}

}  // namespace

// The spoken alternative: its own class in the same DLL, with the picture object's rules.
namespace {

class AudioComTest : public ComTest {
 protected:
  IVexorinAudio* CreateAudio() {
    IVexorinAudio* a = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_CVexorinAudio, nullptr, CLSCTX_INPROC_SERVER, IID_IVexorinAudio,
                               reinterpret_cast<void**>(&a)),
              S_OK);
    return a;
  }
  static void SetNumber(IVexorinAudio* a, const wchar_t* digits) {
    BSTR text = SysAllocString(digits);
    EXPECT_EQ(a->put_Number(text), S_OK);
    SysFreeString(text);
  }
};

std::vector<unsigned char> ArrayBytes(const VARIANT& v) {
  if (v.vt != (VT_ARRAY | VT_UI1)) return {};
  LONG upper = -1;
  SafeArrayGetUBound(v.parray, 1, &upper);
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(v.parray, &data))) return {};
  std::vector<unsigned char> bytes(static_cast<unsigned char*>(data), static_cast<unsigned char*>(data) + upper + 1);
  SafeArrayUnaccessData(v.parray);
  return bytes;
}

TEST_F(AudioComTest, CreatedByProgIdsWithItsOwnClassAndDefaults) {
  for (const wchar_t* progId : {L"Veltrano.VexorinAudio", L"Veltrano.VexorinAudio.1"}) {
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_CVexorinAudio));
  }
  LPOLESTR progId = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(CLSID_CVexorinAudio, &progId), S_OK);
  EXPECT_STREQ(progId, L"Veltrano.VexorinAudio.1");
  CoTaskMemFree(progId);
  IVexorinAudio* a = CreateAudio();
  ASSERT_NE(a, nullptr);
  BSTR number = nullptr;
  LONG noise = -1;
  EXPECT_EQ(a->get_Number(&number), S_OK);
  EXPECT_EQ(SysStringLen(number), 0u);
  SysFreeString(number);
  EXPECT_EQ(a->get_Noise(&noise), S_OK);
  EXPECT_EQ(noise, 2);
  // One object is no other: the picture's interface is not the audio's.
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(a->QueryInterface(IID_IVexorin, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(a->Release(), 0u);
}

TEST_F(AudioComTest, ClassObjectInterfaceTableAndAggregation) {
  Exports dll;
  IClassFactory* picture = nullptr;
  IClassFactory* audio = nullptr;
  ASSERT_EQ(dll.getClassObject(kClassId, IID_IClassFactory, reinterpret_cast<void**>(&picture)), S_OK);
  ASSERT_EQ(dll.getClassObject(CLSID_CVexorinAudio, IID_IClassFactory, reinterpret_cast<void**>(&audio)), S_OK);
  EXPECT_NE(picture, audio);
  IVexorinAudio* a = nullptr;
  ASSERT_EQ(audio->CreateInstance(nullptr, IID_IVexorinAudio, reinterpret_cast<void**>(&a)), S_OK);
  picture->Release();
  audio->Release();
  EXPECT_EQ(dll.canUnloadNow(), S_FALSE);  // the object holds the module

  IUnknown* unknown = nullptr;
  IDispatch* dispatch = nullptr;
  ISupportErrorInfo* support = nullptr;
  ASSERT_EQ(a->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  ASSERT_EQ(a->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  ASSERT_EQ(a->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)), S_OK);
  EXPECT_EQ(unknown, static_cast<IUnknown*>(a));
  EXPECT_EQ(dispatch, static_cast<IDispatch*>(a));
  IUnknown* fromSupport = nullptr;
  ASSERT_EQ(support->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&fromSupport)), S_OK);
  EXPECT_EQ(fromSupport, unknown);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IVexorinAudio), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IVexorin), S_FALSE);
  fromSupport->Release();
  support->Release();
  dispatch->Release();
  unknown->Release();
  EXPECT_EQ(a->Release(), 0u);
  EXPECT_EQ(dll.canUnloadNow(), S_OK);

  Outer outer;
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(CLSID_CVexorinAudio, &outer, CLSCTX_INPROC_SERVER, IID_IVexorinAudio, &out),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  ASSERT_EQ(CoCreateInstance(CLSID_CVexorinAudio, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&outer.inner)),
            S_OK);
  ASSERT_EQ(outer.QueryInterface(IID_IVexorinAudio, reinterpret_cast<void**>(&a)), S_OK);
  EXPECT_EQ(outer.refs, 2);
  IUnknown* identity = nullptr;
  ASSERT_EQ(a->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
  identity->Release();
  a->Release();
  EXPECT_EQ(outer.refs, 1);
  EXPECT_EQ(outer.inner->Release(), 0u);
}

TEST_F(AudioComTest, EveryMemberByNameAndTheWavItGives) {
  IVexorinAudio* a = CreateAudio();
  ASSERT_NE(a, nullptr);
  IDispatch* d = a;
  ITypeInfo* info = nullptr;
  ASSERT_EQ(d->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), S_OK);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
  EXPECT_TRUE(IsEqualGUID(attributes->guid, IID_IVexorinAudio));
  info->ReleaseTypeAttr(attributes);
  info->Release();
  const struct {
    const wchar_t* name;
    DISPID id;
  } ids[] = {{L"Number", 1}, {L"Noise", 2}, {L"GetAudio", 3}, {L"getaudio", 3}, {L"SaveToFile", 4}};
  for (const auto& c : ids) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(c.name)};
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, c.id);
  }
  DISPID id = 0;
  LPOLESTR pictureMember[] = {const_cast<LPOLESTR>(L"GenerateRnd")};
  EXPECT_EQ(d->GetIDsOfNames(IID_NULL, pictureMember, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);

  VARIANT result;
  VariantInit(&result);
  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(L"072");
  EXPECT_EQ(Call(d, L"Number", DISPATCH_PROPERTYPUT, {text}, nullptr), S_OK);
  VariantClear(&text);
  ASSERT_EQ(Call(d, L"Number", DISPATCH_PROPERTYGET, {}, &result), S_OK);
  ASSERT_EQ(result.vt, VT_BSTR);
  EXPECT_STREQ(result.bstrVal, L"072");
  VariantClear(&result);
  EXPECT_EQ(Call(d, L"Noise", DISPATCH_PROPERTYPUT, {Long(1)}, nullptr), S_OK);
  ASSERT_EQ(Call(d, L"Noise", DISPATCH_PROPERTYGET, {}, &result), S_OK);
  EXPECT_EQ(result.lVal, 1);
  ASSERT_EQ(Call(d, L"GetAudio", DISPATCH_METHOD, {}, &result), S_OK);
  const std::vector<unsigned char> wav = ArrayBytes(result);
  VariantClear(&result);
  ASSERT_GT(wav.size(), 44u + 32000u);  // three digits and their gaps take over a second
  EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
  EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
  std::uint32_t dataBytes = 0;
  std::memcpy(&dataBytes, &wav[40], 4);
  EXPECT_EQ(dataBytes, wav.size() - 44);
  // Two calls, two sounds.
  ASSERT_EQ(Call(d, L"GetAudio", DISPATCH_METHOD, {}, &result), S_OK);
  EXPECT_NE(ArrayBytes(result), wav);
  VariantClear(&result);

  // A failing member comes back from the type information as an exception carrying its code.
  for (LONG bad : {LONG{-1}, LONG{5}}) {
    EXCEPINFO exception = {};
    VARIANT value = Long(bad);
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS one = {&value, &put, 1, 1};
    EXPECT_EQ(d->Invoke(2, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &one, nullptr, &exception, nullptr),
              DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, E_INVALIDARG);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
  }
  EXPECT_EQ(a->Release(), 0u);
}

TEST_F(AudioComTest, DispatchByTheRules) {
  IVexorinAudio* a = CreateAudio();
  ASSERT_NE(a, nullptr);
  UINT count = 0;
  EXPECT_EQ(a->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(a->GetTypeInfoCount(nullptr), E_POINTER);
  ITypeInfo* t = reinterpret_cast<ITypeInfo*>(static_cast<std::uintptr_t>(0xCCCCCCCCu));
  EXPECT_EQ(a->GetTypeInfo(1, LOCALE_USER_DEFAULT, &t), DISP_E_BADINDEX);
  EXPECT_EQ(t, nullptr);
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"Noise")};
  LPOLESTR nullName[] = {nullptr};
  EXPECT_EQ(a->GetIDsOfNames(IID_IVexorinAudio, names, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(a->GetIDsOfNames(IID_NULL, nullptr, 1, LOCALE_USER_DEFAULT, &id), E_INVALIDARG);
  EXPECT_EQ(a->GetIDsOfNames(IID_NULL, nullName, 1, LOCALE_USER_DEFAULT, &id), E_INVALIDARG);
  EXPECT_EQ(a->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, nullptr), E_POINTER);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(a->Invoke(2, IID_IVexorinAudio, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(a->Invoke(2, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, nullptr, &result, nullptr, nullptr),
            E_INVALIDARG);
  ASSERT_EQ(a->Invoke(2, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result.lVal, 2);  // the default level
  a->Release();
}

TEST_F(AudioComTest, FailuresCarryNoStaleErrorInformationAndOutParametersAreOnlyWritten) {
  IVexorinAudio* a = CreateAudio();
  ASSERT_NE(a, nullptr);
  BSTR empty = SysAllocString(L"");
  BSTR letters = SysAllocString(L"12a");
  ExpectNoStaleErrorInfo({
      {"GetAudio before a number", [&] { VARIANT v; return a->GetAudio(&v); }, E_FAIL},
      {"Number empty", [&] { return a->put_Number(empty); }, E_INVALIDARG},
      {"Number with a letter", [&] { return a->put_Number(letters); }, E_INVALIDARG},
      {"Noise 5", [&] { return a->put_Noise(5); }, E_INVALIDARG},
      {"SaveToFile empty", [&] { return a->SaveToFile(empty); }, E_INVALIDARG},
      {"GetAudio null", [&] { return a->GetAudio(nullptr); }, E_POINTER},
      {"Number null", [&] { return a->get_Number(nullptr); }, E_POINTER},
  });
  SysFreeString(empty);
  SysFreeString(letters);

  SetNumber(a, L"9");
  VARIANT garbage;
  std::memset(&garbage, 0xCC, sizeof garbage);
  garbage.vt = VT_BSTR;  // clearing it would free a wild pointer
  ASSERT_EQ(a->GetAudio(&garbage), S_OK);
  EXPECT_EQ(garbage.vt, VT_ARRAY | VT_UI1);
  VariantClear(&garbage);
  FakeRequest callers;
  VARIANT holding;
  holding.vt = VT_UNKNOWN;
  holding.punkVal = &callers;
  ASSERT_EQ(a->GetAudio(&holding), S_OK);
  EXPECT_EQ(callers.refs, 1);  // the caller's object stays the caller's
  VariantClear(&holding);
  BSTR number = reinterpret_cast<BSTR>(static_cast<std::uintptr_t>(0xCCCCCCCCu));
  ASSERT_EQ(a->get_Number(&number), S_OK);
  EXPECT_STREQ(number, L"9");
  SysFreeString(number);
  a->Release();
}

TEST_F(AudioComTest, SaveToFileWritesTheFileNamedAndOnlyDiskFiles) {
  IVexorinAudio* a = CreateAudio();
  ASSERT_NE(a, nullptr);
  SetNumber(a, L"4711");
  ExpectTheFileNamed(L"vexorin-audio-names-", [&](BSTR path) { return a->SaveToFile(path); },
                     {
                         {L"full-width ..\\", L"{dir}\\\xFF0E\xFF0E\xFF3C" L"esc.wav", S_OK, L"\xFF0E\xFF0E\xFF3C" L"esc.wav"},
                         {L"CJK", L"{dir}\\\x58F0\x97F3.wav", S_OK, L"\x58F0\x97F3.wav"},
                         {L"NUL inside", std::wstring(L"{dir}\\evil.asp\0.wav", 19), E_INVALIDARG, nullptr},
                     });
  a->Release();
}

}  // namespace

// Hostile callers: pipes, malformed calls by name, and unloading after multithreaded use.
namespace {

// A name whose text says pipe is refused before anything is opened, so a listening server never
// sees the caller (and could not act as it).
TEST_F(AudioComTest, NoPipeServerSeesTheCaller) {
  const std::wstring leaf = L"vexorin-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring pipe = L"\\\\.\\pipe\\" + leaf;
  // One instance: once a client has come, no other can connect until the server lets it go.
  HANDLE server = CreateNamedPipeW(pipe.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE, 1,
                                   4096, 4096, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  OVERLAPPED listening = {};
  listening.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_FALSE(ConnectNamedPipe(server, &listening));
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));

  IVexorin* v = Create();
  IVexorinAudio* a = CreateAudio();
  ASSERT_NE(v, nullptr);
  ASSERT_NE(a, nullptr);
  SetNumber(a, L"123");
  for (const std::wstring& name :
       {pipe, L"\\\\?\\pipe\\" + leaf, L"//./pipe/" + leaf, L"\\??\\pipe\\" + leaf, L"\\\\.\\PIPE\\" + leaf,
        L"\\\\localhost\\pipe\\" + leaf, L"\\\\127.0.0.1\\pipe\\" + leaf, L"\\\\?\\UNC\\localhost\\pipe\\" + leaf,
        L"\\\\.\\mailslot\\" + leaf, L"\\\\localhost\\mailslot\\" + leaf}) {
    SCOPED_TRACE(testing::Message() << std::string(name.begin(), name.end()));
    BSTR path = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
    EXPECT_EQ(v->SaveToFile(path), E_INVALIDARG);
    EXPECT_EQ(a->SaveToFile(path), E_INVALIDARG);
    SysFreeString(path);
    EXPECT_EQ(WaitForSingleObject(listening.hEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the server saw a client";
  }
  v->Release();
  a->Release();
  // The server is still free for a first client, and sees it: this test would have seen the others.
  HANDLE client = CreateFileW(pipe.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(client, INVALID_HANDLE_VALUE) << GetLastError();
  DWORD ignored = 0;
  EXPECT_TRUE(GetOverlappedResult(server, &listening, &ignored, TRUE));
  if (client != INVALID_HANDLE_VALUE) CloseHandle(client);
  CloseHandle(listening.hEvent);
  CloseHandle(server);
}

// Runs this program again with only `test` (a DISABLED_ one), so that a crash there fails the
// calling test instead of ending the run; the child's output is passed on. A child that ends at its
// start without a word (the Wine start README.md tells of) is started once more, and said so.
void ExpectChildPasses(const char* test) {
  wchar_t program[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, program, MAX_PATH), 0u);
  const std::string filter(test);
  std::wstring command = L"\"" + std::wstring(program) + L"\" --gtest_also_run_disabled_tests --gtest_filter=" +
                         std::wstring(filter.begin(), filter.end());
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring log = std::wstring(temp) + L"vexorin-child-" + std::to_wstring(GetCurrentProcessId()) + L".log";
  for (int attempt = 1; attempt <= 2; ++attempt) {
    // A file, not a pipe: whatever the child leaves running cannot keep the reading open.
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE writeEnd = CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writeEnd, INVALID_HANDLE_VALUE);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION child = {};
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    const BOOL started = CreateProcessW(program, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child);
    CloseHandle(writeEnd);
    if (!started) FAIL() << "the child did not start: " << GetLastError();
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(child.hProcess, &status);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    HANDLE readEnd = CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(readEnd, INVALID_HANDLE_VALUE);
    std::string output;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) output.append(buffer, got);
    CloseHandle(readEnd);
    DeleteFileW(log.c_str());
    if (output.empty() && attempt == 1) {
      std::printf("[  child   ] ended at its start with status 0x%lx and no output; started once more\n",
                  static_cast<unsigned long>(status));
      continue;
    }
    std::printf("%s", output.c_str());
    EXPECT_EQ(status, 0u) << "the child " << test << " failed or crashed (status 0x" << std::hex << status << ")";
    return;
  }
  FAIL() << "the child " << test << " never started";
}

// Saves once through each class, for tests/windows/output_open_test.sh, which reads Wine's trace of the
// opens.
TEST(InChildProcess, DISABLED_SaveOnce) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  IVexorin* v = nullptr;
  IVexorinAudio* a = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_CVexorin, nullptr, CLSCTX_INPROC_SERVER, IID_IVexorin, reinterpret_cast<void**>(&v)), S_OK);
  ASSERT_EQ(CoCreateInstance(CLSID_CVexorinAudio, nullptr, CLSCTX_INPROC_SERVER, IID_IVexorinAudio,
                             reinterpret_cast<void**>(&a)), S_OK);
  BSTR number = SysAllocString(L"42");
  ASSERT_EQ(a->put_Number(number), S_OK);
  SysFreeString(number);
  const std::wstring picture = std::wstring(temp) + L"vexorin-sqos.jpg";
  const std::wstring sound = std::wstring(temp) + L"vexorin-sqos.wav";
  BSTR path = SysAllocString(picture.c_str());
  EXPECT_EQ(v->SaveToFile(path), S_OK);
  SysFreeString(path);
  path = SysAllocString(sound.c_str());
  EXPECT_EQ(a->SaveToFile(path), S_OK);
  SysFreeString(path);
  EXPECT_TRUE(DeleteFileW(picture.c_str()));
  EXPECT_TRUE(DeleteFileW(sound.c_str()));
  v->Release();
  a->Release();
  CoUninitialize();
}

TEST(HostileCallers, MalformedCallsByNameAreRefusedInAChildProcess) {
  ExpectChildPasses("InChildProcess.DISABLED_MalformedCallsByName");
}

TEST(HostileCallers, UnloadAfterMultithreadedUseInAChildProcess) {
  ExpectChildPasses("InChildProcess.DISABLED_UnloadAfterMultithreadedUse");
}

// One malformed or miscounted Invoke: the DISPPARAMS it passes are built from these fields over
// arrays that exist (three VT_I4 arguments, two named DISPIDs), or null ones where asked.
struct InvokeCase {
  const char* what;
  bool audio;  // the audio class; else the picture's
  DISPID id;
  WORD flags;
  UINT args;
  UINT named;
  DISPID namedId;  // each named argument's DISPID
  bool nullArgs;
  bool nullNamed;
  HRESULT expected;
};

constexpr WORD kGet = DISPATCH_PROPERTYGET;
constexpr WORD kPut = DISPATCH_PROPERTYPUT;
constexpr WORD kCall = DISPATCH_METHOD;
constexpr DISPID kValue = DISPID_PROPERTYPUT;

// Picture: 1 GenerateRnd(n), 2 SaveToFile(path), 3 Number, 4 Height, 5 Noise, 6 GetWidth().
// Audio: 1 Number, 2 Noise, 3 GetAudio(), 4 SaveToFile(path).
const InvokeCase kInvokeCases[] = {
    // Counts that promise arrays which are not there.
    {"arguments counted, none given", false, 1, kCall, 1, 0, 0, true, false, E_INVALIDARG},
    {"a put's name counted, none given", false, 4, kPut, 1, 1, 0, false, true, E_INVALIDARG},
    {"a put's name counted, none given (audio)", true, 2, kPut, 1, 1, 0, false, true, E_INVALIDARG},
    {"a named argument counted, none given", true, 3, kCall, 1, 1, 0, false, true, E_INVALIDARG},
    {"more named arguments than arguments", false, 4, kPut, 1, 2, kValue, false, false, E_INVALIDARG},
    {"a named argument and no argument", true, 2, kPut, 0, 1, kValue, true, false, E_INVALIDARG},
    {"both arrays missing", true, 4, kCall, 2, 1, 0, true, true, E_INVALIDARG},
    // Named arguments: only a put's value, named DISPID_PROPERTYPUT.
    {"a put without the value's name", false, 4, kPut, 1, 0, 0, false, false, DISP_E_PARAMNOTFOUND},
    {"a put without the value's name (audio)", true, 1, kPut, 1, 0, 0, false, false, DISP_E_PARAMNOTFOUND},
    {"a put's value named 0", false, 5, kPut, 1, 1, 0, false, false, DISP_E_NONAMEDARGS},
    {"a put's value named twice", true, 2, kPut, 2, 2, kValue, false, false, DISP_E_NONAMEDARGS},
    {"a method's argument named", false, 1, kCall, 1, 1, 0, false, false, DISP_E_NONAMEDARGS},
    {"a get with the put's name", true, 2, kGet, 1, 1, kValue, false, false, DISP_E_NONAMEDARGS},
    // Argument counts.
    {"Noise put with two arguments", false, 5, kPut, 2, 1, kValue, false, false, DISP_E_BADPARAMCOUNT},
    {"Noise put with two arguments (audio)", true, 2, kPut, 2, 1, kValue, false, false, DISP_E_BADPARAMCOUNT},
    {"Number(1) = value", false, 3, kPut, 2, 1, kValue, false, false, DISP_E_BADPARAMCOUNT},
    {"Number(1) = value (audio)", true, 1, kPut, 2, 1, kValue, false, false, DISP_E_BADPARAMCOUNT},
    {"Number(1)", false, 3, kGet, 1, 0, 0, false, false, DISP_E_BADPARAMCOUNT},
    {"SaveToFile(path, 1)", false, 2, kCall, 2, 0, 0, false, false, DISP_E_BADPARAMCOUNT},
    {"SaveToFile(path, 1) (audio)", true, 4, kCall, 2, 0, 0, false, false, DISP_E_BADPARAMCOUNT},
    {"SaveToFile()", true, 4, kCall, 0, 0, 0, false, false, DISP_E_BADPARAMCOUNT},
    {"GenerateRnd()", false, 1, kCall, 0, 0, 0, false, false, DISP_E_BADPARAMCOUNT},
    {"GenerateRnd(1, 2, 3)", false, 1, kCall, 3, 0, 0, false, false, DISP_E_BADPARAMCOUNT},
    {"GetWidth(1)", false, 6, kCall | kGet, 1, 0, 0, false, false, DISP_E_BADPARAMCOUNT},
    {"GetAudio(1)", true, 3, kCall, 1, 0, 0, false, false, DISP_E_BADPARAMCOUNT},
    {"a count far beyond the array", false, 6, kCall, 0x7FFFFFFF, 0, 0, false, false, DISP_E_BADPARAMCOUNT},
    // No such member, or not of that kind.
    {"an unknown DISPID", false, 99, kCall, 0, 0, 0, false, false, DISP_E_MEMBERNOTFOUND},
    {"no kind of call", true, 2, 0, 0, 0, 0, false, false, DISP_E_MEMBERNOTFOUND},
    {"a method called as a put", false, 6, kPut, 1, 1, kValue, false, false, DISP_E_MEMBERNOTFOUND},
    // Well-formed calls still work.
    {"Height = 1", false, 4, kPut, 1, 1, kValue, false, false, S_OK},
    {"Noise = 1 (audio)", true, 2, kPut, 1, 1, kValue, false, false, S_OK},
    {"GetWidth, as a script calls it", false, 6, kCall | kGet, 0, 0, 0, false, false, S_OK},
    {"Noise get (audio)", true, 2, kCall | kGet, 0, 0, 0, true, true, S_OK},
};

TEST(InChildProcess, DISABLED_MalformedCallsByName) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  IDispatch* picture = nullptr;
  IDispatch* audio = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_CVexorin, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                             reinterpret_cast<void**>(&picture)), S_OK);
  ASSERT_EQ(CoCreateInstance(CLSID_CVexorinAudio, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                             reinterpret_cast<void**>(&audio)), S_OK);
  for (const InvokeCase& c : kInvokeCases) {
    SCOPED_TRACE(c.what);
    std::printf("[   case   ] %s\n", c.what);  // the last line before a crash names its case
    std::fflush(stdout);
    VARIANT args[3] = {Long(1), Long(1), Long(1)};
    DISPID names[2] = {c.namedId, c.namedId};
    DISPPARAMS params = {c.nullArgs ? nullptr : args, c.nullNamed ? nullptr : names, c.args, c.named};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception = {};
    UINT argumentError = 0;
    IDispatch* target = c.audio ? audio : picture;
    EXPECT_EQ(target->Invoke(c.id, IID_NULL, LOCALE_USER_DEFAULT, c.flags, &params, &result, &exception, &argumentError),
              c.expected);
    if (FAILED(c.expected)) {
      EXPECT_EQ(result.vt, VT_EMPTY);
    }
    VariantClear(&result);
  }
  picture->Release();
  audio->Release();
  CoUninitialize();
}

// Whose reference keeps the DLL loaded after objects are made from a multithreaded apartment: made
// through the DLL's own class objects there, every reference is given back (our count returns to
// zero); made through CoCreateInstance, the host's apartment code keeps one on the class object
// per creation (Wine's combase: the class object it marshals into the host apartment is never
// released), which this test reports and README.md explains.
TEST(InChildProcess, DISABLED_UnloadAfterMultithreadedUse) {
  Exports dll;
  ASSERT_NE(dll.canUnloadNow, nullptr);
  const CLSID* classes[] = {&CLSID_CVexorin, &CLSID_CVexorinAudio};
  auto inMultithreadedApartment = [](const std::function<void()>& work) {
    std::thread thread([&] {
      ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
      work();
      CoUninitialize();
    });
    thread.join();
  };
  inMultithreadedApartment([&] {
    for (const CLSID* clsid : classes) {
      for (int i = 0; i < 3; ++i) {
        IClassFactory* factory = nullptr;
        ASSERT_EQ(dll.getClassObject(*clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
        IDispatch* object = nullptr;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object)), S_OK);
        factory->Release();
        UINT count = 0;
        EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
        EXPECT_EQ(object->Release(), 0u);
      }
    }
  });
  EXPECT_EQ(dll.canUnloadNow(), S_OK) << "the DLL's own count did not return to zero";

  constexpr int kCreations = 3;
  inMultithreadedApartment([&] {
    for (const CLSID* clsid : classes) {
      for (int i = 0; i < kCreations; ++i) {
        IDispatch* object = nullptr;
        ASSERT_EQ(CoCreateInstance(*clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   reinterpret_cast<void**>(&object)), S_OK);
        UINT count = 0;
        EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
        object->Release();
      }
    }
  });
  for (const CLSID* clsid : classes) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(dll.getClassObject(*clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    // Beside the DLL's cache and this test's own reference.
    const ULONG outside = RefCount(factory) - 2;
    factory->Release();
    std::printf("[   info   ] %d creations through CoCreateInstance from a multithreaded apartment left %lu "
                "reference(s) on the class object outside the DLL\n", kCreations, static_cast<unsigned long>(outside));
  }
}

}  // namespace
