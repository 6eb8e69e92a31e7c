// What the proof of work shares across a process's objects, each part with its own home and lock:
// the process's keys, what it remembers, the price, the gate for key derivations, and its time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "component/work/derivation_gate.h"
#include "component/work/work_clock.h"
#include "component/work/work_keys.h"
#include "component/work/work_ledger.h"
#include "component/work/work_pricing.h"

namespace vexorin {

// What a test or a benchmark sets; zeros and nulls are the process's own choices.
struct WorkSettings {
  std::size_t replayCapacity = kReplayCapacity, checkedCapacity = kCheckedCapacity;
  unsigned running = 0;        // derivations at once when checking
  std::size_t waiting = 0;     // checks that may wait for one
  unsigned budget = 0;         // challenges a second that may carry a derivation
  Derive derive = nullptr;     // PBKDF2-HMAC-SHA-256
  WorkClock::Source clock = nullptr;  // the time itself (a test's); else the process's WorkClock
};

class WorkState {
 public:
  explicit WorkState(const WorkSettings& settings = WorkSettings());
  WorkState(const WorkState&) = delete;
  WorkState& operator=(const WorkState&) = delete;

  std::int64_t Now() noexcept { return fixedClock_ != nullptr ? fixedClock_() : clock_.Now(); }
  // A derivation for a new challenge (budgeted by the pricing, so not queued).
  HRESULT Derive(const void* password, std::size_t passwordSize, const void* salt, std::size_t saltSize,
                 unsigned long iterations, unsigned char* out, std::size_t outSize) noexcept;
  std::uint64_t Derivations() const noexcept { return made_.load() + gate.Runs(); }
  static constexpr int kOutcomeSlots = 16;
  void CountOutcome(int outcome) noexcept {
    if (outcome >= 0 && outcome < kOutcomeSlots) ++outcomes_[outcome];
  }
  std::uint64_t Outcomes(int outcome) const noexcept {
    return outcome >= 0 && outcome < kOutcomeSlots ? outcomes_[outcome].load() : 0;
  }

  DrawnKeys keys;  // for objects without a Secret
  WorkLedger ledger;
  WorkPricing pricing;
  DerivationGate gate;

 private:
  ::vexorin::Derive derive_;
  WorkClock::Source fixedClock_;
  WorkClock clock_;
  std::atomic<std::uint64_t> made_{0};
  std::atomic<std::uint64_t> outcomes_[kOutcomeSlots] = {};
};

// The process's own, which every object uses unless a test gives it another.
WorkState& ProcessWorkState();
// Whether this process has made or checked a challenge: what it remembers must then outlive the
// objects, so the module stays loaded.
bool ProcessWorkStateInUse() noexcept;
void MarkProcessWorkStateInUse() noexcept;

}  // namespace vexorin
