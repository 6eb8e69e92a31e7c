// The whole picture path from an arbitrary state: RenderImage, SaveToFile and GetImage must return
// an HRESULT and never write outside a buffer (the sanitizers watch).
#include <sys/stat.h>
#include <unistd.h>

#include <codecvt>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <locale>
#include <stdexcept>
#include <string>
#include <vector>

#include "component/picture/component.h"
#include "cli/seeded_for_tests/seeded_random.h"
#include "fuzz_support.h"
#include "platform/text.h"

namespace {
// A private temporary directory for one input, removed with it (libFuzzer ends with _Exit, so
// nothing left for the end of the process would run).
struct PrivateDir {
  PrivateDir() {
    // TMPDIR first; else memory-backed when the machine has it: the files of every input would
    // otherwise dominate.
    struct stat shm;
    const char* fallback = stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode) ? "/dev/shm" : "/tmp";
    path = fuzz_support::TemporaryDirectory(fallback) + "/vexorin-fuzz-XXXXXX";
    if (mkdtemp(&path[0]) == nullptr) std::abort();
    setenv("TMP", path.c_str(), 1);
  }
  // A file left behind is a finding: rmdir only removes an empty directory.
  ~PrivateDir() {
    if (rmdir(path.c_str()) != 0) __builtin_trap();
  }
  std::string path;
};

std::int32_t Take(const std::uint8_t*& data, std::size_t& size) {
  std::int32_t v = 0;
  const std::size_t n = size < 4 ? size : 4;
  std::memcpy(&v, data, n);
  data += n;
  size -= n;
  return v;
}
// UTF-8 of well-formed UTF-16 by the standard library's own converter (not the product's), or
// false when the text has a NUL or an unpaired surrogate.
bool Utf8(const std::u16string& text, std::string& out) {
  if (text.find(u'\0') != std::u16string::npos) return false;
  // The converter takes a high surrogate at the very end for the start of more text.
  if (!text.empty() && text.back() >= 0xD800 && text.back() < 0xDC00) return false;
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"
  std::wstring_convert<std::codecvt_utf8_utf16<char16_t>, char16_t> convert;
  try {
    out = convert.to_bytes(text);
  } catch (const std::range_error&) {
    return false;
  }
#pragma clang diagnostic pop
  return true;
}

// A name with a NUL or an unpaired surrogate is refused and nothing is made; any other name is
// written exactly as given, or refused or failed without leaving anything (the private directory
// must be empty at the end).
void CheckFileName(vexorin::PictureComponent& c, const std::string& dir, const std::u16string& leaf) {
  const std::u16string full = std::u16string(dir.begin(), dir.end()) + u"/" + leaf;
  platform::unique_bstr name(SysAllocStringLen(full.data(), static_cast<UINT>(full.size())));
  std::string expected;
  const bool exact = Utf8(leaf, expected);
  const HRESULT hr = c.SaveToFile(name.get());
  if (!exact) {
    if (hr != E_INVALIDARG) __builtin_trap();
    return;  // the private directory must still be empty
  }
  if (hr == S_OK) {
    const std::string path = dir + "/" + expected;
    if (std::remove(path.c_str()) != 0) __builtin_trap();  // not where it was named
  } else if (hr != E_FAIL && hr != E_POINTER && hr != E_INVALIDARG) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const PrivateDir privateDir;
  const std::string& dir = privateDir.path;
  const std::int32_t digits = Take(data, size);
  const std::int32_t number = Take(data, size);
  // Small pictures keep the run fast; large ones are covered by their own tests.
  const std::int32_t height = 20 + static_cast<std::int32_t>(static_cast<std::uint32_t>(Take(data, size)) % 44);
  const std::int32_t noise = Take(data, size);
  const std::uint32_t seed = static_cast<std::uint32_t>(Take(data, size));

  vexorin::SeededRandomSource source(seed);
  const vexorin::ScopedRandomSource installed(source);
  vexorin::PictureComponent c;
  // Reach any digit count (GenerateRnd stores negatives and caps at 9) and any number (put).
  LONG drawn = 0;
  c.GenerateRnd(digits, &drawn);
  if ((number & 1) != 0) {
    const std::string text = std::to_string(number >> 1);
    platform::unique_bstr value(platform::MakeBstr(text.c_str()));
    c.put_Number(value.get());
  }
  c.put_Height(height);
  c.put_Noise(noise);

  fuzz_support::CheckRender(c);
  const std::string path = dir + "/out.jpg";
  platform::unique_bstr name(platform::MakeBstr(path.c_str()));
  const HRESULT saved = c.SaveToFile(name.get());
  if (saved != S_OK && saved != E_FAIL && saved != E_POINTER) __builtin_trap();
  std::remove(path.c_str());
  VARIANT image;
  VariantInit(&image);
  const HRESULT got = c.GetImage(&image);
  if (SUCCEEDED(got) != SUCCEEDED(saved)) __builtin_trap();  // the same state saves the same way
  VariantClear(&image);

  // The rest of the input is a file name inside the private directory.
  std::u16string leaf;
  for (; size >= 2 && leaf.size() < 40; data += 2, size -= 2) {
    char16_t u = static_cast<char16_t>(data[0] | (data[1] << 8));
    if (u == u'/') u = u'_';  // a separator would legitimately leave the directory
    leaf += u;
  }
  if (!leaf.empty()) CheckFileName(c, dir, leaf);
  return 0;
}
