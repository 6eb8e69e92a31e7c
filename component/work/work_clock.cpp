#include "component/work/work_clock.h"

#include <chrono>
#include <climits>
#include <ctime>

namespace vexorin {

namespace {

std::int64_t SystemWall() { return static_cast<std::int64_t>(std::time(nullptr)); }
std::int64_t SystemSteady() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

WorkClock::WorkClock(Source wall, Source steady) noexcept
    : wall_(wall != nullptr ? wall : &SystemWall), steady_(steady != nullptr ? steady : &SystemSteady),
      offset_(LLONG_MIN) {}

std::int64_t WorkClock::Now() noexcept {
  const std::int64_t steady = steady_();
  const std::int64_t offset = wall_() - steady;
  std::int64_t seen = offset_.load();
  while (offset > seen && !offset_.compare_exchange_weak(seen, offset)) {
  }
  return steady + (offset > seen ? offset : seen);
}

}  // namespace vexorin
