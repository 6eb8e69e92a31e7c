// The proof-of-work class through the registered DLL: created by its ProgIDs, every member by name
// and through the vtable, the payloads a solver makes verified once, and the other classes' rules
// for error information and out-parameters.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "component/work/work.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "vexorin_h.h"
#include "tests/shared/work_support.h"

namespace {

using testing_support::PayloadOf;
using testing_support::Solve;

std::string Utf8(BSTR text) {
  std::string out;
  EXPECT_TRUE(platform::Utf8FromUtf16(text, SysStringLen(text), out));
  return out;
}

BSTR Wide(const std::string& ascii) { return SysAllocStringLen(std::wstring(ascii.begin(), ascii.end()).c_str(), static_cast<UINT>(ascii.size())); }

VARIANT Text(const wchar_t* text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  return v;
}

VARIANT Long(LONG value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

// A member by name, arguments in reading order; the exception's code when it fails with one.
HRESULT Call(IDispatch* d, const wchar_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* result) {
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  DISPID put = DISPID_PROPERTYPUT;
  if (flags == DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &put;
    params.cNamedArgs = 1;
  }
  EXCEPINFO exception = {};
  hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &exception, nullptr);
  for (VARIANT& v : args) VariantClear(&v);
  if (hr == DISP_E_EXCEPTION) {
    hr = exception.scode;
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
  }
  return hr;
}

class WorkComTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }
  IVexorinWork* Create() {
    IVexorinWork* w = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_CVexorinWork, nullptr, CLSCTX_INPROC_SERVER, IID_IVexorinWork,
                               reinterpret_cast<void**>(&w)),
              S_OK);
    return w;
  }
  static std::string Reason(IVexorinWork* w) {
    BSTR reason = nullptr;
    EXPECT_EQ(w->get_Reason(&reason), S_OK);
    std::string text = Utf8(reason);
    SysFreeString(reason);
    return text;
  }
};

