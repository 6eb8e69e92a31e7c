// Registration made to fail at each step: every registry write the scripts make, the type library
// (before and after it wrote), and each script made malformed. The DLL's imports are redirected in
// this process to wrappers that fail the chosen call; after each failure the component's keys, in
// both registry views, must be exactly what they were before, whatever the other bitness's DLL has
// registered beside this one, and only a malformed script leaves error information (its message).
//   registration_faults <vexorin.dll>
// Unregisters the DLL first and ends with it registered; exit status 0 only when every check held.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/owner.h"
#include "platform/platform.h"
#include "vexorin_h.h"

namespace {

int failures = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  std::fflush(stdout);
  if (!ok) ++failures;
}

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

// --- The registry as the component's keys hold it ------------------------------------------------

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

void CollectKeys(HKEY parent, const std::wstring& path, REGSAM view, std::set<std::wstring>& lines) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return;
  lines.insert(path);
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    BYTE data[2048];
    DWORD nameLength = 256, dataSize = sizeof data, type = 0;
    if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
    std::wstring text(reinterpret_cast<const wchar_t*>(data), dataSize / sizeof(wchar_t));
    lines.insert(path + L" [" + name + L"] " + std::to_wstring(type) + L" " + text);
  }
  std::vector<std::wstring> children;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    children.emplace_back(name, length);
  }
  RegCloseKey(key);
  for (const auto& child : children) CollectKeys(parent, path + L"\\" + child, view, lines);
}

// Every key and value of the component under HKCR, in the 64-bit and the 32-bit view.
std::set<std::wstring> Snapshot() {
  const std::wstring roots[] = {
      L"Veltrano.Vexorin", L"Veltrano.Vexorin.2", L"Veltrano.VexorinAudio", L"Veltrano.VexorinAudio.1",
      L"AppID\\{625E6AD9-9949-46FE-839D-D6377C2BB7C6}", L"AppID\\vexorin.DLL",
      L"CLSID\\" + GuidText(CLSID_CVexorin), L"CLSID\\" + GuidText(CLSID_CVexorinAudio),
      L"TypeLib\\" + GuidText(LIBID_corvathLib),
      L"Interface\\" + GuidText(IID_IVexorin), L"Interface\\" + GuidText(IID_IVexorinAudio)};
  std::set<std::wstring> lines;
  const std::pair<const wchar_t*, REGSAM> views[] = {{L"64: ", KEY_WOW64_64KEY}, {L"32: ", KEY_WOW64_32KEY}};
  for (const auto& view : views) {
    std::set<std::wstring> seen;
    for (const auto& root : roots) CollectKeys(HKEY_CLASSES_ROOT, root, view.second, seen);
    for (const auto& line : seen) lines.insert(view.first + line);
  }
  return lines;
}

// Equal, or the first differences shown.
bool SameOrShowDifferences(const std::set<std::wstring>& before, const std::set<std::wstring>& after) {
  if (before == after) return true;
  int shown = 0;
  for (const auto& line : before) {
    if (!after.count(line) && shown++ < 6) std::printf("       gone:  %ls\n", line.c_str());
  }
  for (const auto& line : after) {
    if (!before.count(line) && shown++ < 12) std::printf("       added: %ls\n", line.c_str());
  }
  return false;
}

// --- The DLL's imports, redirected ------------------------------------------------------------------

// Points the module's import of `dll!function` at `replacement`; the original comes back in `original`.
bool Redirect(HMODULE module, const char* dll, const char* function, void* replacement, void** original) {
  auto* base = reinterpret_cast<unsigned char*>(module);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress); import->Name != 0;
       ++import) {
    if (_stricmp(reinterpret_cast<const char*>(base + import->Name), dll) != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
      DWORD was = 0;
      if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &was)) return false;
      *original = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<decltype(slots->u1.Function)>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, was, &was);
      return true;
    }
  }
  return false;
}

decltype(&RegCreateKeyExW) realCreateKey = nullptr;
decltype(&RegSetValueExW) realSetValue = nullptr;
decltype(&RegisterTypeLib) realRegisterTypeLib = nullptr;
decltype(&SizeofResource) realSizeofResource = nullptr;

int writes = 0;       // registry writes seen since the last reset
int failWrite = 0;    // the write (1-based) that fails; 0: none
std::string failedWrite;
enum class TypeLibFault { None, Before, After } typeLibFault = TypeLibFault::None;
int scriptLoads = 0;  // scripts read since the last reset
int cutScript = 0;    // the script (1-based) read only in half; 0: none
constexpr HRESULT kTypeLibFailure = static_cast<HRESULT>(0x8002801Cu);  // TYPE_E_REGISTRYACCESS

bool FailThisWrite(const char* call, const wchar_t* name) {
  if (++writes != failWrite) return false;
  std::string narrow;
  for (const wchar_t* c = name; c != nullptr && *c != L'\0'; ++c) narrow += *c < 0x80 ? static_cast<char>(*c) : '?';
  failedWrite = std::string(call) + " " + (name != nullptr ? narrow : "(default)");
  return true;
}

LONG WINAPI CreateKey(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM access,
                      LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) {
  if (FailThisWrite("RegCreateKeyExW", subKey)) return ERROR_ACCESS_DENIED;
  return realCreateKey(key, subKey, reserved, keyClass, options, access, security, result, disposition);
}

LONG WINAPI SetValue(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
  if (FailThisWrite("RegSetValueExW", name)) return ERROR_ACCESS_DENIED;
  return realSetValue(key, name, reserved, type, data, size);
}

