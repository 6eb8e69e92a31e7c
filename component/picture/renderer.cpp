#include "component/picture/renderer.h"

#include <cmath>

#include "component/picture/picture_random.h"
#include "component/shared/trig.h"

namespace vexorin {

// Every picture depends on these values exactly, to the last digit: change one and every stored
// canvas, sample and cross-build comparison changes with it.
namespace {
// Arc angles, with pi shortened as the glyph table has always had it.
constexpr double kQuarter = 1.57079632675;
constexpr double kHalf = 3.1415926535;
constexpr double kThreeQuarters = 4.71238898025;
constexpr double kFull = 6.283185307;
// A digit's size: (a draw of 0..99 + kScaleBase) x height / kScaleDivisor, in whole units, x kScaleFactor.
constexpr long long kScaleBase = 1950;
constexpr long long kScaleDivisor = 2000;
constexpr double kScaleFactor = 0.95;
// Digit i starts at height x kAdvance x i x 0.5 + kLeftMargin pixels.
constexpr double kAdvance = 0.98;
constexpr double kLeftMargin = 2.0;
// Slant per glyph unit of height: a draw of 0..199, less 100, times this.
constexpr double kSlantStep = 0.00125;
// Glyph units to pixels per unit of scale.
constexpr double kUnit = 0.05;
// Every glyph starts this many pixels below the top.
constexpr double kTopMargin = 3.0;
// 1 / (2 pi): an arc is plotted in r x 6 steps per full turn.
constexpr double kInverseTurn = 0.15915494309644432;
constexpr double kArcStepsPerRadius = 6.0;
}  // namespace

// Unlisted slots are zero: the terminator.
const GlyphStroke DigitGlyphTable[10][kGlyphSlots] = {
    {{4, 4, -kQuarter, kQuarter, 4}, {0, 4, 0, 12, 0}, {4, 12, kQuarter, kThreeQuarters, 4},
     {8, 4, 8, 12, 0}},
    {{4, 0, 4, 16, 0}},
    {{4, 4, -kQuarter, kQuarter, 4}, {8, 4, 0, 16, 0}, {0, 16, 8, 16, 0}},
    {{4, 4, -kQuarter, kHalf, 4}, {4, 12, 0, kThreeQuarters, 4}},
    {{0, 0, 0, 8, 0}, {0, 8, 8, 8, 0}, {8, 0, 8, 16, 0}},
    {{0, 0, 8, 0, 0}, {0, 0, 0, 8, 0}, {4, 8, -kQuarter, kQuarter, 4},
     {4, 12, kQuarter, kThreeQuarters, 4}, {8, 8, 8, 12, 0}},
    {{4, 0, 8, 0, 0}, {0, 4, 0, 12, 0}, {8, 8, 8, 12, 0}, {4, 4, -kQuarter, 0, 4},
     {4, 8, -kQuarter, kQuarter, 4}, {4, 12, kQuarter, kThreeQuarters, 4}},
    {{0, 0, 8, 0, 0}, {8, 0, 4, 16, 0}},
    {{4, 4, 0, kFull, 4}, {4, 12, 0, kFull, 4}},
    {{0, 16, 4, 16, 0}, {0, 4, 0, 8, 0}, {8, 4, 8, 12, 0}, {4, 4, -kQuarter, kQuarter, 4},
     {4, 8, kQuarter, kThreeQuarters, 4}, {4, 12, kQuarter, kHalf, 4}},
};

void DrawNumber(BYTE* canvas, LONG width, LONG height, LONG digitCount, LONG number) {
  LONG place = 1;
  for (LONG i = 1; i < digitCount; ++i) place *= 10;
  LONG v = number;
  for (LONG i = 0; i + 2 <= digitCount; ++i) {
    const LONG digit = (v / place) % 10;
    v %= place;
    place /= 10;
    DrawDigit(canvas, width, height, i, digit);
  }
  DrawDigit(canvas, width, height, digitCount - 1 > 0 ? digitCount - 1 : 0, v % 10);
}

void DrawDigit(BYTE* canvas, LONG width, LONG height, LONG index, LONG digit) {
  const int r1 = vexorin::Random();
  const double scale =
      static_cast<double>((static_cast<long long>(r1 % 100 + kScaleBase) * height) / kScaleDivisor) * kScaleFactor;
  const double left = height * kAdvance * index * 0.5 + kLeftMargin;
  const int r2 = vexorin::Random();
  const double slant = ((r2 % 200) - 100) * kSlantStep;
  // The draws above happen for every digit; only the glyph lookup needs a digit of 0..9.
  if (digit < 0 || digit > 9) return;

  for (const GlyphStroke& s : DigitGlyphTable[digit]) {
    if (s.x == 0 && s.y == 0 && s.p1 == 0.0 && s.p2 == 0.0) break;
    const double px = (s.x * scale) * kUnit + left + s.y * slant;
    const double py = (s.y * scale) * kUnit + kTopMargin;
    if (s.radius != 0) {
      DrawArc(canvas, width, height, px, py, (s.radius * scale) * kUnit, s.p1, s.p2);
    } else {
      DrawLine(canvas, width, height, px, py, (scale * s.p1) * kUnit + left + slant * s.p2,
               (scale * s.p2) * kUnit + kTopMargin);
    }
  }
}

void DrawLine(BYTE* canvas, LONG width, LONG height, double x0, double y0, double x1, double y1) {
  const double dx = x1 - x0;
  const double dy = y1 - y0;
  const double length = std::sqrt(dy * dy + dx * dx);
  const double rounded = length + 0.5;
  if (!(rounded >= 1.0) || rounded > 2147483647.0) return;
  const auto n = static_cast<LONG>(rounded);
  const double inv = 1.0 / length;
  for (LONG i = 0; i < n; ++i) {
    const double t = i * inv;
    PlotDarken(canvas, width, height, x0 + dx * t, y0 + dy * t);
  }
}

void DrawArc(BYTE* canvas, LONG width, LONG height, double cx, double cy, double r, double a0,
             double a1) {
  const double step = (a1 - a0) / ((a1 - a0) * kInverseTurn * (r * kArcStepsPerRadius));
  if (!(step > 0.0)) {
    // Only a degenerate radius gets here; one point, as the loop below would plot.
    if (a0 < a1) {
      double s, c;
      SinCos(a0, s, c);
      PlotDarken(canvas, width, height, cx + r * s, cy - r * c);
    }
    return;
  }
  for (double theta = a0; theta < a1; theta += step) {
    double s, c;
    SinCos(theta, s, c);
    PlotDarken(canvas, width, height, cx + r * s, cy - r * c);
  }
}

namespace {
// Ink takes the pixel down to 0 at most.
inline void Darken(BYTE* pixel, int ink) {
  const int v = *pixel - ink;
  *pixel = static_cast<BYTE>(v > 0 ? v : 0);
}
}  // namespace

void PlotDarken(BYTE* canvas, LONG width, LONG height, double x, double y) {
  // Far off the canvas (or not a number): nothing of it can land inside.
  if (!(x > -4.0e9 && x < 4.0e9 && y > -4.0e9 && y < 4.0e9)) return;
  // floor by truncation and one step down: exact in this range, and far cheaper than std::floor
  // without SSE4.1.
  auto ix = static_cast<long long>(x);
  ix -= static_cast<double>(ix) > x ? 1 : 0;
  auto iy = static_cast<long long>(y);
  iy -= static_cast<double>(iy) > y ? 1 : 0;
  const double fx = x - static_cast<double>(ix);
  const double fy = y - static_cast<double>(iy);
  const auto w00 = static_cast<int>((1 - fx) * (1 - fy) * 255);
  const auto w10 = static_cast<int>(fx * (1 - fy) * 255);
  const auto w01 = static_cast<int>((1 - fx) * fy * 255);
  const auto w11 = static_cast<int>(fx * fy * 255);
  const long long size = static_cast<long long>(width) * height;
  const long long at = iy * width + ix;
  if (at >= 0 && at + width + 1 < size) {
    BYTE* p = canvas + at;
    Darken(p, w00);
    Darken(p + 1, w10);
    Darken(p + width, w01);
    Darken(p + width + 1, w11);
    return;
  }
  const long long targets[4] = {at, at + 1, at + width, at + width + 1};
  const int inks[4] = {w00, w10, w01, w11};
  for (int k = 0; k < 4; ++k) {
    if (targets[k] >= 0 && targets[k] < size) Darken(canvas + targets[k], inks[k]);
  }
}

void AddNoise(BYTE* canvas, LONG width, LONG height) {
  if (width <= 0 || height <= 0) return;
  const long long n = static_cast<long long>(width) * height / 8;
  for (long long i = 0; i < n; ++i) {
    const int x = vexorin::Random() % width;
    const int y = vexorin::Random() % height;
    const int v = vexorin::Random() % 256;
    canvas[static_cast<long long>(y) * width + x] ^= static_cast<BYTE>(v);
  }
}

}  // namespace vexorin
