#include "cli/seeded_for_tests/seeded_random.h"
#include "cli/seeded_for_tests/splitmix64.h"

namespace vexorin {

std::uint64_t SeededRandomSource::Next() noexcept {
  return SplitMix64Next(state_);
}

HRESULT SeededRandomSource::Fill(void* out, std::size_t size) noexcept {
  auto* bytes = static_cast<unsigned char*>(out);
  while (size > 0) {
    std::uint64_t word = Next();
    for (int i = 0; i < 8 && size > 0; ++i, --size) {
      *bytes++ = static_cast<unsigned char>(word);
      word >>= 8;
    }
  }
  return S_OK;
}

}  // namespace vexorin
