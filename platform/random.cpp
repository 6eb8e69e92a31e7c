#include "platform.h"

#include <atomic>

#ifdef _WIN32
#include <sys/timeb.h>
#else
#include <sys/time.h>
#endif

namespace platform {

// The classic 15-bit generator, with a state of the component's own per thread: the runtime's
// rand() belongs to the host, whose sequence a reseed would change.
namespace {
// The runtime's default state before any srand is that of srand(1).
thread_local std::uint32_t randomState = 1;
}  // namespace
void SeedRandom(unsigned int seed) { randomState = seed; }
int Random() {
  randomState = randomState * 214013u + 2531011u;
  return static_cast<int>((randomState >> 16) & 0x7FFF);
}

namespace {
std::atomic<bool> clockFixed{false};
std::atomic<std::uint32_t> clockFixedValue{0};
}  // namespace

void SetClockOverride(bool fixed, std::uint32_t ms) {
  clockFixedValue.store(ms);
  clockFixed.store(fixed);
}

std::uint32_t ClockMilliseconds() {
  if (clockFixed.load()) return clockFixedValue.load();
#ifdef _WIN32
  struct _timeb now;
  _ftime(&now);
  return now.millitm;
#else
  struct timeval now;
  gettimeofday(&now, nullptr);
  return static_cast<std::uint32_t>(now.tv_usec / 1000);
#endif
}

}  // namespace platform
