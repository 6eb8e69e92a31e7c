#include <cmath>
#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include "component/shared/trig.h"

namespace {

// Distance in units of the last place between two doubles of the same sign.
std::int64_t UlpDistance(double a, double b) {
  std::int64_t ia, ib;
  std::memcpy(&ia, &a, sizeof a);
  std::memcpy(&ib, &b, sizeof b);
  if (ia < 0) ia = INT64_MIN - ia;
  if (ib < 0) ib = INT64_MIN - ib;
  return ia > ib ? ia - ib : ib - ia;
}

TEST(TrigTest, AgreesWithTheRuntimeWithinOneUlpOverTheRenderersAngles) {
  // Arc angles run from -pi/2 to 2*pi; cover a wider range, densely.
  for (double x = -8.0; x <= 8.0; x += 0.000731) {
    double s = 0, c = 0;
    vexorin::SinCos(x, s, c);
    ASSERT_LE(UlpDistance(s, std::sin(x)), 1) << x;
    ASSERT_LE(UlpDistance(c, std::cos(x)), 1) << x;
  }
}

TEST(TrigTest, ExactValuesAndSymmetry) {
  double s = 1, c = 0;
  vexorin::SinCos(0.0, s, c);
  EXPECT_EQ(s, 0.0);
  EXPECT_EQ(c, 1.0);
  for (double x : {0.1, 0.7, 1.57079632675, 3.1415926535, 4.71238898025, 6.283185307, 1000.25}) {
    double s1, c1, s2, c2;
    vexorin::SinCos(x, s1, c1);
    vexorin::SinCos(-x, s2, c2);
    EXPECT_EQ(s1, -s2) << x;
    EXPECT_EQ(c1, c2) << x;
  }
  // Near multiples of pi/2 the reduction must not lose the small result.
  vexorin::SinCos(3.141592653589793, s, c);
  EXPECT_NEAR(s, 1.2246467991473532e-16, 1e-31);
}

TEST(TrigTest, ExpAgreesWithTheRuntimeOverTheSoundsGains) {
  EXPECT_EQ(vexorin::Exp(0.0), 1.0);
  for (double x = -8.0; x <= 8.0; x += 0.000731) {
    ASSERT_NEAR(vexorin::Exp(x) / std::exp(x), 1.0, 1e-13) << x;
  }
}

}  // namespace
