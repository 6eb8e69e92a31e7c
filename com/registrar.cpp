#include "com/registrar.h"

#include <cstdio>
#include <string>
#include <vector>

#include "com/dispatch.h"
#include "com/registry_script.h"
#include "platform/text.h"
#include "vexorin_h.h"

namespace com {

namespace {

using registry_script::Key;

// The application identifier the AppID script registers.
const GUID kAppId = {0x625E6AD9, 0x9949, 0x46FE, {0x83, 0x9D, 0xD6, 0x37, 0x7C, 0x2B, 0xB7, 0xC6}};
using unique_module = platform::unique_any<HMODULE, &FreeLibrary>;
using unique_hkey = platform::unique_any<HKEY, &RegCloseKey>;

HRESULT FromWin32(LONG error) { return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error); }

// UTF-16 from the scripts' UTF-8 text; false for text that is not UTF-8.
bool Wide(const std::string& text, std::wstring& wide) {
  wide.clear();
  if (!platform::IsWellFormedUtf8(text.data(), text.size())) return false;
  const std::u16string converted = platform::Utf16FromUtf8(text.data(), text.size());
  wide.assign(converted.begin(), converted.end());
  return true;
}

std::wstring WideOrEmpty(const std::string& text) {
  std::wstring wide;
  Wide(text, wide);
  return wide;
}

constexpr HRESULT kNotUnicode = HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);

// The module's full path as the system has it, through the wide call: an 8-bit path would name
// nothing once the directory holds a character outside the ANSI code page. 0x8007007A when it
// fills the buffer: the type library cannot be loaded from a longer path, so nothing is written.
HRESULT ModulePath(HINSTANCE module, std::wstring& path) {
  wchar_t buffer[MAX_PATH];
  const DWORD n = GetModuleFileNameW(module, buffer, MAX_PATH);
  if (n == 0) return HRESULT_FROM_WIN32(GetLastError());
  if (n >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  path.assign(buffer, n);
  return S_OK;
}

// The path as the scripts' UTF-8 text; an unpaired surrogate fails (it has no UTF-8 form).
HRESULT Utf8(const std::wstring& wide, std::string& text) {
  return platform::Utf8FromUtf16(wide.data(), wide.size(), text) ? S_OK : kNotUnicode;
}

std::string GuidText(REFGUID guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned long>(guid.Data1),
            guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
            guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

// The script as stored, read from the module file opened as data.
HRESULT LoadScript(const std::wstring& path, UINT id, std::string& script) {
  const unique_module data(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!data) return HRESULT_FROM_WIN32(GetLastError());
  HRESULT hr = HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
  if (HRSRC resource = FindResourceA(data.get(), MAKEINTRESOURCEA(id), "REGISTRY")) {
    const DWORD size = SizeofResource(data.get(), resource);
    HGLOBAL loaded = LoadResource(data.get(), resource);
    const char* bytes = loaded != nullptr ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (bytes != nullptr) {
      script.assign(bytes, size);
      hr = S_OK;
    }
  }
  return hr;
}

HKEY RootKey(const std::string& name) {
  const std::string& n = name;
  if (n == "HKCR" || n == "HKEY_CLASSES_ROOT") return HKEY_CLASSES_ROOT;
  if (n == "HKCU" || n == "HKEY_CURRENT_USER") return HKEY_CURRENT_USER;
  if (n == "HKLM" || n == "HKEY_LOCAL_MACHINE") return HKEY_LOCAL_MACHINE;
  return nullptr;
}

// Names and data are the scripts' UTF-8, written through the wide calls (the module's path among
// the data may hold any character).
LONG SetString(HKEY key, const std::string& name, const std::string& data) {
  std::wstring wideName, wideData;
  if (!Wide(name, wideName) || !Wide(data, wideData)) return ERROR_NO_UNICODE_TRANSLATION;
  return RegSetValueExW(key, name.empty() ? nullptr : wideName.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(wideData.c_str()),
                        static_cast<DWORD>((wideData.size() + 1) * sizeof(wchar_t)));
}

HRESULT RegisterKey(HKEY parent, const Key& key) {
  std::wstring name;
  if (!Wide(key.name, name)) return kNotUnicode;
  if (key.forceRemove) RegDeleteTreeW(parent, name.c_str());  // absent is fine
  unique_hkey handle;
  LONG error = RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, handle.put(), nullptr);
  if (error != ERROR_SUCCESS) return FromWin32(error);
  HRESULT hr = S_OK;
  if (key.hasDefault) hr = FromWin32(SetString(handle.get(), std::string(), key.defaultValue));
  for (std::size_t i = 0; SUCCEEDED(hr) && i < key.values.size(); ++i) {
    hr = FromWin32(SetString(handle.get(), key.values[i].name, key.values[i].data));
  }
  for (std::size_t i = 0; SUCCEEDED(hr) && i < key.children.size(); ++i) hr = RegisterKey(handle.get(), key.children[i]);
  return hr;
}

// Children before parents; what is already absent is no failure.
HRESULT UnregisterKey(HKEY parent, const Key& key) {
  std::wstring name;
  if (!Wide(key.name, name)) return kNotUnicode;
  HRESULT hr = S_OK;
  {
    unique_hkey handle;
    LONG error = RegOpenKeyExW(parent, name.c_str(), 0, KEY_ALL_ACCESS, handle.put());
    if (error == ERROR_FILE_NOT_FOUND) return S_OK;
    if (error != ERROR_SUCCESS) return FromWin32(error);
    for (std::size_t i = 0; SUCCEEDED(hr) && i < key.children.size(); ++i) hr = UnregisterKey(handle.get(), key.children[i]);
    for (std::size_t i = 0; SUCCEEDED(hr) && i < key.values.size(); ++i) {
      error = RegDeleteValueW(handle.get(), WideOrEmpty(key.values[i].name).c_str());
      if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) hr = FromWin32(error);
    }
  }
  if (FAILED(hr) || key.noRemove) return hr;
  const LONG error = RegDeleteKeyW(parent, name.c_str());
  return error == ERROR_FILE_NOT_FOUND ? S_OK : FromWin32(error);
}

