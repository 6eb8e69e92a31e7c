// A COM client as a host of one bitness is: asks for the registered classes in-process only, draws
// and speaks, and proves that the DLL serving them is loaded in this very process from the
// expected path.
//   inproc_client <expected DLL path>   create, call by vtable and by name, check the module
//   inproc_client --absent              the classes must not be available in-process to this side
// A surrogate process would answer CoCreateInstance too; hence the module handle and the check
// that the object's own code lies inside that module's image.
// Prints one line per finding; exit status 0 only when every check held.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "platform/owner.h"
#include "platform/platform.h"
#include "vexorin_h.h"

namespace {

using platform::unique_bstr;
using platform::unique_com;
using platform::unique_variant;

int failures = 0;

void Check(bool ok, const char* what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
  if (!ok) ++failures;
}

std::wstring FullPath(const wchar_t* path) {
  wchar_t full[MAX_PATH];
  const DWORD n = GetFullPathNameW(path, MAX_PATH, full, nullptr);
  return n > 0 && n < MAX_PATH ? std::wstring(full, n) : std::wstring(path);
}

// A JPEG in a byte-array VARIANT: SOI first, EOI last, more than headers.
bool HoldsJpeg(const VARIANT& v, LONG* size) {
  *size = 0;
  if (V_VT(&v) != (VT_ARRAY | VT_UI1)) return false;
  const platform::safearray_access<unsigned char> bytes(V_ARRAY(&v));
  if (FAILED(bytes.result())) return false;
  *size = static_cast<LONG>(bytes.size());
  return bytes.size() >= 600 && bytes.data()[0] == 0xFF && bytes.data()[1] == 0xD8 &&
         bytes.data()[bytes.size() - 2] == 0xFF && bytes.data()[bytes.size() - 1] == 0xD9;
}

// The module's image range, read from its own PE header.
bool InsideImage(HMODULE module, const void* address) {
  const auto* base = reinterpret_cast<const unsigned char*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const auto* at = static_cast<const unsigned char*>(address);
  return at >= base && at < base + nt->OptionalHeader.SizeOfImage;
}

// A WAV in a byte-array VARIANT: the RIFF/WAVE header and a data chunk that fills the rest.
bool HoldsWav(const VARIANT& v) {
  if (V_VT(&v) != (VT_ARRAY | VT_UI1)) return false;
  const platform::safearray_access<unsigned char> wav(V_ARRAY(&v));
  if (FAILED(wav.result()) || wav.size() < 45) return false;
  const unsigned char* bytes = wav.data();
  const unsigned long dataBytes = bytes[40] | bytes[41] << 8 | bytes[42] << 16 | static_cast<unsigned long>(bytes[43]) << 24;
  return std::memcmp(bytes, "RIFF", 4) == 0 && std::memcmp(bytes + 8, "WAVEfmt ", 8) == 0 &&
         dataBytes == static_cast<unsigned long>(wav.size() - 44);
}

HRESULT CallByName(IDispatch* object, const wchar_t* name, VARIANT* result) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, result,
                        nullptr, nullptr);
}

int Absent() {
  unique_com<IVexorin> v;
  const HRESULT hr =
      CoCreateInstance(CLSID_CVexorin, nullptr, CLSCTX_INPROC_SERVER, IID_IVexorin, reinterpret_cast<void**>(v.put()));
  std::printf("CoCreateInstance: 0x%08lX\n", static_cast<unsigned long>(hr));
  Check(hr == REGDB_E_CLASSNOTREG, "the class is not registered for this side");
  unique_com<IVexorinAudio> a;
  const HRESULT audio = CoCreateInstance(CLSID_CVexorinAudio, nullptr, CLSCTX_INPROC_SERVER, IID_IVexorinAudio,
                                         reinterpret_cast<void**>(a.put()));
  std::printf("CoCreateInstance (audio): 0x%08lX\n", static_cast<unsigned long>(audio));
  Check(audio == REGDB_E_CLASSNOTREG, "the audio class is not registered for this side");
  Check(GetModuleHandleW(L"vexorin.dll") == nullptr, "no vexorin.dll in this process");
  return failures == 0 ? 0 : 1;
}