TEST_F(WorkComTest, CreatedByProgIdsEveryMemberByName) {
  for (const wchar_t* progId : {L"Veltrano.VexorinWork", L"Veltrano.VexorinWork.1"}) {
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_CVexorinWork));
  }
  IVexorinWork* w = Create();
  ASSERT_NE(w, nullptr);
  IDispatch* d = w;
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(Call(d, L"Cost", DISPATCH_PROPERTYGET, {}, &result), S_OK);
  EXPECT_EQ(result.lVal, vexorin::kDefaultWorkCost);
  ASSERT_EQ(Call(d, L"Expires", DISPATCH_PROPERTYGET, {}, &result), S_OK);
  EXPECT_EQ(result.lVal, 600);
  EXPECT_EQ(Call(d, L"Cost", DISPATCH_PROPERTYPUT, {Long(99)}, nullptr), E_INVALIDARG);
  EXPECT_EQ(Call(d, L"Expires", DISPATCH_PROPERTYPUT, {Long(86401)}, nullptr), E_INVALIDARG);
  EXPECT_EQ(Call(d, L"Cost", DISPATCH_PROPERTYPUT, {Long(vexorin::kMinWorkCost)}, nullptr), S_OK);
  EXPECT_EQ(Call(d, L"Secret", DISPATCH_PROPERTYPUT, {Text(L"")}, nullptr), E_INVALIDARG);
  EXPECT_EQ(Call(d, L"Secret", DISPATCH_PROPERTYPUT, {Text(L"by name")}, nullptr), S_OK);
  EXPECT_NE(Call(d, L"Secret", DISPATCH_PROPERTYGET, {}, &result), S_OK);  // put-only
  ASSERT_EQ(Call(d, L"MaxCost", DISPATCH_PROPERTYGET, {}, &result), S_OK);
  EXPECT_EQ(result.lVal, vexorin::kDefaultWorkMaxCost);
  EXPECT_EQ(Call(d, L"MaxCost", DISPATCH_PROPERTYPUT, {Long(99)}, nullptr), E_INVALIDARG);
  EXPECT_EQ(Call(d, L"MaxCost", DISPATCH_PROPERTYPUT, {Long(vexorin::kMinWorkCost * 4)}, nullptr), S_OK);
  EXPECT_NE(Call(d, L"Statistics", DISPATCH_PROPERTYPUT, {Text(L"{}")}, nullptr), S_OK);  // get-only
  ASSERT_EQ(Call(d, L"Statistics", DISPATCH_PROPERTYGET, {}, &result), S_OK);
  ASSERT_EQ(result.vt, VT_BSTR);
  const auto before = nlohmann::json::parse(Utf8(result.bstrVal));
  VariantClear(&result);
  // A client that keeps asking pays more attempts, to MaxCost; the counters see each challenge.
  std::vector<long long> costs;
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(Call(d, L"CreateChallenge", DISPATCH_METHOD, {Text(L"s"), Text(L"2001:db8:1:2::7")}, &result), S_OK);
    costs.push_back(nlohmann::json::parse(Utf8(result.bstrVal)).at("parameters").at("data").at("attempts").get<long long>());
    VariantClear(&result);
  }
  const auto attempts = [](long long cost) { return (cost * 256 + 1249) / 1250; };  // 1,250 iterations each
  EXPECT_EQ(costs.front(), attempts(vexorin::kMinWorkCost));
  EXPECT_EQ(costs.back(), attempts(vexorin::kMinWorkCost * 4));
  ASSERT_EQ(Call(d, L"Statistics", DISPATCH_PROPERTYGET, {}, &result), S_OK);
  const auto after = nlohmann::json::parse(Utf8(result.bstrVal));
  VariantClear(&result);
  EXPECT_EQ(after.at("challenges").get<long long>() - before.at("challenges").get<long long>(), 40);
  EXPECT_GE(after.at("highestCostLastMinute").get<long long>(), vexorin::kMinWorkCost * 4);

  // The binding is optional: a script may leave it out.
  ASSERT_EQ(Call(d, L"CreateChallenge", DISPATCH_METHOD, {}, &result), S_OK);
  ASSERT_EQ(result.vt, VT_BSTR);
  const std::string unbound = Utf8(result.bstrVal);
  VariantClear(&result);
  ASSERT_EQ(Call(d, L"CreateChallenge", DISPATCH_METHOD, {Text(L"session 7")}, &result), S_OK);
  const std::string bound = Utf8(result.bstrVal);
  VariantClear(&result);
  EXPECT_EQ(nlohmann::json::parse(bound).at("parameters").at("data").at("session"), "session 7");

  const std::string payload = PayloadOf(Solve(unbound));
  const std::wstring wide(payload.begin(), payload.end());
  for (const char* expected : {"verified", "replayed"}) {
    ASSERT_EQ(Call(d, L"Verify", DISPATCH_METHOD, {Text(wide.c_str())}, &result), S_OK);
    ASSERT_EQ(result.vt, VT_BOOL);
    EXPECT_EQ(result.boolVal, std::string(expected) == "verified" ? VARIANT_TRUE : VARIANT_FALSE);
    ASSERT_EQ(Call(d, L"Reason", DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(Utf8(result.bstrVal), expected);
    VariantClear(&result);
  }
  const std::string boundPayload = PayloadOf(Solve(bound));
  const std::wstring boundWide(boundPayload.begin(), boundPayload.end());
  ASSERT_EQ(Call(d, L"Verify", DISPATCH_METHOD, {Text(boundWide.c_str()), Text(L"session 8")}, &result), S_OK);
  EXPECT_EQ(result.boolVal, VARIANT_FALSE);
  EXPECT_EQ(Reason(w), "invalid binding");
  ASSERT_EQ(Call(d, L"Verify", DISPATCH_METHOD, {Text(boundWide.c_str()), Text(L"session 7")}, &result), S_OK);
  EXPECT_EQ(result.boolVal, VARIANT_TRUE);
  EXPECT_EQ(w->Release(), 0u);
}

TEST_F(WorkComTest, ObjectsShareTheProcessKeyAndTheLedgerWhichOutlivesThem) {
  IVexorinWork* a = Create();
  IVexorinWork* b = Create();
  ASSERT_TRUE(a != nullptr && b != nullptr);
  ASSERT_EQ(a->put_Cost(vexorin::kMinWorkCost), S_OK);
  ASSERT_EQ(b->put_Cost(vexorin::kMinWorkCost), S_OK);
  BSTR empty = SysAllocString(L"");
  BSTR challenge = nullptr;
  ASSERT_EQ(a->CreateChallenge(empty, nullptr, &challenge), S_OK);
  BSTR payload = Wide(PayloadOf(Solve(Utf8(challenge))));
  SysFreeString(challenge);
  VARIANT_BOOL verified = VARIANT_FALSE;
  ASSERT_EQ(b->Verify(payload, empty, &verified), S_OK);
  EXPECT_EQ(verified, VARIANT_TRUE);
  ASSERT_EQ(a->Verify(payload, empty, &verified), S_OK);
  EXPECT_EQ(verified, VARIANT_FALSE);
  EXPECT_EQ(Reason(a), "replayed");
  // A dearer object refuses the cheaper object's challenge, signed with the same process key.
  ASSERT_EQ(a->CreateChallenge(empty, nullptr, &challenge), S_OK);
  BSTR cheap = Wide(PayloadOf(Solve(Utf8(challenge))));
  SysFreeString(challenge);
  ASSERT_EQ(b->put_Cost(vexorin::kMinWorkCost * 2), S_OK);
  ASSERT_EQ(b->Verify(cheap, empty, &verified), S_OK);
  EXPECT_EQ(verified, VARIANT_FALSE);
  EXPECT_EQ(Reason(b), "cost too low");
  SysFreeString(cheap);
  SysFreeString(payload);
  SysFreeString(empty);
  // What the process remembers outlives its objects: the module stays loaded.
  HMODULE module = nullptr;
  ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 static_cast<LPCWSTR>(*reinterpret_cast<void**>(a)), &module));
  const auto canUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  ASSERT_NE(canUnloadNow, nullptr);
  a->Release();
  b->Release();
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  CoFreeUnusedLibraries();
  HMODULE still = nullptr;
  EXPECT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 reinterpret_cast<LPCWSTR>(canUnloadNow), &still));
}

