// Sine, cosine and e^x in plain double arithmetic (no FMA, no x87, no library call), so the
// renderer's points and the sound's gains come out bit for bit the same on every build and CPU; the
// runtime's versions differ in the last bit between libraries and even between CPU variants of one
// library.
#pragma once

namespace vexorin {

// Both within one unit in the last place; exact same bits everywhere for |x| < 2^19 * pi/2.
void SinCos(double x, double& sine, double& cosine);

// e^x: the Taylor series of x/64, squared six times. Within 1e-13 relative for |x| < 8 (the
// squarings multiply the series' rounding: some hundred units in the last place), all the sound's
// gains need.
double Exp(double x);

}  // namespace vexorin
