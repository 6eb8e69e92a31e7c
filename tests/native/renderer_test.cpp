#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "component/picture/component.h"
#include "component/picture/picture_random.h"
#include "component/picture/renderer.h"
#include "tests/shared/test_support.h"

using testing_support::Bstr;
using testing_support::Fnv1a;
using testing_support::ReferenceRandom;
using vexorin::PictureComponent;

namespace {

constexpr unsigned char kGuard = 0xAB;
constexpr std::size_t kGuardBytes = 64;

// A white canvas followed by guard bytes that no write may touch.
struct Canvas {
  Canvas(LONG w, LONG h)
      : width(w), height(h), bytes(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) + kGuardBytes, 255) {
    for (std::size_t i = bytes.size() - kGuardBytes; i < bytes.size(); ++i) bytes[i] = kGuard;
  }
  unsigned char& at(LONG x, LONG y) { return bytes[static_cast<std::size_t>(y * width + x)]; }
  bool GuardIntact() const {
    for (std::size_t i = bytes.size() - kGuardBytes; i < bytes.size(); ++i)
      if (bytes[i] != kGuard) return false;
    return true;
  }
  std::uint64_t Hash() const { return Fnv1a(bytes.data(), bytes.size() - kGuardBytes); }

  LONG width;
  LONG height;
  std::vector<unsigned char> bytes;
};

unsigned int SeedWhereFirstDraws(int r1Mod100, int r2Mod200) {
  for (unsigned int seed = 0;; ++seed) {
    ReferenceRandom r(seed);
    const int r1 = r.Next();
    const int r2 = r.Next();
    if (r1 % 100 == r1Mod100 && r2 % 200 == r2Mod200) return seed;
  }
}

void SetNumber(PictureComponent& c, const char* number, LONG height, LONG noise) {
  ASSERT_TRUE(SUCCEEDED(testing_support::SetState(c, number, height, noise)));
}

TEST(RendererTest, WorkedExampleOfDigitOne) {
  Canvas canvas(120, 30);
  vexorin::SeedRandom(SeedWhereFirstDraws(50, 100));
  vexorin::DrawDigit(canvas.bytes.data(), 120, 30, 0, 1);
  for (LONG y = 0; y < 30; ++y) {
    for (LONG x = 0; x < 120; ++x) {
      int expected = 255;
      if (y >= 3 && y <= 25 && x == 7) expected = 179;
      if (y >= 3 && y <= 25 && x == 8) expected = 77;
      ASSERT_EQ(canvas.at(x, y), expected) << "pixel (" << x << ", " << y << ")";
    }
  }
}

TEST(RendererTest, LinePlotsOnePointPerPixelOfLengthAndNotItsEnd) {
  Canvas canvas(20, 10);
  vexorin::DrawLine(canvas.bytes.data(), 20, 10, 2.0, 5.0, 12.0, 5.0);
  for (LONG x = 0; x < 20; ++x) EXPECT_EQ(canvas.at(x, 5), x >= 2 && x < 12 ? 0 : 255) << x;

  Canvas shortLine(20, 10);
  vexorin::DrawLine(shortLine.bytes.data(), 20, 10, 3.0, 3.0, 3.3, 3.3);  // length 0.42
  EXPECT_EQ(shortLine.Hash(), Canvas(20, 10).Hash());
}

TEST(RendererTest, InkPastTheRowRunsIntoTheNextRowAndNeverPastTheCanvas) {
  Canvas canvas(10, 4);
  // Half a pixel right of the last column: half the ink lands at the start of the next row.
  vexorin::PlotDarken(canvas.bytes.data(), 10, 4, 9.5, 1.0);
  EXPECT_EQ(canvas.at(9, 1), 255 - 127);
  EXPECT_EQ(canvas.at(0, 2), 255 - 127);
  // The bottom-right corner: the spill below and to the right is dropped.
  vexorin::PlotDarken(canvas.bytes.data(), 10, 4, 9.5, 3.5);
  EXPECT_EQ(canvas.at(9, 3), 255 - 63);
  EXPECT_TRUE(canvas.GuardIntact());
  // Ink never goes below zero.
  for (int i = 0; i < 5; ++i) vexorin::PlotDarken(canvas.bytes.data(), 10, 4, 4.0, 2.0);
  EXPECT_EQ(canvas.at(4, 2), 0);
}

TEST(RendererTest, NumberIsDrawnMostSignificantFirstWithLeadingZeros) {
  const unsigned int seed = 99;
  Canvas byNumber(90, 60);
  vexorin::SeedRandom(seed);
  vexorin::DrawNumber(byNumber.bytes.data(), 90, 60, 3, 7);
  Canvas byDigits(90, 60);
  vexorin::SeedRandom(seed);
  for (LONG i = 0; i < 3; ++i) vexorin::DrawDigit(byDigits.bytes.data(), 90, 60, i, i < 2 ? 0 : 7);
  EXPECT_EQ(byNumber.Hash(), byDigits.Hash());

  Canvas single(30, 60);
  vexorin::SeedRandom(seed);
  vexorin::DrawNumber(single.bytes.data(), 30, 60, 1, 7);
  Canvas seven(30, 60);
  vexorin::SeedRandom(seed);
  vexorin::DrawDigit(seven.bytes.data(), 30, 60, 0, 7);
  EXPECT_EQ(single.Hash(), seven.Hash());
}

