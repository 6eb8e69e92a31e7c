// The 15-bit generator the pictures are drawn from: 0..32767, one state per thread, the classic
// sequence after SeedRandom. Predictable by design: GenerateRnd seeds it from the system's generator.
#pragma once

namespace vexorin {

void SeedRandom(unsigned int seed);
int Random();

}  // namespace vexorin
