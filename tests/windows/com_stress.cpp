// Soak and concurrency under Wine, through COM as a host would.
//   com_stress soak <calls>              GetImage <calls> times: no file written in TMP, handle count
//                                        and private memory flat from call 1000 to the last
//   com_stress threads <threads> <sec>   STA threads creating, using and releasing objects, with
//                                        class-object requests and LockServer mixed in
// Prints its figures; exit status 0 only when every check held.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"  // windows.h first: psapi.h needs it
#include "vexorin_h.h"

#include <psapi.h>

#include "com_support.h"
#include "tests/shared/test_support.h"

namespace {

using testing_support::Bstr;
using testing_support::Export;
using testing_support::Out;
using testing_support::unique_bstr;
using testing_support::unique_com;
using testing_support::unique_variant;

struct Usage {
  DWORD handles;
  SIZE_T privateBytes;
  unsigned long long addressSpace;  // virtual memory in use by the process
};

// Open handles: the process's count where the system keeps one (Wine answers 0), else the
// runtime's open file handles.
Usage Measure() {
  Usage u{0, 0, 0};
  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  if (GlobalMemoryStatusEx(&status)) u.addressSpace = status.ullTotalVirtual - status.ullAvailVirtual;
  GetProcessHandleCount(GetCurrentProcess(), &u.handles);
  if (u.handles == 0) u.handles = static_cast<DWORD>(testing_support::OpenFileHandles());
  PROCESS_MEMORY_COUNTERS_EX counters;
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters)) {
    u.privateBytes = counters.PrivateUsage;
  }
  return u;
}

int FilesIn(const std::string& dir) {
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return 0;
  int n = 0;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++n;
  } while (FindNextFileA(h, &found));
  FindClose(h);
  return n;
}

int Soak(long calls) {
  // A private TMP: GetImage writes no file, there or anywhere, so any file found there is a fault.
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  const std::string dir = std::string(base) + "vexorin-soak-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(dir.c_str(), nullptr);
  _putenv_s("TMP", dir.c_str());  // the runtime's environment, which its file calls would read

  CoInitialize(nullptr);
  unique_com<IVexorin> v;
  if (FAILED(CoCreateInstance(CLSID_CVexorin, nullptr, CLSCTX_INPROC_SERVER, IID_IVexorin, Out(v)))) {
    std::printf("FAIL the component is not registered\n");
    return 1;
  }
  v.get()->put_Noise(1);
  // The spoken alternative too, every tenth call (a sound costs some forty pictures).
  unique_com<IVexorinAudio> a;
  if (FAILED(CoCreateInstance(CLSID_CVexorinAudio, nullptr, CLSCTX_INPROC_SERVER, IID_IVexorinAudio, Out(a)))) {
    std::printf("FAIL the audio class is not registered\n");
    return 1;
  }
  a.get()->put_Number(Bstr(L"480613").get());
  int failures = 0;
  long sounds = 0;
  Usage first{0, 0, 0};
  const DWORD start = GetTickCount();
  for (long i = 1; i <= calls; ++i) {
    unique_variant image;
    const HRESULT hr = v.get()->GetImage(image.put());
    if (FAILED(hr) || image.get().vt != (VT_ARRAY | VT_UI1)) {
      std::printf("FAIL call %ld: 0x%08lX\n", i, static_cast<unsigned long>(hr));
      ++failures;
    }
    if (i % 10 == 0) {
      unique_variant sound;
      const HRESULT spoken = a.get()->GetAudio(sound.put());
      if (FAILED(spoken) || sound.get().vt != (VT_ARRAY | VT_UI1)) {
        std::printf("FAIL sound %ld: 0x%08lX\n", i, static_cast<unsigned long>(spoken));
        ++failures;
      }
      ++sounds;
    }
    if (i == 1000 || (calls < 1000 && i == 1)) first = Measure();
  }
  const Usage last = Measure();
  const double seconds = (GetTickCount() - start) / 1000.0;
  v.reset();
  a.reset();
  CoUninitialize();
  const int left = FilesIn(dir);
  RemoveDirectoryA(dir.c_str());
  std::printf("soak: %ld GetImage and %ld GetAudio calls in %.1f s\n", calls, sounds, seconds);
  std::printf("handles: %lu at call 1000, %lu at the end\n", static_cast<unsigned long>(first.handles),
              static_cast<unsigned long>(last.handles));
  std::printf("private memory: %lu KiB at call 1000, %lu KiB at the end\n",
              static_cast<unsigned long>(first.privateBytes / 1024), static_cast<unsigned long>(last.privateBytes / 1024));
  std::printf("address space in use: %llu KiB at call 1000, %llu KiB at the end\n", first.addressSpace / 1024,
              last.addressSpace / 1024);
  std::printf("files written in TMP: %d\n", left);
  if (left != 0) ++failures;
  if (last.handles > first.handles + 8) {
    ++failures;
    std::printf("FAIL handles grew\n");
  }
  if (last.privateBytes > first.privateBytes + 2 * 1024 * 1024 ||
      last.addressSpace > first.addressSpace + 8ull * 1024 * 1024) {
    ++failures;
    std::printf("FAIL private memory grew\n");
  }
  return failures == 0 ? 0 : 1;
}

