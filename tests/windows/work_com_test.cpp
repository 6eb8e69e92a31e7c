// The proof-of-work class through the registered DLL: created by its ProgIDs, every member by name
// and through the vtable, the payloads a solver makes verified once, and the other classes' rules
// for error information and out-parameters.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "component/work/work.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "tests/shared/work_support.h"
#include "tests/windows/com_support.h"
#include "vexorin_h.h"

namespace {

using testing_support::Bstr;
using testing_support::Long;
using testing_support::Out;
using testing_support::PayloadOf;
using testing_support::Solve;
using testing_support::Text;
using testing_support::unique_bstr;
using testing_support::unique_com;
using testing_support::unique_variant;

std::string Utf8(BSTR text) {
  std::string out;
  EXPECT_TRUE(platform::Utf8FromUtf16(text, SysStringLen(text), out));
  return out;
}

unique_bstr Wide(const std::string& ascii) { return Bstr(std::wstring(ascii.begin(), ascii.end())); }

// A member by name, arguments in reading order; the exception's code when it fails with one.
HRESULT Call(IDispatch* d, const wchar_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* result) {
  testing_support::Exception exception;
  const HRESULT hr = testing_support::Call(d, name, flags, std::move(args), result, nullptr, &exception.info);
  return hr == DISP_E_EXCEPTION ? exception.info.scode : hr;
}

class WorkComTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }
  static unique_com<IVexorinWork> Create() {
    return testing_support::Create<IVexorinWork>(CLSID_CVexorinWork, IID_IVexorinWork);
  }
  static std::string Reason(IVexorinWork* w) {
    unique_bstr reason;
    EXPECT_EQ(w->get_Reason(reason.put()), S_OK);
    return Utf8(reason.get());
  }
};

