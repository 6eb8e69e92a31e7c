// The proof of work's time: seconds since 1970 that never go back and never stand still. It runs
// with a monotonic clock from an anchor on the wall clock and follows the wall clock forward; when
// the wall clock steps back it keeps running, so counts still decay and lifetimes still end.
#pragma once

#include <atomic>
#include <cstdint>

namespace vexorin {

class WorkClock {
 public:
  using Source = std::int64_t (*)();  // whole seconds
  // Null sources: the system's wall clock and its monotonic clock.
  explicit WorkClock(Source wall = nullptr, Source steady = nullptr) noexcept;
  std::int64_t Now() noexcept;

 private:
  Source wall_, steady_;
  std::atomic<std::int64_t> offset_;  // the wall clock's time less the monotonic clock's, at its highest
};

}  // namespace vexorin
