// The DLL as a host uses it, class by class: each member's behaviour through the vtable and by
// name, the page hooks, the files SaveToFile writes, the module's resources, registration from a
// long path, and life without the type library. What every class keeps alike (creation, class
// object, aggregation, interface table, names, dispatch rules, error information) is
// com_contract_test's. Needs the DLL registered (registration_test).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <jpeglib.h>

#include "com_support.h"
#include "platform/platform.h"
#include "tests/shared/reference_jpeg.h"
#include "vexorin_h.h"

namespace page_doubles {

const IID kScriptingContextIid = {0xD97A6DA0, 0xA868, 0x11CF, {0x83, 0xAE, 0x00, 0xB0, 0xC9, 0x0C, 0x2B, 0xD8}};

// The host's page context, reference-counted, so each reference taken and given back shows.
// Not in an anonymous namespace: the DLL calls get_Request through the vtable, and GCC drops
// virtual members of file-local classes that nothing in the file calls.
struct FakeContext : IDispatch {
  LONG refs = 1;
  testing_support::CountedUnknown* request = nullptr;
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

using namespace testing_support;
using page_doubles::FakeContext;
using FakeRequest = testing_support::CountedUnknown;

class ComTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }

  static unique_com<IVexorin> CreatePicture() { return Create<IVexorin>(CLSID_CVexorin, IID_IVexorin); }
  static unique_com<IVexorinAudio> CreateAudio() { return Create<IVexorinAudio>(CLSID_CVexorinAudio, IID_IVexorinAudio); }
  static void SetNumber(IVexorinAudio* a, const wchar_t* digits) { EXPECT_EQ(a->put_Number(Bstr(digits).get()), S_OK); }
};

TEST_F(ComTest, PictureDefaults) {
  unique_com<IVexorin> v = CreatePicture();
  ASSERT_TRUE(v);
  LONG height = 0, noise = -1, width = 0;
  unique_bstr number;
  EXPECT_EQ(v.get()->get_Height(&height), S_OK);
  EXPECT_EQ(v.get()->get_Noise(&noise), S_OK);
  EXPECT_EQ(v.get()->GetWidth(&width), S_OK);
  EXPECT_EQ(v.get()->get_Number(number.put()), S_OK);
  EXPECT_EQ(height, 30);
  EXPECT_EQ(noise, 0);
  EXPECT_EQ(width, 120);
  EXPECT_EQ(SysStringLen(number.get()), 8u);
}

TEST_F(ComTest, EveryPictureMemberByName) {
  unique_com<IVexorin> v = CreatePicture();
  ASSERT_TRUE(v);
  IDispatch* d = v.get();
  unique_variant result;
  ASSERT_EQ(Call(d, L"GenerateRnd", DISPATCH_METHOD, {Long(4)}, result.put()), S_OK);
  EXPECT_EQ(result.get().vt, VT_I4);
  EXPECT_LT(result.get().lVal, 10000);
  EXPECT_EQ(Call(d, L"Height", DISPATCH_PROPERTYPUT, {Long(10)}, nullptr), S_OK);
  ASSERT_EQ(Call(d, L"Height", DISPATCH_PROPERTYGET, {}, result.put()), S_OK);
  EXPECT_EQ(result.get().lVal, 20);
  EXPECT_EQ(Call(d, L"Noise", DISPATCH_PROPERTYPUT, {Long(1)}, nullptr), S_OK);
  ASSERT_EQ(Call(d, L"Noise", DISPATCH_PROPERTYGET, {}, result.put()), S_OK);
  EXPECT_EQ(result.get().lVal, 1);
  EXPECT_EQ(Call(d, L"Number", DISPATCH_PROPERTYPUT, {Text(L"007")}, nullptr), S_OK);
  ASSERT_EQ(Call(d, L"Number", DISPATCH_PROPERTYGET, {}, result.put()), S_OK);
  ASSERT_EQ(result.get().vt, VT_BSTR);
  EXPECT_STREQ(result.get().bstrVal, L"007");
  ASSERT_EQ(Call(d, L"GetWidth", DISPATCH_METHOD, {}, result.put()), S_OK);
  EXPECT_EQ(result.get().lVal, 30);
  ASSERT_EQ(Call(d, L"GetImage", DISPATCH_METHOD, {}, result.put()), S_OK);
  EXPECT_EQ(result.get().vt, VT_ARRAY | VT_UI1);
  EXPECT_EQ(Call(d, L"OnEndPage", DISPATCH_METHOD, {}, nullptr), S_OK);
}

