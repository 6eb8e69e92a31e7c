// The farm's store through the registered DLL: Store by name, its refusals with error information,
// a store that cannot answer failing Verify closed, and processes racing one payload through the
// DLL against the test tree's Redis server (tests/redis_store.sh). Run with `--race PAYLOAD URL`,
// it is one racer: exit 0 verified, 1 refused, 2 no verdict.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "component/work/work.h"
#include "component/work/work_store.h"
#include "vexorin_h.h"
#include "tests/shared/work_support.h"

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

// A page's own store object (here in C++; a page's would be a script class over ADO): AddIfAbsent
// by name, True when it added the key; or failing, or answering no Boolean.
class PageStore final : public IDispatch {
 public:
  enum class Mode { kWorks, kFails, kNoBoolean } mode = Mode::kWorks;
  std::map<std::wstring, LONG> keys;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch)) return E_NOINTERFACE;
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (count != 1 || lstrcmpiW(names[0], L"AddIfAbsent") != 0) return DISP_E_UNKNOWNNAME;
    ids[0] = 7;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT*) override {
    if (id != 7 || (flags & DISPATCH_METHOD) == 0 || params->cArgs != 2 || params->rgvarg[1].vt != VT_BSTR ||
        params->rgvarg[0].vt != VT_I4 || result == nullptr) {
      return DISP_E_BADPARAMCOUNT;
    }
    if (mode == Mode::kFails) {
      exception->scode = E_FAIL;
      exception->bstrDescription = SysAllocString(L"the database is read-only");
      return DISP_E_EXCEPTION;
    }
    VariantInit(result);
    if (mode == Mode::kNoBoolean) {
      result->vt = VT_I4;
      result->lVal = 1;
      return S_OK;
    }
    const bool added = keys.emplace(params->rgvarg[1].bstrVal, params->rgvarg[0].lVal).second;
    result->vt = VT_BOOL;
    result->boolVal = added ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  ULONG references() const { return references_; }

 private:
  ULONG references_ = 1;
};

TEST_F(WorkStoreComTest, APagesOwnStoreObject) {
  PageStore store;
  {
    Work a, b;
    for (Work* w : {&a, &b}) {
      ASSERT_EQ(w->Put(&IVexorinWork::put_Secret, kSecret), S_OK);
      ASSERT_EQ(w->w->put_Cost(vexorin::kMinWorkCost), S_OK);
    }
    // As a script's `Set work.Store = object` calls it: a put by reference, by name.
    DISPID id = 0;
    LPOLESTR name[] = {const_cast<LPOLESTR>(L"Store")};
    ASSERT_EQ(a.w->GetIDsOfNames(IID_NULL, name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_DISPATCH;
    value.pdispVal = &store;
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params = {&value, &put, 1, 1};
    ASSERT_EQ(a.w->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUTREF, &params, nullptr, nullptr, nullptr),
              S_OK);
    ASSERT_EQ(b.w->putref_Store(&store), S_OK);
    EXPECT_EQ(store.references(), 3u);

    const std::string payload = PayloadOf(Solve(a.Challenge()));
    VARIANT_BOOL verified;
    ASSERT_EQ(b.Verify(payload, verified), S_OK);
    EXPECT_EQ(verified, VARIANT_TRUE);
    ASSERT_EQ(a.Verify(payload, verified), S_OK);
    EXPECT_EQ(verified, VARIANT_FALSE);
    EXPECT_EQ(a.Reason(), "replayed");
    ASSERT_EQ(store.keys.size(), 1u);
    EXPECT_EQ(store.keys.begin()->first.size(), 64u);  // no prefix: the HMAC's hex
    EXPECT_GT(store.keys.begin()->second, vexorin::kDefaultWorkExpires - 5);
    EXPECT_LE(store.keys.begin()->second, vexorin::kDefaultWorkExpires + vexorin::kWorkClockSkew);
    // Client counts stay the process's own: a challenge for a client still comes.
    BSTR client = SysAllocString(L"192.0.2.1"), challenge = nullptr;
    EXPECT_EQ(a.w->CreateChallenge(nullptr, client, &challenge), S_OK);
    SysFreeString(client);
    SysFreeString(challenge);

    // A store object that fails, or answers no Boolean: no verdict, and the reason.
    for (PageStore::Mode mode : {PageStore::Mode::kFails, PageStore::Mode::kNoBoolean}) {
      store.mode = mode;
      const std::string another = PayloadOf(Solve(a.Challenge()));
      EXPECT_EQ(a.Verify(another, verified), vexorin::kStoreFailed);
      EXPECT_EQ(verified, VARIANT_FALSE);
      EXPECT_EQ(a.Reason(), "");
      EXPECT_NE(Work::Description().find(mode == PageStore::Mode::kFails ? "read-only" : "no Boolean"),
                std::string::npos);
    }
    ASSERT_EQ(b.w->putref_Store(nullptr), S_OK);  // Nothing: no store
    EXPECT_EQ(store.references(), 2u);
  }
  EXPECT_EQ(store.references(), 1u);
}

// The same from VBScript: a script class as the store (tests/windows/scripts/page_store.vbs), through the
// cscript of this test's bitness.
TEST_F(WorkStoreComTest, APagesStoreObjectInVBScript) {
  const char* scripts = std::getenv("VEXORIN_SCRIPTS");
  ASSERT_NE(scripts, nullptr) << "VEXORIN_SCRIPTS names tests/scripts";
  Work maker;
  ASSERT_EQ(maker.Put(&IVexorinWork::put_Secret, kSecret), S_OK);
  ASSERT_EQ(maker.w->put_Cost(vexorin::kMinWorkCost), S_OK);
  const std::string payload = PayloadOf(Solve(maker.Challenge()));
  std::string directory = std::string("Z:") + scripts;
  for (char& c : directory) {
    if (c == '/') c = '\\';
  }
  char system[MAX_PATH];
  ASSERT_GT(GetSystemDirectoryA(system, MAX_PATH), 0u);
  std::string command = std::string("\"") + system + "\\cscript.exe\" //nologo page_store.vbs \"" +
                        "the farm's shared secret\" " + payload;
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, directory.c_str(), &startup,
                             &process));
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 99;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  EXPECT_EQ(code, 42u);  // every check held; a run-time error leaves Wine's cscript at 0
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