int Present(const wchar_t* expected) {
  unique_com<IVexorin> object;
  const HRESULT hr =
      CoCreateInstance(CLSID_CVexorin, nullptr, CLSCTX_INPROC_SERVER, IID_IVexorin, reinterpret_cast<void**>(object.put()));
  IVexorin* v = object.get();
  Check(SUCCEEDED(hr) && v != nullptr, "CoCreateInstance with CLSCTX_INPROC_SERVER");
  if (v == nullptr) {
    std::printf("CoCreateInstance: 0x%08lX\n", static_cast<unsigned long>(hr));
    return 1;
  }
  const HMODULE module = GetModuleHandleW(L"vexorin.dll");
  wchar_t loaded[MAX_PATH] = L"";
  if (module != nullptr) GetModuleFileNameW(module, loaded, MAX_PATH);
  std::printf("%d-bit client: vexorin.dll at %p from %ls\n", static_cast<int>(sizeof(void*) * 8),
              static_cast<void*>(module), loaded);
  Check(module != nullptr, "vexorin.dll is loaded in this process");
  Check(_wcsicmp(FullPath(loaded).c_str(), FullPath(expected).c_str()) == 0, "it is the expected file");
  const void* code = reinterpret_cast<const void*>((*reinterpret_cast<void***>(v))[0]);
  Check(module != nullptr && InsideImage(module, code), "the object's code lies inside that module");

  long number = 0;
  Check(v->GenerateRnd(6, &number) == S_OK && number >= 0 && number < 1000000, "GenerateRnd(6)");
  Check(v->put_Height(40) == S_OK && v->put_Noise(1) == S_OK, "Height and Noise put");
  long width = 0;
  Check(v->GetWidth(&width) == S_OK && width == 120, "GetWidth is 6 x 40 / 2");
  unique_variant image;
  LONG size = 0;
  Check(v->GetImage(image.put()) == S_OK && HoldsJpeg(image.get(), &size), "GetImage gives a JPEG");
  std::printf("GetImage: %ld bytes\n", static_cast<long>(size));

  // By name: dispatch reads the type library registered for this side.
  unique_variant result;
  Check(CallByName(v, L"GetImage", result.put()) == S_OK && HoldsJpeg(result.get(), &size), "GetImage by name");
  Check(CallByName(v, L"Number", result.put()) == S_OK && V_VT(&result.get()) == VT_BSTR &&
            SysStringLen(V_BSTR(&result.get())) == 6,
        "Number by name has six digits");

  // The spoken alternative, from the same module.
  unique_com<IVexorinAudio> a;
  Check(CoCreateInstance(CLSID_CVexorinAudio, nullptr, CLSCTX_INPROC_SERVER, IID_IVexorinAudio,
                         reinterpret_cast<void**>(a.put())) == S_OK && a,
        "the audio class with CLSCTX_INPROC_SERVER");
  if (a) {
    const void* audioCode = reinterpret_cast<const void*>((*reinterpret_cast<void***>(a.get()))[0]);
    Check(module != nullptr && InsideImage(module, audioCode), "the audio object's code lies inside that module");
    Check(a.get()->put_Number(unique_bstr(SysAllocString(L"4711")).get()) == S_OK, "audio Number put");
    Check(CallByName(a.get(), L"GetAudio", result.put()) == S_OK && HoldsWav(result.get()), "GetAudio by name gives a WAV");
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: inproc_client <expected DLL path> | --absent\n");
    return 2;
  }
  // A first line before the component is touched: a start that printed nothing never ran (wine.sh).
  std::printf("inproc_client %s\n", argv[1]);
  std::fflush(stdout);
  wchar_t expected[MAX_PATH] = L"";
  MultiByteToWideChar(CP_ACP, 0, argv[1], -1, expected, MAX_PATH);
  if (FAILED(CoInitialize(nullptr))) return 1;
  const int status = std::string(argv[1]) == "--absent" ? Absent() : Present(expected);
  CoUninitialize();
  return status;
}