HRESULT WINAPI RegisterLibrary(ITypeLib* library, OLECHAR* path, OLECHAR* helpDirectory) {
  if (typeLibFault == TypeLibFault::Before) return kTypeLibFailure;
  const HRESULT hr = realRegisterTypeLib(library, path, helpDirectory);
  return typeLibFault == TypeLibFault::After && SUCCEEDED(hr) ? kTypeLibFailure : hr;
}

DWORD WINAPI ResourceSize(HMODULE module, HRSRC resource) {
  const DWORD size = realSizeofResource(module, resource);
  return ++scriptLoads == cutScript ? size / 2 : size;
}

// --- The cases ------------------------------------------------------------------------------------------

using Entry = HRESULT(STDAPICALLTYPE*)();
Entry registerServer = nullptr;
Entry unregisterServer = nullptr;

// Registers under the faults set; returns the answer and what error information it left.
HRESULT Register(std::wstring& description) {
  writes = 0;
  scriptLoads = 0;
  failedWrite.clear();
  description.clear();
  SetErrorInfo(0, nullptr);
  const HRESULT hr = registerServer();
  platform::unique_com<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) == S_OK && info) {
    platform::unique_bstr text;
    if (SUCCEEDED(info.get()->GetDescription(text.put())) && text) description = text.get();
    if (description.empty()) description = L"(error information without a description)";
  }
  return hr;
}

void Faults() {
  std::wstring description;
  HRESULT hr = Register(description);
  const int total = writes;
  Check(hr == S_OK && total >= 20, "registration with nothing failing succeeds: " + Hex(hr) + ", " +
                                       std::to_string(total) + " registry writes, " +
                                       std::to_string(scriptLoads) + " scripts");
  const int scripts = scriptLoads;
  Check(unregisterServer() == S_OK, "and is unregistered again");
  // Taken after a whole cycle: the type library's HELPDIR, one value for both bitnesses, keeps the
  // directory of the DLL registered last, even after its unregistration.
  const std::set<std::wstring> before = Snapshot();

  for (failWrite = 1; failWrite <= total; ++failWrite) {
    hr = Register(description);
    Check(hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED) && description.empty() &&
              SameOrShowDifferences(before, Snapshot()),
          "write " + std::to_string(failWrite) + " of " + std::to_string(total) + " (" + failedWrite + ") fails: " +
              Hex(hr) + ", no error information, every key as it was");
  }
  failWrite = 0;

  const std::pair<TypeLibFault, const char*> libraryFaults[] = {{TypeLibFault::Before, "before it writes"},
                                                                {TypeLibFault::After, "after it wrote"}};
  for (const auto& fault : libraryFaults) {
    typeLibFault = fault.first;
    hr = Register(description);
    Check(hr == kTypeLibFailure && description.empty() && SameOrShowDifferences(before, Snapshot()),
          std::string("the type library's registration fails ") + fault.second + ": " + Hex(hr) +
              ", every key as it was");
  }
  typeLibFault = TypeLibFault::None;

  for (cutScript = 1; cutScript <= scripts; ++cutScript) {
    hr = Register(description);
    std::printf("       error information: %ls\n", description.c_str());
    Check(hr == DISP_E_EXCEPTION && description.find(L"is malformed: ") != std::wstring::npos &&
              SameOrShowDifferences(before, Snapshot()),
          "script " + std::to_string(cutScript) + " of " + std::to_string(scripts) + " malformed: " + Hex(hr) +
              ", the parser's message as error information, every key as it was");
  }
  cutScript = 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: registration_faults <vexorin.dll>\n");
    return 2;
  }
  // A first line before the component is touched: a start that printed nothing never ran (wine.sh).
  std::printf("registration_faults %s\n", argv[1]);
  std::fflush(stdout);
  if (FAILED(CoInitialize(nullptr))) return 1;
  HMODULE dll = LoadLibraryA(argv[1]);
  if (dll == nullptr) {
    std::printf("FAIL cannot load %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  registerServer = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(dll, "DllRegisterServer")));
  unregisterServer = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(dll, "DllUnregisterServer")));
  Check(registerServer != nullptr && unregisterServer != nullptr, "the DLL exports its registration");
  Check(Redirect(dll, "ADVAPI32.dll", "RegCreateKeyExW", reinterpret_cast<void*>(&CreateKey),
                 reinterpret_cast<void**>(&realCreateKey)) &&
            Redirect(dll, "ADVAPI32.dll", "RegSetValueExW", reinterpret_cast<void*>(&SetValue),
                     reinterpret_cast<void**>(&realSetValue)) &&
            Redirect(dll, "OLEAUT32.dll", "RegisterTypeLib", reinterpret_cast<void*>(&RegisterLibrary),
                     reinterpret_cast<void**>(&realRegisterTypeLib)) &&
            Redirect(dll, "KERNEL32.dll", "SizeofResource", reinterpret_cast<void*>(&ResourceSize),
                     reinterpret_cast<void**>(&realSizeofResource)),
        "the DLL's registry, type-library and resource imports redirected");
  if (failures == 0) {
    Check(unregisterServer() == S_OK, "the DLL unregistered to begin with");
    Faults();
    std::wstring description;
    Check(Register(description) == S_OK, "registered again");
  }
  CoUninitialize();
  if (failures != 0) std::printf("%d check(s) failed\n", failures);
  return failures == 0 ? 0 : 1;
}
