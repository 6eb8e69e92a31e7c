#include "component/picture/picture_random.h"

#include <cstdint>

namespace vexorin {

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

}  // namespace vexorin
