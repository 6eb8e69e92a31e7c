// The keys the proof of work signs and tags with: overwritten before their memory goes back, and
// lent by reference rather than copied for every call.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/platform.h"

namespace vexorin {

// Bytes of a key, wiped when freed. Sized once: a vector that grew would leave its old buffer behind.
class SecretBytes {
 public:
  SecretBytes() = default;
  SecretBytes(const void* data, std::size_t size);
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
  SecretBytes(SecretBytes&& other) noexcept : bytes_(std::move(other.bytes_)) {}
  SecretBytes& operator=(SecretBytes&& other) noexcept;
  ~SecretBytes() { Wipe(); }
  const unsigned char* data() const noexcept { return bytes_.data(); }
  std::size_t size() const noexcept { return bytes_.size(); }
  bool empty() const noexcept { return bytes_.empty(); }

 private:
  void Wipe() noexcept;
  std::vector<unsigned char> bytes_;
};

// A signing key and the key-signature key made from it as ALTCHA's server frameworks make theirs:
// the hex text of HMAC-SHA-256 under "derived-secret" over the signing key, so that a server of
// theirs given the same secret checks our challenges' key signatures.
struct WorkKeys {
  SecretBytes signing, keySignature;
};
HRESULT MakeWorkKeys(const void* secret, std::size_t size, WorkKeys& keys);

// Keys made from 256 bits drawn from the system's generator at first use; a failed draw is tried
// again at the next. Once drawn they are read without a lock. Thread-safe.
class DrawnKeys {
 public:
  HRESULT Get(const WorkKeys*& keys);

 private:
  std::mutex mutex_;
  std::unique_ptr<WorkKeys> keys_;
  std::atomic<const WorkKeys*> ready_{nullptr};
};

}  // namespace vexorin
