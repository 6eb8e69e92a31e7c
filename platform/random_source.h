// Where the component's secrets come from: the operating system's cryptographic generator, or a
// stand-in that a test or the command-line tool installs. Nothing here is reachable through COM.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace platform {

// A replacement for the system's generator, for repeatable runs only.
class RandomSource {
 public:
  virtual ~RandomSource() = default;
  // Fills `size` bytes, or returns a failure HRESULT (the bytes are then not to be used).
  virtual HRESULT Fill(void* out, std::size_t size) noexcept = 0;
};

// Installs `source` for every thread (null puts the system's generator back); the caller keeps it
// alive while installed. For tests and the tool: the DLL never calls it.
void InstallRandomSource(RandomSource* source) noexcept;

// `size` bytes from the installed source, else from the system's generator (BCryptGenRandom with
// the system-preferred generator on Windows, getrandom elsewhere). A failure HRESULT when the
// generator fails: on Windows its NTSTATUS as an HRESULT, elsewhere E_FAIL. There is no fallback.
HRESULT SecureRandomBytes(void* out, std::size_t size) noexcept;

// A 32-bit word of SecureRandomBytes, little-endian.
HRESULT SecureRandomWord(std::uint32_t& word) noexcept;

// A value in 0..bound-1 (bound >= 1), every value equally likely: words at or above the largest
// multiple of `bound` below 2^32 are drawn again. E_FAIL when 64 draws in a row are refused, which a
// working generator does with odds below 10^-70.
HRESULT SecureRandomBelow(std::uint32_t bound, std::uint32_t& value) noexcept;

}  // namespace platform
