#include "component/work/work_keys.h"

#include "component/work/altcha_json.h"
#include "platform/crypto.h"
#include "platform/random_source.h"

namespace vexorin {

SecretBytes::SecretBytes(const void* data, std::size_t size)
    : bytes_(static_cast<const unsigned char*>(data), static_cast<const unsigned char*>(data) + size) {}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
  if (this != &other) {
    Wipe();
    bytes_ = std::move(other.bytes_);
  }
  return *this;
}

void SecretBytes::Wipe() noexcept { platform::SecureZero(bytes_.data(), bytes_.size()); }

HRESULT MakeWorkKeys(const void* secret, std::size_t size, WorkKeys& keys) {
  static const char kLabel[] = "derived-secret";
  unsigned char mac[platform::kSha256Bytes];
  const HRESULT hr = platform::HmacSha256(kLabel, sizeof kLabel - 1, secret, size, mac);
  if (FAILED(hr)) return hr;
  std::string hex = Hex(mac, sizeof mac);
  keys.signing = SecretBytes(secret, size);
  keys.keySignature = SecretBytes(hex.data(), hex.size());
  platform::SecureZero(&hex[0], hex.size());
  platform::SecureZero(mac, sizeof mac);
  return S_OK;
}

HRESULT DrawnKeys::Get(const WorkKeys*& keys) {
  keys = ready_.load(std::memory_order_acquire);
  if (keys != nullptr) return S_OK;
  const std::lock_guard<std::mutex> lock(mutex_);
  if (keys_ == nullptr) {
    unsigned char drawn[32];
    HRESULT hr = platform::SecureRandomBytes(drawn, sizeof drawn);
    auto made = std::make_unique<WorkKeys>();
    if (SUCCEEDED(hr)) hr = MakeWorkKeys(drawn, sizeof drawn, *made);
    platform::SecureZero(drawn, sizeof drawn);
    if (FAILED(hr)) return hr;
    keys_ = std::move(made);
    ready_.store(keys_.get(), std::memory_order_release);
  }
  keys = keys_.get();
  return S_OK;
}

}  // namespace vexorin
