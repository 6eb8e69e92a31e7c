// The farm's store through the registered DLL: Store by name, its refusals with error information,
// a store that cannot answer failing Verify closed, and processes racing one payload through the
// DLL against the test tree's Redis server (tests/redis_store.sh). Run with `--race PAYLOAD URL`,
// it is one racer: exit 0 verified, 1 refused, 2 no verdict.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "component/work/work.h"
#include "component/work/work_store.h"
#include "vexorin_h.h"
#include "work_support.h"

namespace {

using testing_support::PayloadOf;
using testing_support::Solve;

constexpr const wchar_t* kSecret = L"the farm's shared secret";

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string Narrow(BSTR text) {
  std::string out;
  for (UINT i = 0; i < SysStringLen(text); ++i) out += static_cast<char>(text[i] < 0x80 ? text[i] : '?');
  return out;
}

// Through the vtable; the error information's description after a failure.
struct Work {
  IVexorinWork* w = nullptr;
  Work() {
    CoCreateInstance(CLSID_CVexorinWork, nullptr, CLSCTX_INPROC_SERVER, IID_IVexorinWork, reinterpret_cast<void**>(&w));
  }
  ~Work() {
    if (w != nullptr) w->Release();
  }
  HRESULT Put(HRESULT (STDMETHODCALLTYPE IVexorinWork::*put)(BSTR), const std::wstring& value) {
    BSTR text = SysAllocString(value.c_str());
    const HRESULT hr = (w->*put)(text);
    SysFreeString(text);
    return hr;
  }
  static std::string Description() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || info == nullptr) return "(none)";
    BSTR text = nullptr;
    info->GetDescription(&text);
    std::string out = Narrow(text);
    SysFreeString(text);
    info->Release();
    return out;
  }
  std::string Challenge() {
    BSTR challenge = nullptr;
    if (FAILED(w->CreateChallenge(nullptr, nullptr, &challenge))) return "";
    std::string text = Narrow(challenge);
    SysFreeString(challenge);
    return text;
  }
  HRESULT Verify(const std::string& payload, VARIANT_BOOL& verified) {
    BSTR text = SysAllocString(Wide(payload).c_str());
    verified = VARIANT_TRUE;
    const HRESULT hr = w->Verify(text, nullptr, &verified);
    SysFreeString(text);
    return hr;
  }
  std::string Reason() {
    BSTR reason = nullptr;
    w->get_Reason(&reason);
    std::string text = Narrow(reason);
    SysFreeString(reason);
    return text;
  }
};

std::string StoreUrl() {
  const char* dir = std::getenv("VEXORIN_STORE_DIR");
  if (dir == nullptr) return "";
  std::string path = std::string("Z:") + dir + "/port";
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  std::ifstream in(path);
  int port = 0;
  in >> port;
  return port == 0 ? "" : "redis://:vexorin-test-password@127.0.0.1:" + std::to_string(port) + "/0?timeout=5000&prefix=com" +
                              std::to_string(GetCurrentProcessId()) + ":";
}

class WorkStoreComTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(WorkStoreComTest, StoreByNameAndItsRefusals) {
  Work work;
  ASSERT_NE(work.w, nullptr);
  DISPID id = 0;
  LPOLESTR name[] = {const_cast<LPOLESTR>(L"Store")};
  ASSERT_EQ(work.w->GetIDsOfNames(IID_NULL, name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
  EXPECT_EQ(id, 9);
  // By name: a bad URL reaches a script as an exception carrying E_INVALIDARG and saying why.
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocString(L"http://not-redis");
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params = {&value, &put, 1, 1};
  EXCEPINFO exception = {};
  EXPECT_EQ(work.w->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, &exception, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(exception.scode, E_INVALIDARG);
  EXPECT_NE(Narrow(exception.bstrDescription).find("redis://"), std::string::npos) << Narrow(exception.bstrDescription);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  VariantClear(&value);
  EXPECT_EQ(work.w->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &params, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);  // put-only

  // A Store without the Secret: both members refuse and say so.
  ASSERT_EQ(work.Put(&IVexorinWork::put_Store, L"redis://127.0.0.1:1"), S_OK);
  BSTR challenge = nullptr;
  EXPECT_EQ(work.w->CreateChallenge(nullptr, nullptr, &challenge), E_INVALIDARG);
  EXPECT_NE(Work::Description().find("Secret"), std::string::npos);
  VARIANT_BOOL verified;
  EXPECT_EQ(work.Verify("eyJ9", verified), E_INVALIDARG);
  EXPECT_NE(Work::Description().find("Secret"), std::string::npos);

  // A store nobody answers at: no verdict, an error of its own with the reason.
  ASSERT_EQ(work.Put(&IVexorinWork::put_Secret, kSecret), S_OK);
  ASSERT_EQ(work.w->put_Cost(vexorin::kMinWorkCost), S_OK);
  const std::string payload = PayloadOf(Solve(work.Challenge()));
  EXPECT_EQ(work.Verify(payload, verified), vexorin::kStoreFailed);
  EXPECT_EQ(verified, VARIANT_FALSE);
  EXPECT_NE(Work::Description().find("cannot connect"), std::string::npos);
  EXPECT_EQ(work.Reason(), "");
  // Empty: today's behaviour, the process's own ledger.
  ASSERT_EQ(work.Put(&IVexorinWork::put_Store, L""), S_OK);
  EXPECT_EQ(work.Verify(payload, verified), S_OK);
  EXPECT_EQ(verified, VARIANT_TRUE);
}

TEST_F(WorkStoreComTest, ProcessesRacingOnePayloadThroughTheDllVerifyItOnce) {
  const std::string url = StoreUrl();
  ASSERT_NE(url, "") << "no store: run through ctest (fixture store_server_start)";
  Work maker;
  ASSERT_EQ(maker.Put(&IVexorinWork::put_Secret, kSecret), S_OK);
  ASSERT_EQ(maker.w->put_Cost(vexorin::kMinWorkCost), S_OK);
  const std::string payload = PayloadOf(Solve(maker.Challenge()));
  char self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  constexpr int kProcesses = 5;
  std::vector<PROCESS_INFORMATION> racers;
  for (int i = 0; i < kProcesses; ++i) {
    std::string command = std::string("\"") + self + "\" --race " + payload + " \"" + url + "\"";
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    racers.push_back(process);
  }
  int outcomes[3] = {0, 0, 0};
  for (PROCESS_INFORMATION& process : racers) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 2;
    GetExitCodeProcess(process.hProcess, &code);
    ++outcomes[code < 2 ? code : 2];
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  EXPECT_EQ(outcomes[0], 1);
  EXPECT_EQ(outcomes[1], kProcesses - 1);
  EXPECT_EQ(outcomes[2], 0);
}

int Race(const char* payload, const char* url) {
  if (FAILED(CoInitialize(nullptr))) return 2;
  int code = 2;
  {
    Work work;
    VARIANT_BOOL verified = VARIANT_FALSE;
    if (work.w != nullptr && work.Put(&IVexorinWork::put_Secret, kSecret) == S_OK &&
        work.w->put_Cost(vexorin::kMinWorkCost) == S_OK && work.Put(&IVexorinWork::put_Store, Wide(url)) == S_OK &&
        work.Verify(payload, verified) == S_OK) {
      code = verified == VARIANT_TRUE ? 0 : 1;
      std::printf("%s\n", work.Reason().c_str());
    } else {
      std::printf("no verdict: %s\n", Work::Description().c_str());
    }
  }
  CoUninitialize();
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--race") return Race(argv[2], argv[3]);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
