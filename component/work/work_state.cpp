#include "component/work/work_state.h"

#include "platform/crypto.h"

namespace vexorin {

namespace {

std::atomic<bool> processStateUsed{false};

}  // namespace

WorkState::WorkState(const WorkSettings& settings)
    : ledger(settings.replayCapacity, settings.checkedCapacity),
      pricing(settings.budget),
      gate(settings.running, settings.waiting, settings.derive != nullptr ? settings.derive : &platform::Pbkdf2Sha256),
      derive_(settings.derive != nullptr ? settings.derive : &platform::Pbkdf2Sha256),
      fixedClock_(settings.clock) {}

HRESULT WorkState::Derive(const void* password, std::size_t passwordSize, const void* salt, std::size_t saltSize,
                          unsigned long iterations, unsigned char* out, std::size_t outSize) noexcept {
  ++made_;
  return derive_(password, passwordSize, salt, saltSize, iterations, out, outSize);
}

WorkState& ProcessWorkState() {
  static WorkState state;
  return state;
}

bool ProcessWorkStateInUse() noexcept { return processStateUsed.load(); }
void MarkProcessWorkStateInUse() noexcept { processStateUsed.store(true); }

}  // namespace vexorin
