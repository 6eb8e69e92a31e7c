// The DLL as a host uses it: through COM, by ProgID and CLSID, by name through IDispatch, and
// through its four exports loaded with LoadLibrary. Needs the DLL registered (registration_test).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <functional>
#include <utility>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <jpeglib.h>

#include "com_support.h"
#include "reference_jpeg.h"
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

TEST_F(ComTest, NoFailureCarriesStaleErrorInformation) {
  IVexorin* v = Create();
  ASSERT_NE(v, nullptr);
  BSTR empty = SysAllocString(L"");
  const struct {
    const char* member;
    std::function<HRESULT()> call;
    HRESULT expected;
  } cases[] = {
      {"GenerateRnd", [&] { LONG n = 0; return v->GenerateRnd(0, &n); }, E_INVALIDARG},
      {"Number", [&] { return v->put_Number(empty); }, E_INVALIDARG},
      {"SaveToFile", [&] { return v->SaveToFile(empty); }, E_INVALIDARG},
      {"GetImage", [&] { return v->GetImage(nullptr); }, E_POINTER},
      {"Height", [&] { return v->get_Height(nullptr); }, E_POINTER},
      {"OnStartPage", [&] { return v->OnStartPage(nullptr); }, E_POINTER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.member);
    LeaveStaleErrorInfo();
    EXPECT_EQ(c.call(), c.expected);
    IErrorInfo* info = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE) << "another component's error information was left";
    if (info != nullptr) info->Release();
  }
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

// Names in a fresh directory, as the file system has them.
std::vector<std::wstring> Names(const std::wstring& dir) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (std::wcscmp(found.cFileName, L".") != 0 && std::wcscmp(found.cFileName, L"..") != 0) {
      names.push_back(found.cFileName);
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

// A name given to SaveToFile, and what it must give: the one name inside `inner` afterwards, or
// null for none.
struct FileNameCase {
  const wchar_t* what;
  std::wstring name;  // inside `inner`, but for the bare device name NUL
  HRESULT expected;
  const wchar_t* created;
};

// SaveToFile writes exactly the file named, or nothing, and nothing outside `inner` (inside `outer`).
// Both directories are made here and removed at the end.
void ExpectTheFileNamed(const std::wstring& prefix, const std::function<HRESULT(BSTR)>& save,
                        const std::vector<FileNameCase>& cases) {
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring outer = std::wstring(temp) + prefix + std::to_wstring(GetCurrentProcessId());
  const std::wstring inner = outer + L"\\inner";
  ASSERT_TRUE(CreateDirectoryW(outer.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(inner.c_str(), nullptr));
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.what);
    const std::wstring full = c.name == L"NUL" ? c.name : inner + L"\\" + c.name;
    BSTR path = SysAllocStringLen(full.data(), static_cast<UINT>(full.size()));
    EXPECT_EQ(save(path), c.expected);
    SysFreeString(path);
    const std::vector<std::wstring> names = Names(inner);
    if (c.created == nullptr) {
      EXPECT_TRUE(names.empty());
    } else {
      ASSERT_EQ(names.size(), 1u);
      EXPECT_EQ(names[0], c.created);
      DeleteFileW((inner + L"\\" + c.created).c_str());
    }
    EXPECT_EQ(Names(outer), std::vector<std::wstring>{L"inner"}) << "a file escaped the directory";
  }
  RemoveDirectoryW(inner.c_str());
  RemoveDirectoryW(outer.c_str());
}

TEST_F(ComTest, TheFileWrittenIsTheFileNamed) {
  IVexorin* v = Create();
  ASSERT_NE(v, nullptr);
  ExpectTheFileNamed(L"vexorin-names-", [&](BSTR path) { return v->SaveToFile(path); },
                     {
                         // Full-width dots and backslash: best-fit narrowing made them "..\" and escaped the directory.
                         {L"full-width ..\\", L"\xFF0E\xFF0E\xFF3C" L"esc.jpg", S_OK, L"\xFF0E\xFF0E\xFF3C" L"esc.jpg"},
                         {L"full-width letters", L"\xFF52\xFF45\xFF50.jpg", S_OK, L"\xFF52\xFF45\xFF50.jpg"},
                         {L"U+0100", L"\x0100.jpg", S_OK, L"\x0100.jpg"},
                         {L"CJK", L"\x56FE\x7247.jpg", S_OK, L"\x56FE\x7247.jpg"},
                         {L"Cyrillic", L"\x0444\x043E\x0442\x043E.jpg", S_OK, L"\x0444\x043E\x0442\x043E.jpg"},
                         {L"emoji", L"\xD83D\xDE00.jpg", S_OK, L"\xD83D\xDE00.jpg"},
                         {L"NUL inside", std::wstring(L"evil.asp\0.jpg", 13), E_INVALIDARG, nullptr},
                         {L"device NUL", L"NUL", E_INVALIDARG, nullptr},
                         {L"device in a path", L"nul.jpg", E_INVALIDARG, nullptr},
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
  const struct {
    const char* member;
    std::function<HRESULT()> call;
    HRESULT expected;
  } cases[] = {
      {"GetAudio before a number", [&] { VARIANT v; return a->GetAudio(&v); }, E_FAIL},
      {"Number empty", [&] { return a->put_Number(empty); }, E_INVALIDARG},
      {"Number with a letter", [&] { return a->put_Number(letters); }, E_INVALIDARG},
      {"Noise 5", [&] { return a->put_Noise(5); }, E_INVALIDARG},
      {"SaveToFile empty", [&] { return a->SaveToFile(empty); }, E_INVALIDARG},
      {"GetAudio null", [&] { return a->GetAudio(nullptr); }, E_POINTER},
      {"Number null", [&] { return a->get_Number(nullptr); }, E_POINTER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.member);
    LeaveStaleErrorInfo();
    EXPECT_EQ(c.call(), c.expected);
    IErrorInfo* info = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE) << "another component's error information was left";
    if (info != nullptr) info->Release();
  }
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
                         {L"full-width ..\\", L"\xFF0E\xFF0E\xFF3C" L"esc.wav", S_OK, L"\xFF0E\xFF0E\xFF3C" L"esc.wav"},
                         {L"CJK", L"\x58F0\x97F3.wav", S_OK, L"\x58F0\x97F3.wav"},
                         {L"NUL inside", std::wstring(L"evil.asp\0.wav", 13), E_INVALIDARG, nullptr},
                         {L"device NUL", L"NUL", E_INVALIDARG, nullptr},
                         {L"device in a path", L"nul.wav", E_INVALIDARG, nullptr},
                     });
  a->Release();
}

}  // namespace
