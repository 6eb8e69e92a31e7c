#include "platform/random_source.h"

#include <atomic>
#include <cerrno>

#ifdef _WIN32
#include <bcrypt.h>
#else
#include <sys/random.h>
#endif

namespace platform {

namespace {

std::atomic<RandomSource*> installedSource{nullptr};

HRESULT SystemRandomBytes(void* out, std::size_t size) noexcept {
#ifdef _WIN32
  auto* bytes = static_cast<unsigned char*>(out);
  while (size > 0) {
    const ULONG chunk = size > 0x10000000u ? 0x10000000u : static_cast<ULONG>(size);
    const NTSTATUS status = BCryptGenRandom(nullptr, bytes, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status < 0) return HRESULT_FROM_NT(status);
    bytes += chunk;
    size -= chunk;
  }
  return S_OK;
#else
  auto* bytes = static_cast<unsigned char*>(out);
  while (size > 0) {
    const ssize_t got = getrandom(bytes, size, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return E_FAIL;
    }
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return S_OK;
#endif
}

}  // namespace

void InstallRandomSource(RandomSource* source) noexcept { installedSource.store(source); }

HRESULT SecureRandomBytes(void* out, std::size_t size) noexcept {
  if (RandomSource* source = installedSource.load()) return source->Fill(out, size);
  return SystemRandomBytes(out, size);
}

HRESULT SecureRandomWord(std::uint32_t& word) noexcept {
  unsigned char bytes[4] = {};
  const HRESULT hr = SecureRandomBytes(bytes, sizeof bytes);
  if (FAILED(hr)) return hr;
  word = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
  return S_OK;
}

HRESULT SecureRandomBelow(std::uint32_t bound, std::uint32_t& value) noexcept {
  if (bound == 0) return E_INVALIDARG;
  // 2^32 mod bound words at the top would make the low values likelier than the rest.
  const std::uint64_t limit = (std::uint64_t{1} << 32) - (std::uint64_t{1} << 32) % bound;
  for (int attempt = 0; attempt < 64; ++attempt) {
    std::uint32_t word = 0;
    const HRESULT hr = SecureRandomWord(word);
    if (FAILED(hr)) return hr;
    if (word < limit) {
      value = word % bound;
      return S_OK;
    }
  }
  return E_FAIL;
}

}  // namespace platform