TEST_F(ComTest, GetImageBytesDecodeToThePicture) {
  unique_com<IVexorin> v = CreatePicture();
  ASSERT_TRUE(v);
  ASSERT_EQ(v.get()->put_Number(Bstr(L"90817263").get()), S_OK);
  ASSERT_EQ(v.get()->put_Height(44), S_OK);
  unique_variant image;
  ASSERT_EQ(v.get()->GetImage(image.put()), S_OK);
  ASSERT_EQ(image.get().vt, VT_ARRAY | VT_UI1);
  LONG lower = -1;
  SafeArrayGetLBound(image.get().parray, 1, &lower);
  EXPECT_EQ(lower, 0);
  reference_jpeg::Decoded picture;
  {
    platform::safearray_access<unsigned char> bytes(image.get().parray);
    ASSERT_EQ(bytes.result(), S_OK);
    ASSERT_TRUE(reference_jpeg::Decode(bytes.data(), bytes.size(), picture));
  }
  EXPECT_EQ(picture.width, 176);
  EXPECT_EQ(picture.height, 44);
  int inked = 0;
  for (std::size_t i = 0; i < picture.ycc.size(); i += 3) inked += picture.ycc[i] < 128 ? 1 : 0;
  EXPECT_GT(inked, 100);  // eight digits of ink on white paper
}

void ExpectErrorInfo(const wchar_t* description) {
  unique_com<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
  ASSERT_TRUE(info);
  GUID guid;
  unique_bstr source, text;
  info.get()->GetGUID(&guid);
  info.get()->GetSource(source.put());
  info.get()->GetDescription(text.put());
  EXPECT_TRUE(IsEqualGUID(guid, GUID_NULL));
  EXPECT_STREQ(source.get(), L"Veltrano.Vexorin.2");
  EXPECT_STREQ(text.get(), description);
}

TEST_F(ComTest, PageHooksHoldTheRequestForThePage) {
  FakeRequest request;
  FakeContext context;
  context.request = &request;
  unique_com<IVexorin> v = CreatePicture();
  ASSERT_TRUE(v);
  EXPECT_EQ(v.get()->OnEndPage(), S_OK);  // without a start: nothing to give back
  ASSERT_EQ(v.get()->OnStartPage(&context), S_OK);
  EXPECT_EQ(request.refs, 2);
  EXPECT_EQ(context.refs, 1);  // the context is not kept
  ASSERT_EQ(v.get()->OnStartPage(&context), S_OK);  // a second start gives the first Request back
  EXPECT_EQ(request.refs, 2);
  EXPECT_EQ(v.get()->OnEndPage(), S_OK);
  EXPECT_EQ(request.refs, 1);
  EXPECT_EQ(v.get()->OnEndPage(), S_OK);
  EXPECT_EQ(request.refs, 1);

  ASSERT_EQ(v.get()->OnStartPage(&context), S_OK);
  EXPECT_EQ(v.release()->Release(), 0u);  // the final release gives the Request back
  EXPECT_EQ(request.refs, 1);
}