// Whether the DLL of the other bitness has the class registered in the other registry view.
bool ClassInOtherView(REFCLSID classId) {
  const bool is64 = sizeof(void*) == 8;
  BOOL wow64 = FALSE;
  if (!is64 && (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64)) return false;  // one view only
  const std::string key = "CLSID\\" + GuidText(classId) + "\\InprocServer32";
  unique_hkey handle;
  const REGSAM other = is64 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  return RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ | other, handle.put()) == ERROR_SUCCESS;
}

}  // namespace

HRESULT RunRegistryScript(HINSTANCE module, UINT id, bool doRegister, REFCLSID classId) {
  std::wstring path;
  HRESULT hr = ModulePath(module, path);
  if (FAILED(hr)) return hr;
  std::string utf8Path;
  hr = Utf8(path, utf8Path);
  if (FAILED(hr)) return hr;
  std::string script;
  hr = LoadScript(path, id, script);
  if (FAILED(hr)) return hr;
  const std::string quotedPath = registry_script::DoubleApostrophes(utf8Path);
  script = registry_script::Substitute(
      script, {{"APPID", GuidText(kAppId)}, {"MODULE", quotedPath}});
  std::vector<registry_script::RootBlock> blocks;
  std::string error;
  if (!registry_script::Parse(script, blocks, error)) {
    const std::string message = "registry script " + std::to_string(id) + " is malformed: " + error;
    return ReportError(classId, message.c_str(), 0, nullptr, IID_NULL, DISP_E_EXCEPTION);
  }
  // 64-bit Windows keeps one ProgID and AppID key for both views (only CLSID is per view): while the
  // other bitness's DLL is registered, unregistration leaves those to it and removes its class key.
  const bool otherRegistered = !doRegister && ClassInOtherView(classId);
  for (const auto& block : blocks) {
    const HKEY root = RootKey(block.root);
    if (root == nullptr) return E_INVALIDARG;
    for (const Key& key : block.keys) {
      if (otherRegistered && _stricmp(key.name.c_str(), "CLSID") != 0) continue;
      hr = doRegister ? RegisterKey(root, key) : UnregisterKey(root, key);
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

HRESULT RegisterModule(HINSTANCE module, const RegistryScript* scripts, std::size_t count) {
  std::size_t begun = 0;
  HRESULT hr = S_OK;
  while (SUCCEEDED(hr) && begun < count) {
    hr = RunRegistryScript(module, scripts[begun].id, true, *scripts[begun].classId);
    ++begun;
  }
  if (SUCCEEDED(hr)) {
    hr = RegisterModuleTypeLib(module);
    if (FAILED(hr)) UnregisterModuleTypeLib(module);  // whatever of this DLL's subkey was written
  }
  // Undone as unregistration undoes, so the keys a registered other side shares stay; a failure
  // here changes nothing of the answer.
  while (FAILED(hr) && begun > 0) {
    --begun;
    RunRegistryScript(module, scripts[begun].id, false, *scripts[begun].classId);
  }
  return hr;
}

namespace {

HRESULT LoadModuleTypeLib(HINSTANCE module, std::wstring& loadedFrom, platform::unique_com<ITypeLib>& library) {
  std::wstring path;
  HRESULT hr = ModulePath(module, path);
  if (FAILED(hr)) return hr;
  loadedFrom = path;
  hr = LoadTypeLib(loadedFrom.c_str(), library.put());
  if (SUCCEEDED(hr)) return hr;
  const std::size_t dot = path.find_last_of(L'.');
  const std::size_t separator = path.find_last_of(L"\\/:");
  if (dot != std::wstring::npos && (separator == std::wstring::npos || dot > separator)) path.resize(dot);
  path += L".tlb";
  loadedFrom = path;
  return LoadTypeLib(loadedFrom.c_str(), library.put());
}

}  // namespace

HRESULT RegisterModuleTypeLib(HINSTANCE module) {
  std::wstring path;
  platform::unique_com<ITypeLib> library;
  const HRESULT hr = LoadModuleTypeLib(module, path, library);
  if (FAILED(hr)) return hr;
  std::wstring helpDirectory = path;
  const std::size_t cut = helpDirectory.find_last_of(L"\\/:");
  helpDirectory.resize(cut == std::wstring::npos ? 0 : cut + 1);
  return RegisterTypeLib(library.get(), &path[0], helpDirectory.empty() ? nullptr : &helpDirectory[0]);
}

namespace {

const char* SystemKindName(SYSKIND kind) {
  switch (kind) {
    case SYS_WIN16: return "win16";
    case SYS_WIN32: return "win32";
    case SYS_WIN64: return "win64";
    default: return "mac";
  }
}

// Whether the library's version key holds a registration other than this locale and system kind:
// the 32- and 64-bit DLLs share the key, each owning its own win32 or win64 subkey.
bool OthersRegistered(const std::string& versionKey, const std::string& ownLocale, const char* ownKind) {
  unique_hkey version;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, versionKey.c_str(), 0, KEY_READ, version.put()) != ERROR_SUCCESS) return false;
  bool others = false;
  char locale[256];
  for (DWORD i = 0; !others; ++i) {
    DWORD length = sizeof locale;
    if (RegEnumKeyExA(version.get(), i, locale, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    if (_stricmp(locale, "FLAGS") == 0 || _stricmp(locale, "HELPDIR") == 0) continue;
    unique_hkey kinds;
    if (RegOpenKeyExA(version.get(), locale, 0, KEY_READ, kinds.put()) != ERROR_SUCCESS) continue;
    char kind[256];
    for (DWORD j = 0; !others; ++j) {
      length = sizeof kind;
      if (RegEnumKeyExA(kinds.get(), j, kind, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      others = _stricmp(locale, ownLocale.c_str()) != 0 || _stricmp(kind, ownKind) != 0;
    }
  }
  return others;
}

}  // namespace

HRESULT UnregisterModuleTypeLib(HINSTANCE module) {
  std::wstring path;
  platform::unique_com<ITypeLib> library;
  HRESULT hr = LoadModuleTypeLib(module, path, library);
  if (FAILED(hr)) return hr;
  TLIBATTR* attributes = nullptr;
  hr = library.get()->GetLibAttr(&attributes);
  if (SUCCEEDED(hr)) {
    char versionKey[96];
    std::snprintf(versionKey, sizeof versionKey, "TypeLib\\%s\\%x.%x", GuidText(attributes->guid).c_str(),
                  attributes->wMajorVerNum, attributes->wMinorVerNum);
    char locale[16];
    std::snprintf(locale, sizeof locale, "%lx", static_cast<unsigned long>(attributes->lcid));
    const char* kind = SystemKindName(attributes->syskind);
    const std::string ownKey = std::string(versionKey) + "\\" + locale + "\\" + kind;
    unique_hkey own;
    const bool registered = RegOpenKeyExA(HKEY_CLASSES_ROOT, ownKey.c_str(), 0, KEY_READ, own.put()) == ERROR_SUCCESS;
    if (!registered) {
      hr = S_OK;  // already unregistered is no failure, as for the scripts' absent keys
    } else if (OthersRegistered(versionKey, locale, kind)) {
      // Not UnRegisterTypeLib: what it removes besides the caller's subkey differs between system
      // versions. Only this DLL's subkey goes (and the locale key once empty); this view's
      // interface keys stay, naming a library that is still registered.
      hr = FromWin32(RegDeleteKeyA(HKEY_CLASSES_ROOT, ownKey.c_str()));
      RegDeleteKeyA(HKEY_CLASSES_ROOT, (std::string(versionKey) + "\\" + locale).c_str());  // fails while not empty
    } else {
      hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                             attributes->lcid, attributes->syskind);
    }
    library.get()->ReleaseTLibAttr(attributes);
  }
  return hr;
}

}  // namespace com
