// Digit renderer. Conventions:
// - The canvas is width x height gray bytes, row-major, top row first; 255 is paper, 0 full ink.
//   The caller owns it; nothing here allocates.
// - Coordinates are doubles in pixels, x growing right, y growing down. A column of `width` or more
//   runs on into the next row (pixels are addressed by linear index); writes that would land outside
//   the width x height bytes are dropped.
// - Random draws come from the thread's 15-bit generator, in the order that fixes the picture.
#pragma once

#include "platform/platform.h"

namespace vexorin {

// Glyph units: a cell 8 wide and 16 high, y down. Arcs: angle 0 is straight up, growing clockwise.
struct GlyphStroke {
  LONG x;       // line: start x; arc: centre x
  LONG y;       // line: start y; arc: centre y
  double p1;    // line: end x; arc: start angle (radians)
  double p2;    // line: end y; arc: end angle (radians)
  LONG radius;  // 0: line
};

constexpr int kGlyphSlots = 7;
extern const GlyphStroke DigitGlyphTable[10][kGlyphSlots];

void DrawNumber(BYTE* canvas, LONG width, LONG height, LONG digitCount, LONG number);
void DrawDigit(BYTE* canvas, LONG width, LONG height, LONG index, LONG digit);
void DrawLine(BYTE* canvas, LONG width, LONG height, double x0, double y0, double x1, double y1);
void DrawArc(BYTE* canvas, LONG width, LONG height, double cx, double cy, double r, double a0,
             double a1);
void PlotDarken(BYTE* canvas, LONG width, LONG height, double x, double y);
void AddNoise(BYTE* canvas, LONG width, LONG height);

}  // namespace vexorin