int Threads(int count, int seconds, const wchar_t* dllPath) {
  HMODULE dll = LoadLibraryW(dllPath);
  auto getClassObject = Export<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(dll, "DllGetClassObject");
  auto canUnloadNow = Export<HRESULT(STDAPICALLTYPE*)()>(dll, "DllCanUnloadNow");
  if (getClassObject == nullptr || canUnloadNow == nullptr) {
    std::printf("FAIL cannot load the DLL's exports\n");
    return 1;
  }
  std::atomic<int> failures{0};
  std::atomic<long> objects{0}, calls{0};
  std::atomic<void*> classObject{nullptr};
  std::atomic<bool> differentClassObject{false};
  const DWORD deadline = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
  auto fail = [&](const char* what, int thread) {
    if (failures.fetch_add(1) < 20) std::printf("FAIL thread %d: %s\n", thread, what);
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t) {
    threads.emplace_back([&, t] {
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      for (long round = 0; GetTickCount() < deadline; ++round) {
        unique_com<IClassFactory> factory;
        if (FAILED(getClassObject(CLSID_CVexorin, IID_IClassFactory, Out(factory)))) {
          fail("DllGetClassObject", t);
          continue;
        }
        void* expected = nullptr;
        if (!classObject.compare_exchange_strong(expected, factory.get()) && expected != factory.get()) {
          differentClassObject = true;
        }
        if (round % 5 == 0) factory.get()->LockServer(TRUE);
        unique_com<IVexorin> v;
        HRESULT hr = (round % 3 == 0) ? CoCreateInstance(CLSID_CVexorin, nullptr, CLSCTX_INPROC_SERVER, IID_IVexorin, Out(v))
                                      : factory.get()->CreateInstance(nullptr, IID_IVexorin, Out(v));
        if (round % 5 == 0) factory.get()->LockServer(FALSE);
        factory.reset();
        if (FAILED(hr) || !v) {
          fail("CreateInstance", t);
          continue;
        }
        ++objects;
        // A number of the thread's own, read back exactly.
        wchar_t text[16];
        std::swprintf(text, 16, L"%d%05ld", t + 1, round % 100000);
        if (v.get()->put_Number(Bstr(text).get()) != S_OK) fail("put_Number", t);
        unique_bstr got;
        if (v.get()->get_Number(got.put()) != S_OK || !got || std::wcscmp(got.get(), text) != 0) fail("get_Number", t);
        LONG width = 0;
        if (v.get()->GetWidth(&width) != S_OK || width != 90) fail("GetWidth", t);
        LONG number = -1;
        if (v.get()->GenerateRnd(4, &number) != S_OK || number < 0 || number >= 10000) fail("GenerateRnd", t);
        if (round % 10 == 0) {
          unique_variant image;
          const HRESULT imaged = v.get()->GetImage(image.put());
          const VARIANT& bytes = image.get();
          if (imaged != S_OK || bytes.vt != (VT_ARRAY | VT_UI1) || bytes.parray->rgsabound[0].cElements < 1000 ||
              static_cast<BYTE*>(bytes.parray->pvData)[0] != 0xFF) {
            char what[64];
            std::snprintf(what, sizeof what, "GetImage 0x%08lX", static_cast<unsigned long>(imaged));
            fail(what, t);
          }
        }
        unique_com<IDispatch> d;
        if (v.get()->QueryInterface(IID_IDispatch, Out(d)) == S_OK) {
          DISPID id = 0;
          LPOLESTR name[] = {const_cast<LPOLESTR>(L"Height")};
          if (d.get()->GetIDsOfNames(IID_NULL, name, 1, LOCALE_USER_DEFAULT, &id) != S_OK || id != 4) fail("GetIDsOfNames", t);
          d.reset();
        }
        if (v.release()->Release() != 0) fail("Release", t);
        calls += 8;
      }
      CoUninitialize();
    });
  }
  for (auto& th : threads) th.join();
  const HRESULT unload = canUnloadNow();
  std::printf("threads: %d STA threads for %d s: %ld objects, about %ld calls, %d failures\n", count, seconds,
              objects.load(), calls.load(), failures.load());
  std::printf("class object: %s; DllCanUnloadNow at the end: %s\n",
              differentClassObject ? "MORE THAN ONE" : "one and the same for every request",
              unload == S_OK ? "S_OK" : "S_FALSE");
  return failures == 0 && !differentClassObject && unload == S_OK && objects > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  const std::string mode = argc > 1 ? argv[1] : "";
  // A first line before the component is touched: a start that printed nothing never ran (wine.sh).
  std::printf("com_stress %s\n", mode.c_str());
  if (mode == "soak" && argc > 2) return Soak(std::atol(argv[2]));
  if (mode == "threads" && argc > 3) {
    const char* path = std::getenv("VEXORIN_DLL");
    std::string narrow = path != nullptr ? path : "vexorin.dll";
    return Threads(std::atoi(argv[2]), std::atoi(argv[3]), std::wstring(narrow.begin(), narrow.end()).c_str());
  }
  std::fprintf(stderr, "usage: com_stress soak <calls> | threads <threads> <seconds>\n");
  return 2;
}
