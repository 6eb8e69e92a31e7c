// A repeatable stand-in for the system's generator, for the tool's --seed and for tests; never
// linked into the DLL. SplitMix64 started at the seed: each Fill takes the next outputs in turn and
// uses their bytes little-endian, dropping what is left of the last one (a 32-bit draw is the low
// half of one output).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/random_source.h"

namespace vexorin {

class SeededRandomSource final : public platform::RandomSource {
 public:
  explicit SeededRandomSource(std::uint64_t seed) noexcept : state_(seed) {}
  HRESULT Fill(void* out, std::size_t size) noexcept override;

 private:
  std::uint64_t Next() noexcept;
  std::uint64_t state_;
};

// Installs a source for as long as it lives, then puts the system's generator back.
class ScopedRandomSource {
 public:
  explicit ScopedRandomSource(platform::RandomSource& source) noexcept { platform::InstallRandomSource(&source); }
  ~ScopedRandomSource() { platform::InstallRandomSource(nullptr); }
  ScopedRandomSource(const ScopedRandomSource&) = delete;
  ScopedRandomSource& operator=(const ScopedRandomSource&) = delete;
};

}  // namespace vexorin
