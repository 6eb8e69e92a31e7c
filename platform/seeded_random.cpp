#include "platform/seeded_random.h"

namespace platform {

std::uint64_t SeededRandomSource::Next() noexcept {
  state_ += 0x9E3779B97F4A7C15u;
  std::uint64_t z = state_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
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

}  // namespace platform