TEST_F(WorkComTest, HostileTextsFailuresAndOutParameters) {
  IVexorinWork* w = Create();
  ASSERT_NE(w, nullptr);
  ISupportErrorInfo* support = nullptr;
  ASSERT_EQ(w->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IVexorinWork), S_OK);
  support->Release();
  // Each refused as malformed, the call itself succeeding.
  const std::wstring big(10 << 20, L'A');
  const std::vector<std::wstring> texts = {L"", L"!!!!", std::wstring(L"eyJ9\0AAAA", 9), L"eyJ9\u00e9AAA", big};
  for (const std::wstring& text : texts) {
    BSTR payload = SysAllocStringLen(text.c_str(), static_cast<UINT>(text.size()));
    VARIANT_BOOL verified = VARIANT_TRUE;
    EXPECT_EQ(w->Verify(payload, nullptr, &verified), S_OK);
    EXPECT_EQ(verified, VARIANT_FALSE);
    EXPECT_EQ(Reason(w), "malformed") << text.size();
    SysFreeString(payload);
  }
  BSTR lone = SysAllocString(L"\xD800");
  const struct {
    const char* member;
    std::function<HRESULT()> call;
    HRESULT expected;
  } failures[] = {
      {"Verify null", [&] { return w->Verify(nullptr, nullptr, nullptr); }, E_POINTER},
      {"CreateChallenge null", [&] { return w->CreateChallenge(nullptr, nullptr, nullptr); }, E_POINTER},
      {"a lone surrogate bound", [&] { BSTR c = nullptr; return w->CreateChallenge(lone, nullptr, &c); }, E_INVALIDARG},
      {"a lone surrogate secret", [&] { return w->put_Secret(lone); }, E_INVALIDARG},
      {"Cost 0", [&] { return w->put_Cost(0); }, E_INVALIDARG},
      {"Expires 9", [&] { return w->put_Expires(9); }, E_INVALIDARG},
      {"Reason null", [&] { return w->get_Reason(nullptr); }, E_POINTER},
      {"a lone surrogate client", [&] { BSTR c = nullptr; return w->CreateChallenge(nullptr, lone, &c); }, E_INVALIDARG},
      {"a client too long",
       [&] {
         BSTR c = nullptr, client = SysAllocStringLen(std::wstring(257, L'1').c_str(), 257);
         const HRESULT hr = w->CreateChallenge(nullptr, client, &c);
         SysFreeString(client);
         return hr;
       },
       E_INVALIDARG},
      {"MaxCost 0", [&] { return w->put_MaxCost(0); }, E_INVALIDARG},
      {"Statistics null", [&] { return w->get_Statistics(nullptr); }, E_POINTER},
  };
  for (const auto& c : failures) {
    SCOPED_TRACE(c.member);
    ICreateErrorInfo* create = nullptr;
    ASSERT_EQ(CreateErrorInfo(&create), S_OK);
    IErrorInfo* stale = nullptr;
    create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&stale));
    SetErrorInfo(0, stale);
    stale->Release();
    create->Release();
    EXPECT_EQ(c.call(), c.expected);
    IErrorInfo* info = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE) << "another component's error information was left";
    if (info != nullptr) info->Release();
  }
  SysFreeString(lone);
  // Out-parameters are written, never read or freed.
  BSTR challenge = reinterpret_cast<BSTR>(static_cast<std::uintptr_t>(0xCCCCCCCCu));
  ASSERT_EQ(w->CreateChallenge(nullptr, nullptr, &challenge), S_OK);
  EXPECT_EQ(Utf8(challenge).rfind("{\"parameters\":{\"algorithm\":\"PBKDF2/SHA-256\"", 0), 0u);
  SysFreeString(challenge);
  EXPECT_EQ(w->Release(), 0u);
}

}  // namespace
