// The whole picture path from an arbitrary state: RenderImage, SaveToFile and GetImage must return
// an HRESULT and never write outside a buffer (the sanitizers watch).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "component/component.h"
#include "fuzz_support.h"
#include "platform/text.h"

namespace {
// A private temporary directory for one input, removed with it (libFuzzer ends with _Exit, so
// nothing left for the end of the process would run).
struct PrivateDir {
  PrivateDir() {
    // Memory-backed when the machine has it: the files of every input would otherwise dominate.
    struct stat shm;
    path = stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode) ? "/dev/shm/vexorin-fuzz-XXXXXX" : "/tmp/vexorin-fuzz-XXXXXX";
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
// UTF-8 of well-formed UTF-16, or false when it has a NUL or an unpaired surrogate.
bool Utf8(const std::u16string& text, std::string& out) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = text[i];
    if (c == 0 || (c >= 0xDC00 && c < 0xE000)) return false;
    if (c >= 0xD800 && c < 0xDC00) {
      if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] >= 0xE000) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return true;
}

// A name with a NUL or an unpaired surrogate is refused and nothing is made; any other name is
// written exactly as given, or fails without leaving anything.
void CheckFileName(vexorin::VexorinComponent& c, const std::string& dir, const std::u16string& leaf) {
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
  } else if (hr != E_FAIL && hr != E_POINTER) {
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

  vexorin::VexorinComponent c;
  // Reach any digit count (GenerateRnd stores negatives and caps at 9) and any number (put).
  platform::SetClockOverride(true, seed);
  LONG drawn = 0;
  c.GenerateRnd(digits, &drawn);
  platform::SetClockOverride(false, 0);
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
