// SplitMix64: a fast 64-bit generator whose whole state is its seed. Predictable by design, so it
// only stands in for the system's generator in repeatable runs (--seed, tests); the DLL never uses it.
#pragma once

#include <cstdint>

namespace vexorin {

inline std::uint64_t SplitMix64Next(std::uint64_t& state) noexcept {
  state += 0x9E3779B97F4A7C15u;
  std::uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

}  // namespace vexorin
