// The key derivations that checks run, a few at once and in the order they came: a flood queues
// behind the processors instead of starving the host's threads, nobody is overtaken, and beyond a
// bounded queue a check is told at once that the server is busy rather than made to wait.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/platform.h"

namespace vexorin {

using Derive = HRESULT (*)(const void* password, std::size_t passwordSize, const void* salt, std::size_t saltSize,
                           unsigned long iterations, unsigned char* out, std::size_t outSize) noexcept;

class DerivationGate {
 public:
  // `running` 0: as many at once as the machine has processors; `waiting` 0: 16 for each of those.
  DerivationGate(unsigned running, std::size_t waiting, Derive derive) noexcept;
  DerivationGate(const DerivationGate&) = delete;
  DerivationGate& operator=(const DerivationGate&) = delete;

  // A place in the queue, held until the derivation has run; not held when the queue was full.
  class Turn {
   public:
    explicit Turn(DerivationGate& gate) : gate_(gate), held_(gate.Enter()) {}
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;
    ~Turn() {
      if (held_) gate_.Leave();
    }
    bool Held() const noexcept { return held_; }
    HRESULT Derive(const void* password, std::size_t passwordSize, const void* salt, std::size_t saltSize,
                   unsigned long iterations, unsigned char* out, std::size_t outSize) noexcept {
      ++gate_.runs_;
      return gate_.derive_(password, passwordSize, salt, saltSize, iterations, out, outSize);
    }

   private:
    DerivationGate& gate_;
    bool held_;
  };
  std::uint64_t Runs() const noexcept { return runs_.load(); }
  std::size_t Waiting();

 private:
  bool Enter();
  void Leave();
  std::mutex mutex_;
  std::condition_variable turn_;
  std::uint64_t issued_ = 0, admitted_;  // tickets below admitted_ may run
  std::size_t waiting_;
  Derive derive_;
  std::atomic<std::uint64_t> runs_{0};
};

}  // namespace vexorin