TEST_F(WorkComTest, CreatedByProgIdsEveryMemberByName) {
  for (const wchar_t* progId : {L"Veltrano.VexorinWork", L"Veltrano.VexorinWork.1"}) {
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_CVexorinWork));
  }
  unique_com<IVexorinWork> owner = Create();
  ASSERT_TRUE(owner);
  IVexorinWork* w = owner.get();
  IDispatch* d = w;
  unique_variant result;
  ASSERT_EQ(Call(d, L"Cost", DISPATCH_PROPERTYGET, {}, result.put()), S_OK);
  EXPECT_EQ(result.get().lVal, vexorin::kDefaultWorkCost);
  ASSERT_EQ(Call(d, L"Expires", DISPATCH_PROPERTYGET, {}, result.put()), S_OK);
  EXPECT_EQ(result.get().lVal, 600);
  EXPECT_EQ(Call(d, L"Cost", DISPATCH_PROPERTYPUT, {Long(99)}, nullptr), E_INVALIDARG);
  EXPECT_EQ(Call(d, L"Expires", DISPATCH_PROPERTYPUT, {Long(86401)}, nullptr), E_INVALIDARG);
  EXPECT_EQ(Call(d, L"Cost", DISPATCH_PROPERTYPUT, {Long(vexorin::kMinWorkCost)}, nullptr), S_OK);
  EXPECT_EQ(Call(d, L"Secret", DISPATCH_PROPERTYPUT, {Text(L"")}, nullptr), E_INVALIDARG);
  EXPECT_EQ(Call(d, L"Secret", DISPATCH_PROPERTYPUT, {Text(L"by name")}, nullptr), S_OK);
  EXPECT_NE(Call(d, L"Secret", DISPATCH_PROPERTYGET, {}, result.put()), S_OK);  // put-only
  ASSERT_EQ(Call(d, L"MaxCost", DISPATCH_PROPERTYGET, {}, result.put()), S_OK);
  EXPECT_EQ(result.get().lVal, vexorin::kDefaultWorkMaxCost);
  EXPECT_EQ(Call(d, L"MaxCost", DISPATCH_PROPERTYPUT, {Long(99)}, nullptr), E_INVALIDARG);
  EXPECT_EQ(Call(d, L"MaxCost", DISPATCH_PROPERTYPUT, {Long(vexorin::kMinWorkCost * 4)}, nullptr), S_OK);
  EXPECT_NE(Call(d, L"Statistics", DISPATCH_PROPERTYPUT, {Text(L"{}")}, nullptr), S_OK);  // get-only
  ASSERT_EQ(Call(d, L"Statistics", DISPATCH_PROPERTYGET, {}, result.put()), S_OK);
  ASSERT_EQ(result.get().vt, VT_BSTR);
  const auto before = nlohmann::json::parse(Utf8(result.get().bstrVal));
  // A client that keeps asking pays more attempts, to MaxCost; the counters see each challenge.
  std::vector<long long> costs;
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(Call(d, L"CreateChallenge", DISPATCH_METHOD, {Text(L"s"), Text(L"2001:db8:1:2::7")}, result.put()), S_OK);
    costs.push_back(
        nlohmann::json::parse(Utf8(result.get().bstrVal)).at("parameters").at("data").at("attempts").get<long long>());
  }
  const auto attempts = [](long long cost) { return (cost * 256 + 1249) / 1250; };  // 1,250 iterations each
  EXPECT_EQ(costs.front(), attempts(vexorin::kMinWorkCost));
  EXPECT_EQ(costs.back(), attempts(vexorin::kMinWorkCost * 4));
  ASSERT_EQ(Call(d, L"Statistics", DISPATCH_PROPERTYGET, {}, result.put()), S_OK);
  const auto after = nlohmann::json::parse(Utf8(result.get().bstrVal));
  EXPECT_EQ(after.at("challenges").get<long long>() - before.at("challenges").get<long long>(), 40);
  EXPECT_GE(after.at("highestCostLastMinute").get<long long>(), vexorin::kMinWorkCost * 4);

  // The binding is optional: a script may leave it out.
  ASSERT_EQ(Call(d, L"CreateChallenge", DISPATCH_METHOD, {}, result.put()), S_OK);
  ASSERT_EQ(result.get().vt, VT_BSTR);
  const std::string unbound = Utf8(result.get().bstrVal);
  ASSERT_EQ(Call(d, L"CreateChallenge", DISPATCH_METHOD, {Text(L"session 7")}, result.put()), S_OK);
  const std::string bound = Utf8(result.get().bstrVal);
  EXPECT_EQ(nlohmann::json::parse(bound).at("parameters").at("data").at("session"), "session 7");

  const std::string payload = PayloadOf(Solve(unbound));
  const std::wstring wide(payload.begin(), payload.end());
  for (const char* expected : {"verified", "replayed"}) {
    ASSERT_EQ(Call(d, L"Verify", DISPATCH_METHOD, {Text(wide.c_str())}, result.put()), S_OK);
    ASSERT_EQ(result.get().vt, VT_BOOL);
    EXPECT_EQ(result.get().boolVal, std::string(expected) == "verified" ? VARIANT_TRUE : VARIANT_FALSE);
    ASSERT_EQ(Call(d, L"Reason", DISPATCH_PROPERTYGET, {}, result.put()), S_OK);
    EXPECT_EQ(Utf8(result.get().bstrVal), expected);
  }
  const std::string boundPayload = PayloadOf(Solve(bound));
  const std::wstring boundWide(boundPayload.begin(), boundPayload.end());
  ASSERT_EQ(Call(d, L"Verify", DISPATCH_METHOD, {Text(boundWide.c_str()), Text(L"session 8")}, result.put()), S_OK);
  EXPECT_EQ(result.get().boolVal, VARIANT_FALSE);
  EXPECT_EQ(Reason(w), "invalid binding");
  ASSERT_EQ(Call(d, L"Verify", DISPATCH_METHOD, {Text(boundWide.c_str()), Text(L"session 7")}, result.put()), S_OK);
  EXPECT_EQ(result.get().boolVal, VARIANT_TRUE);
  result.reset();
  EXPECT_EQ(owner.release()->Release(), 0u);
}

TEST_F(WorkComTest, ObjectsShareTheProcessKeyAndTheLedgerWhichOutlivesThem) {
  unique_com<IVexorinWork> a = Create(), b = Create();
  ASSERT_TRUE(a && b);
  ASSERT_EQ(a.get()->put_Cost(vexorin::kMinWorkCost), S_OK);
  ASSERT_EQ(b.get()->put_Cost(vexorin::kMinWorkCost), S_OK);
  const unique_bstr empty = Bstr(L"");
  unique_bstr challenge;
  ASSERT_EQ(a.get()->CreateChallenge(empty.get(), nullptr, challenge.put()), S_OK);
  const unique_bstr payload = Wide(PayloadOf(Solve(Utf8(challenge.get()))));
  VARIANT_BOOL verified = VARIANT_FALSE;
  ASSERT_EQ(b.get()->Verify(payload.get(), empty.get(), &verified), S_OK);
  EXPECT_EQ(verified, VARIANT_TRUE);
  ASSERT_EQ(a.get()->Verify(payload.get(), empty.get(), &verified), S_OK);
  EXPECT_EQ(verified, VARIANT_FALSE);
  EXPECT_EQ(Reason(a.get()), "replayed");
  // A dearer object refuses the cheaper object's challenge, signed with the same process key.
  ASSERT_EQ(a.get()->CreateChallenge(empty.get(), nullptr, challenge.put()), S_OK);
  const unique_bstr cheap = Wide(PayloadOf(Solve(Utf8(challenge.get()))));
  ASSERT_EQ(b.get()->put_Cost(vexorin::kMinWorkCost * 2), S_OK);
  ASSERT_EQ(b.get()->Verify(cheap.get(), empty.get(), &verified), S_OK);
  EXPECT_EQ(verified, VARIANT_FALSE);
  EXPECT_EQ(Reason(b.get()), "cost too low");
  // What the process remembers outlives its objects: the module stays loaded.
  HMODULE module = nullptr;
  ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 static_cast<LPCWSTR>(*reinterpret_cast<void**>(a.get())), &module));
  const auto canUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  ASSERT_NE(canUnloadNow, nullptr);
  a.reset();
  b.reset();
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  CoFreeUnusedLibraries();
  HMODULE still = nullptr;
  EXPECT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 reinterpret_cast<LPCWSTR>(canUnloadNow), &still));
}

