// The whole picture path from an arbitrary state: RenderImage, SaveToFile and GetImage must return
// an HRESULT and never write outside a buffer (the sanitizers watch).
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
    path = "/tmp/vexorin-fuzz-XXXXXX";
    if (mkdtemp(&path[0]) == nullptr) std::abort();
    setenv("TMP", path.c_str(), 1);
  }
  ~PrivateDir() { rmdir(path.c_str()); }
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
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const PrivateDir privateDir;
  const std::string& dir = privateDir.path;
  const std::int32_t digits = Take(data, size);
  const std::int32_t number = Take(data, size);
  const std::int32_t height = 20 + static_cast<std::int32_t>(static_cast<std::uint32_t>(Take(data, size)) % 1500);
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
  return 0;
}