TEST_F(ComTest, PageHookFailuresAreDescribed) {
  unique_com<IVexorin> v = CreatePicture();
  ASSERT_TRUE(v);
  EXPECT_EQ(v.get()->OnStartPage(nullptr), E_POINTER);

  FakeRequest notAContext;
  EXPECT_EQ(v.get()->OnStartPage(&notAContext), E_NOINTERFACE);
  ExpectErrorInfo(L"Can't obtain ScriptingContext");

  FakeRequest request;
  FakeContext context;
  context.request = &request;
  context.requestResult = E_ACCESSDENIED;
  EXPECT_EQ(v.get()->OnStartPage(&context), E_ACCESSDENIED);
  ExpectErrorInfo(L"Can't obtain Request object");
  EXPECT_EQ(context.refs, 1);
  EXPECT_EQ(request.refs, 1);
  LONG height = 0;
  EXPECT_EQ(v.get()->get_Height(&height), S_OK);  // still usable
}

// By name: our own page-hook failure left on the thread must not reach the script as the message
// of the next failing call.
TEST_F(ComTest, APageHookFailureIsNotTheNextCallsMessage) {
  unique_com<IVexorin> v = CreatePicture();
  ASSERT_TRUE(v);
  FakeRequest notAContext;
  EXPECT_EQ(v.get()->OnStartPage(&notAContext), E_NOINTERFACE);
  Exception exception;
  VARIANT zero = Long(0);
  DISPPARAMS one = {&zero, nullptr, 1, 0};
  unique_variant result;
  EXPECT_EQ(v.get()->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &one, result.put(), &exception.info, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(exception.info.scode, E_INVALIDARG);
  const std::wstring description = exception.info.bstrDescription != nullptr ? exception.info.bstrDescription : L"";
  EXPECT_EQ(description.find(L"ScriptingContext"), std::wstring::npos);
}

// A member's out-VARIANT (GetImage, GetAudio) is written, never read or cleared: uninitialised
// (0xCC with a string type: clearing it would free a wild pointer), or holding the caller's object
// (it stays the caller's, not released); and its out-BSTR (Number) is only written too.
void ExpectOutParametersOnlyWritten(const std::function<HRESULT(VARIANT*)>& bytes,
                                    const std::function<HRESULT(BSTR*)>& number, const wchar_t* expectedNumber,
                                    UINT expectedLength) {
  VARIANT garbage;
  std::memset(&garbage, 0xCC, sizeof garbage);
  garbage.vt = VT_BSTR;
  ASSERT_EQ(bytes(&garbage), S_OK);
  EXPECT_EQ(garbage.vt, VT_ARRAY | VT_UI1);
  VariantClear(&garbage);
  FakeRequest callers;
  VARIANT holding;
  holding.vt = VT_UNKNOWN;
  holding.punkVal = &callers;
  ASSERT_EQ(bytes(&holding), S_OK);
  EXPECT_EQ(callers.refs, 1);
  VariantClear(&holding);

  BSTR text = reinterpret_cast<BSTR>(static_cast<std::uintptr_t>(0xCCCCCCCCu));
  ASSERT_EQ(number(&text), S_OK);
  unique_bstr owned(text);
  EXPECT_EQ(SysStringLen(owned.get()), expectedLength);
  if (expectedNumber != nullptr) {
    EXPECT_STREQ(owned.get(), expectedNumber);
  }
}

TEST_F(ComTest, PictureOutParametersAreWrittenNeverRead) {
  unique_com<IVexorin> v = CreatePicture();
  ASSERT_TRUE(v);
  ExpectOutParametersOnlyWritten([&](VARIANT* out) { return v.get()->GetImage(out); },
                                 [&](BSTR* out) { return v.get()->get_Number(out); }, nullptr, 8);
}

TEST_F(ComTest, TheHostsRandomSequenceIsItsOwn) {
  std::srand(1);
  EXPECT_EQ(std::rand(), 41);
  unique_com<IVexorin> v = CreatePicture();
  ASSERT_TRUE(v);
  LONG n = 0;
  EXPECT_EQ(v.get()->GenerateRnd(5, &n), S_OK);
  unique_variant image;
  EXPECT_EQ(v.get()->GetImage(image.put()), S_OK);  // the jitter draws too
  EXPECT_EQ(std::rand(), 18467);
  EXPECT_EQ(std::rand(), 6334);
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

// Names both classes write as given: "{ext}" stands for the class's own extension.
const std::vector<FileNameCase> kSaveNames = {
    // Full-width dots and backslash: best-fit narrowing made them "..\" and escaped the directory.
    {L"full-width ..\\", L"{dir}\\\xFF0E\xFF0E\xFF3C" L"esc{ext}", S_OK, L"\xFF0E\xFF0E\xFF3C" L"esc{ext}"},
    {L"full-width letters", L"{dir}\\\xFF52\xFF45\xFF50{ext}", S_OK, L"\xFF52\xFF45\xFF50{ext}"},
    {L"U+0100", L"{dir}\\\x0100{ext}", S_OK, L"\x0100{ext}"},
    {L"CJK", L"{dir}\\\x56FE\x7247{ext}", S_OK, L"\x56FE\x7247{ext}"},
    {L"CJK, another", L"{dir}\\\x58F0\x97F3{ext}", S_OK, L"\x58F0\x97F3{ext}"},
    {L"Cyrillic", L"{dir}\\\x0444\x043E\x0442\x043E{ext}", S_OK, L"\x0444\x043E\x0442\x043E{ext}"},
    {L"emoji", L"{dir}\\\xD83D\xDE00{ext}", S_OK, L"\xD83D\xDE00{ext}"},
    {L"dots inside", L"{dir}\\.\\a..b{ext}", S_OK, L"a..b{ext}"},
    {L"NUL inside", std::wstring(L"{dir}\\evil.asp\0{ext}", 20), E_INVALIDARG, nullptr},
};

std::wstring Replaced(std::wstring text, const std::wstring& field, const std::wstring& value) {
  for (std::size_t at = text.find(field); at != std::wstring::npos; at = text.find(field, at + value.size())) {
    text.replace(at, field.size(), value);
  }
  return text;
}

// SaveToFile writes exactly the file named, or nothing, and nothing outside its directory: after
// each case the listing of the directory (and of the one around it) is what it was before, plus the
// one file created. Both directories are made here and removed at the end.
// `extension` is the class's: kSaveNames are written with it.
void ExpectTheFileNamed(const std::wstring& prefix, const std::wstring& extension,
                        const std::function<HRESULT(BSTR)>& save) {
  std::vector<FileNameCase> cases = kSaveNames;
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
    const std::wstring full = Replaced(Replaced(c.name, L"{ext}", extension), L"{dir}", inner);
    const std::wstring created = c.created != nullptr ? Replaced(c.created, L"{ext}", extension) : L"";
    EXPECT_EQ(save(Bstr(full).get()), c.expected);
    std::vector<Entry> after = Listing(inner);
    if (c.created != nullptr) {
      std::vector<std::wstring> expected = Names(before);
      expected.push_back(created);
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(Names(after), expected);
      DeleteFileW((inner + L"\\" + created).c_str());
      after = Listing(inner);
    }
    EXPECT_TRUE(after == before) << "the directory changed";
    EXPECT_EQ(Names(Listing(outer)), around) << "a file escaped the directory";
  }
  DeleteFileW(bait.c_str());
  RemoveDirectoryW(inner.c_str());
  RemoveDirectoryW(outer.c_str());
}

std::vector<unsigned char> ArrayBytes(const VARIANT& v) {
  if (v.vt != (VT_ARRAY | VT_UI1)) return {};
  platform::safearray_access<unsigned char> bytes(v.parray);
  if (FAILED(bytes.result())) return {};
  return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

TEST_F(ComTest, AudioDefaults) {
  unique_com<IVexorinAudio> a = CreateAudio();
  ASSERT_TRUE(a);
  unique_bstr number;
  LONG noise = -1;
  EXPECT_EQ(a.get()->get_Number(number.put()), S_OK);
  EXPECT_EQ(SysStringLen(number.get()), 0u);
  EXPECT_EQ(a.get()->get_Noise(&noise), S_OK);
  EXPECT_EQ(noise, 2);
}

TEST_F(ComTest, EveryAudioMemberByNameAndTheWavItGives) {
  unique_com<IVexorinAudio> a = CreateAudio();
  ASSERT_TRUE(a);
  IDispatch* d = a.get();
  unique_variant result;
  EXPECT_EQ(Call(d, L"Number", DISPATCH_PROPERTYPUT, {Text(L"072")}, nullptr), S_OK);
  ASSERT_EQ(Call(d, L"Number", DISPATCH_PROPERTYGET, {}, result.put()), S_OK);
  ASSERT_EQ(result.get().vt, VT_BSTR);
  EXPECT_STREQ(result.get().bstrVal, L"072");
  EXPECT_EQ(Call(d, L"Noise", DISPATCH_PROPERTYPUT, {Long(1)}, nullptr), S_OK);
  ASSERT_EQ(Call(d, L"Noise", DISPATCH_PROPERTYGET, {}, result.put()), S_OK);
  EXPECT_EQ(result.get().lVal, 1);
  ASSERT_EQ(Call(d, L"GetAudio", DISPATCH_METHOD, {}, result.put()), S_OK);
  const std::vector<unsigned char> wav = ArrayBytes(result.get());
  ASSERT_GT(wav.size(), 44u + 32000u);  // three digits and their gaps take over a second
  EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
  EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
  std::uint32_t dataBytes = 0;
  std::memcpy(&dataBytes, &wav[40], 4);
  EXPECT_EQ(dataBytes, wav.size() - 44);
  // Two calls, two sounds.
  ASSERT_EQ(Call(d, L"GetAudio", DISPATCH_METHOD, {}, result.put()), S_OK);
  EXPECT_NE(ArrayBytes(result.get()), wav);
}

TEST_F(ComTest, AudioOutParametersAreWrittenNeverRead) {
  unique_com<IVexorinAudio> a = CreateAudio();
  ASSERT_TRUE(a);
  SetNumber(a.get(), L"9");
  ExpectOutParametersOnlyWritten([&](VARIANT* out) { return a.get()->GetAudio(out); },
                                 [&](BSTR* out) { return a.get()->get_Number(out); }, L"9", 1);
}

// One table of names for both classes (kSaveNames, kHostileNames).
TEST_F(ComTest, SaveToFileWritesTheFileNamedAndOnlyDiskFiles) {
  unique_com<IVexorin> v = CreatePicture();
  unique_com<IVexorinAudio> a = CreateAudio();
  ASSERT_TRUE(v && a);
  SetNumber(a.get(), L"4711");
  {
    SCOPED_TRACE("picture");
    ExpectTheFileNamed(L"vexorin-names-", L".jpg", [&](BSTR path) { return v.get()->SaveToFile(path); });
  }
  {
    SCOPED_TRACE("sound");
    ExpectTheFileNamed(L"vexorin-audio-names-", L".wav", [&](BSTR path) { return a.get()->SaveToFile(path); });
  }
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
  unique_com<IVexorin> v = CreatePicture();
  ASSERT_TRUE(v);
  UINT count = 0;
  EXPECT_EQ(v.get()->GetTypeInfoCount(&count), S_OK);
  unique_com<ITypeInfo> info;
  EXPECT_TRUE(FAILED(v.get()->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put())));
  EXPECT_FALSE(info);
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"Height")};
  EXPECT_TRUE(FAILED(v.get()->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)));
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  unique_variant result;
  EXPECT_TRUE(FAILED(v.get()->Invoke(4, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, result.put(), nullptr, nullptr)));
  LONG height = 0;
  EXPECT_EQ(v.get()->get_Height(&height), S_OK);
  EXPECT_EQ(height, 30);
  v.reset();
  // The audio class alike: by name nothing, through its vtable everything.
  unique_com<IVexorinAudio> a = CreateAudio();
  ASSERT_TRUE(a);
  names[0] = const_cast<LPOLESTR>(L"GetAudio");
  EXPECT_TRUE(FAILED(a.get()->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)));
  EXPECT_TRUE(FAILED(a.get()->Invoke(2, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, result.put(), nullptr, nullptr)));
  LONG noise = -1;
  EXPECT_EQ(a.get()->get_Noise(&noise), S_OK);
  EXPECT_EQ(noise, 2);
  a.reset();
  // Put the registration back for whatever runs next.
  Exports dll;
  auto reg = Export<HRESULT(STDAPICALLTYPE*)()>(dll.module, "DllRegisterServer");
  ASSERT_NE(reg, nullptr);
  EXPECT_EQ(reg(), S_OK);
}

