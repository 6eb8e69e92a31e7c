#include "component/work/derivation_gate.h"

#include <algorithm>
#include <thread>

namespace vexorin {

DerivationGate::DerivationGate(unsigned running, std::size_t waiting, Derive derive) noexcept
    : admitted_(running != 0 ? running : std::max(1u, std::thread::hardware_concurrency())),
      waiting_(waiting != 0 ? waiting : 16 * static_cast<std::size_t>(admitted_)),
      derive_(derive) {}

bool DerivationGate::Enter() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (issued_ >= admitted_ && issued_ - admitted_ >= waiting_) return false;
  const std::uint64_t ticket = issued_++;
  turn_.wait(lock, [&] { return ticket < admitted_; });
  return true;
}

std::size_t DerivationGate::Waiting() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return issued_ > admitted_ ? static_cast<std::size_t>(issued_ - admitted_) : 0;
}

void DerivationGate::Leave() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++admitted_;
  }
  // Every waiter checks its ticket; the queue is bounded, so the wake-up is too.
  turn_.notify_all();
}

}  // namespace vexorin