TEST_F(WorkComTest, HostileTextsFailuresAndOutParameters) {
  unique_com<IVexorinWork> owner = Create();
  ASSERT_TRUE(owner);
  IVexorinWork* w = owner.get();
  unique_com<ISupportErrorInfo> support;
  ASSERT_EQ(w->QueryInterface(IID_ISupportErrorInfo, Out(support)), S_OK);
  EXPECT_EQ(support.get()->InterfaceSupportsErrorInfo(IID_IVexorinWork), S_OK);
  // Each refused as malformed, the call itself succeeding.
  const std::wstring big(10 << 20, L'A');
  const std::vector<std::wstring> texts = {L"", L"!!!!", std::wstring(L"eyJ9\0AAAA", 9), L"eyJ9\u00e9AAA", big};
  for (const std::wstring& text : texts) {
    const unique_bstr payload = Bstr(text);
    VARIANT_BOOL verified = VARIANT_TRUE;
    EXPECT_EQ(w->Verify(payload.get(), nullptr, &verified), S_OK);
    EXPECT_EQ(verified, VARIANT_FALSE);
    EXPECT_EQ(Reason(w), "malformed") << text.size();
  }
  const unique_bstr owned = Bstr(L"\xD800");
  BSTR lone = owned.get();
  const struct {
    const char* member;
    std::function<HRESULT()> call;
    HRESULT expected;
  } failures[] = {
      {"Verify null", [&] { return w->Verify(nullptr, nullptr, nullptr); }, E_POINTER},
      {"CreateChallenge null", [&] { return w->CreateChallenge(nullptr, nullptr, nullptr); }, E_POINTER},
      {"a lone surrogate bound", [&] { unique_bstr c; return w->CreateChallenge(lone, nullptr, c.put()); }, E_INVALIDARG},
      {"a lone surrogate secret", [&] { return w->put_Secret(lone); }, E_INVALIDARG},
      {"Cost 0", [&] { return w->put_Cost(0); }, E_INVALIDARG},
      {"Expires 9", [&] { return w->put_Expires(9); }, E_INVALIDARG},
      {"Reason null", [&] { return w->get_Reason(nullptr); }, E_POINTER},
      {"a lone surrogate client", [&] { unique_bstr c; return w->CreateChallenge(nullptr, lone, c.put()); }, E_INVALIDARG},
      {"a client too long",
       [&] {
         unique_bstr c;
         return w->CreateChallenge(nullptr, Bstr(std::wstring(257, L'1')).get(), c.put());
       },
       E_INVALIDARG},
      {"MaxCost 0", [&] { return w->put_MaxCost(0); }, E_INVALIDARG},
      {"Statistics null", [&] { return w->get_Statistics(nullptr); }, E_POINTER},
  };
  for (const auto& c : failures) {
    SCOPED_TRACE(c.member);
    testing_support::LeaveStaleErrorInfo();
    EXPECT_EQ(c.call(), c.expected);
    EXPECT_EQ(testing_support::TakeErrorInfo(), S_FALSE) << "another component's error information was left";
  }
  // Out-parameters are written, never read or freed (so no owner: its put() would free the garbage).
  BSTR challenge = reinterpret_cast<BSTR>(static_cast<std::uintptr_t>(0xCCCCCCCCu));
  ASSERT_EQ(w->CreateChallenge(nullptr, nullptr, &challenge), S_OK);
  EXPECT_EQ(Utf8(challenge).rfind("{\"parameters\":{\"algorithm\":\"PBKDF2/SHA-256\"", 0), 0u);
  SysFreeString(challenge);
  support.reset();
  EXPECT_EQ(owner.release()->Release(), 0u);
}

}  // namespace