TEST(RendererTest, NoiseTakesThreeDrawsPerSpeckleInTheOrderColumnRowValue) {
  // One speckle (4 x 2 / 8): its column from the first draw, its row from the second, the value it
  // flips the pixel by from the third.
  ReferenceRandom r(4242);
  const int column = r.Next() % 4;
  const int row = r.Next() % 2;
  const int value = r.Next() % 256;
  ASSERT_NE(value, 0) << "choose a seed that flips something";
  Canvas one(4, 2);
  vexorin::SeedRandom(4242);
  vexorin::AddNoise(one.bytes.data(), 4, 2);
  for (LONG y = 0; y < 2; ++y) {
    for (LONG x = 0; x < 4; ++x) {
      const int expected = x == column && y == row ? 255 ^ value : 255;
      EXPECT_EQ(one.at(x, y), expected) << x << "," << y;
    }
  }
  // Width x height / 8 speckles: 450 at 120 x 30, so exactly 1350 draws.
  Canvas canvas(120, 30);
  vexorin::SeedRandom(4242);
  vexorin::AddNoise(canvas.bytes.data(), 120, 30);
  ReferenceRandom after(4242);
  for (int i = 0; i < 1350; ++i) after.Next();
  EXPECT_EQ(vexorin::Random(), after.Next());
  EXPECT_TRUE(canvas.GuardIntact());
}

TEST(RendererTest, RefusesWhatItCannotDraw) {
  PictureComponent c;
  vexorin::PictureSize size;
  ASSERT_EQ(c.MeasurePicture(size), S_OK);
  EXPECT_EQ(c.RenderImage(nullptr, size), E_POINTER);
  vexorin::Canvas canvas;
  SetNumber(c, "-5", 30, 0);  // a sign has no glyph
  EXPECT_EQ(c.MeasurePicture(size), E_FAIL);
  EXPECT_EQ(c.Render(canvas), E_FAIL);
  LONG n = 0;
  c.GenerateRnd(-2, &n);  // negative width
  EXPECT_EQ(c.MeasurePicture(size), E_FAIL);
  EXPECT_EQ(c.Render(canvas), E_FAIL);
  EXPECT_EQ(canvas.pixels, nullptr) << "nothing may be allocated when refusing";
}

TEST(RendererTest, HeightTwentyInkStaysInsideTheCanvas) {
  // 2s at the largest scale and slant reach furthest right and down; try every draw of many seeds.
  PictureComponent c;
  for (const char* number : {"222222222", "7", "88888888", "900000000"}) {
    SetNumber(c, number, 20, 0);
    LONG width = 0;
    c.GetWidth(&width);
    vexorin::PictureSize size;
    ASSERT_EQ(c.MeasurePicture(size), S_OK);
    bool reachedLastByte = false;
    for (unsigned int seed = 0; seed < 2000; ++seed) {
      Canvas canvas(width, 20);
      vexorin::SeedRandom(seed);
      ASSERT_EQ(c.RenderImage(canvas.bytes.data(), size), S_OK);
      ASSERT_TRUE(canvas.GuardIntact()) << number << " seed " << seed;
      reachedLastByte |= canvas.at(width - 1, 19) != 255;
    }
    if (std::string(number) == "222222222") {
      EXPECT_TRUE(reachedLastByte) << "the edge case was not reached";
    }
  }
}

TEST(RendererTest, GoldenCanvases) {
  struct Case {
    unsigned int seed;
    const char* number;
    LONG height;
    LONG noise;
    std::uint64_t hash;
  };
  const Case cases[] = {
      {1, "12345678", 30, 0, 0xc2582a1e7d1c45f2},
      {2, "000000007", 20, 0, 0xf21700d4b06ce13d},
      {3, "987654321", 57, 1, 0x6f19fccbb9d4f0e1},
      {4, "5", 200, 0, 0xb873936c6f18e1ae},
      {5, "31415926", 30, -1, 0xd58cefff34be9ff8},
  };
  PictureComponent c;
  for (const Case& k : cases) {
    SetNumber(c, k.number, k.height, k.noise);
    vexorin::PictureSize size;
    ASSERT_EQ(c.MeasurePicture(size), S_OK);
    Canvas canvas(size.width, k.height);
    vexorin::SeedRandom(k.seed);
    ASSERT_EQ(c.RenderImage(canvas.bytes.data(), size), S_OK);
    EXPECT_EQ(canvas.Hash(), k.hash) << k.number << " h" << k.height << " seed " << k.seed
                                     << std::hex << " got 0x" << canvas.Hash();
  }
}

}  // namespace
