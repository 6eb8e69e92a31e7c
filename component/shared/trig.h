// Sine and cosine in plain double arithmetic (no FMA, no x87, no library call), so the renderer's
// points come out bit for bit the same on every build and CPU; the runtime's versions differ in the
// last bit between libraries and even between CPU variants of one library.
#pragma once

namespace vexorin {

// Both within one unit in the last place; exact same bits everywhere for |x| < 2^19 * pi/2.
void SinCos(double x, double& sine, double& cosine);

}  // namespace vexorin