// A name whose text says pipe is refused before anything is opened, so a listening server never
// sees the caller (and could not act as it).
TEST_F(ComTest, NoPipeServerSeesTheCaller) {
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

  unique_com<IVexorin> v = CreatePicture();
  unique_com<IVexorinAudio> a = CreateAudio();
  ASSERT_TRUE(v);
  ASSERT_TRUE(a);
  SetNumber(a.get(), L"123");
  for (const std::wstring& name :
       {pipe, L"\\\\?\\pipe\\" + leaf, L"//./pipe/" + leaf, L"\\??\\pipe\\" + leaf, L"\\\\.\\PIPE\\" + leaf,
        L"\\\\localhost\\pipe\\" + leaf, L"\\\\127.0.0.1\\pipe\\" + leaf, L"\\\\?\\UNC\\localhost\\pipe\\" + leaf,
        L"\\\\.\\mailslot\\" + leaf, L"\\\\localhost\\mailslot\\" + leaf}) {
    SCOPED_TRACE(testing::Message() << std::string(name.begin(), name.end()));
    const unique_bstr path = Bstr(name);
    EXPECT_EQ(v.get()->SaveToFile(path.get()), E_INVALIDARG);
    EXPECT_EQ(a.get()->SaveToFile(path.get()), E_INVALIDARG);
    EXPECT_EQ(WaitForSingleObject(listening.hEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the server saw a client";
  }
  v.reset();
  a.reset();
  // The server is still free for a first client, and sees it: this test would have seen the others.
  HANDLE client = CreateFileW(pipe.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(client, INVALID_HANDLE_VALUE) << GetLastError();
  DWORD ignored = 0;
  EXPECT_TRUE(GetOverlappedResult(server, &listening, &ignored, TRUE));
  if (client != INVALID_HANDLE_VALUE) CloseHandle(client);
  CloseHandle(listening.hEvent);
  CloseHandle(server);
}

// Saves once through each class, for tests/windows/output_open_test.sh, which reads Wine's trace of
// the opens.
TEST(InChildProcess, DISABLED_SaveOnce) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  {
    unique_com<IVexorin> v = Create<IVexorin>(CLSID_CVexorin, IID_IVexorin);
    unique_com<IVexorinAudio> a = Create<IVexorinAudio>(CLSID_CVexorinAudio, IID_IVexorinAudio);
    ASSERT_TRUE(v && a);
    ASSERT_EQ(a.get()->put_Number(Bstr(L"42").get()), S_OK);
    const std::wstring picture = std::wstring(temp) + L"vexorin-sqos.jpg";
    const std::wstring sound = std::wstring(temp) + L"vexorin-sqos.wav";
    EXPECT_EQ(v.get()->SaveToFile(Bstr(picture).get()), S_OK);
    EXPECT_EQ(a.get()->SaveToFile(Bstr(sound).get()), S_OK);
    EXPECT_TRUE(DeleteFileW(picture.c_str()));
    EXPECT_TRUE(DeleteFileW(sound.c_str()));
  }
  CoUninitialize();
}

}  // namespace
