#include <climits>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "component/component.h"
#include "test_support.h"

using testing_support::Bstr;
using testing_support::Narrow;
using vexorin::VexorinComponent;

namespace {

class ComponentStateTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::SetClockOverride(false, 0); }

  std::string NumberText() {
    platform::unique_bstr text;
    EXPECT_EQ(component.get_Number(text.put()), S_OK);
    return Narrow(text.get());
  }

  VexorinComponent component;
};

TEST(RandomTest, ClassicSequenceAfterSeedOne) {
  platform::SeedRandom(1);
  const int expected[] = {41, 18467, 6334, 26500, 19169};
  for (int e : expected) EXPECT_EQ(platform::Random(), e);
}

TEST_F(ComponentStateTest, FreshObjectHasItsDefaults) {
  const auto& s = component.State();
  EXPECT_EQ(s.Height, 30);
  EXPECT_EQ(s.Noise, 0);
  EXPECT_EQ(s.DigitCount, 8);
  EXPECT_GE(s.NumberValue, 0);
  EXPECT_LT(s.NumberValue, 100000000);
  LONG width = 0;
  EXPECT_EQ(component.GetWidth(&width), S_OK);
  EXPECT_EQ(width, 120);
  EXPECT_EQ(NumberText().size(), 8u);
}

TEST_F(ComponentStateTest, GenerateRndFollowsTheSeedAndDrawOrder) {
  // (clock milliseconds, digits asked) -> the number drawn and the digit count stored.
  struct Case {
    std::uint32_t ms;
    LONG digits;
    LONG storedDigits;
    LONG number;
  };
  const Case cases[] = {
      {0, 1, 1, 1},           {999, 2, 2, 0},           {500, 6, 6, 787671},
      {123, 8, 8, 60616841},  {77, 9, 9, 647989597},    {4294967295u, 12, 9, 137137375},
      {3, -4, -4, 1},         {290, 6, 6, 788},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "ms " << c.ms << " digits " << c.digits);
    platform::SetClockOverride(true, c.ms);
    LONG number = -1;
    ASSERT_EQ(component.GenerateRnd(c.digits, &number), S_OK);
    EXPECT_EQ(number, c.number);
    EXPECT_EQ(component.State().DigitCount, c.storedDigits);
    EXPECT_EQ(component.State().NumberValue, number);
  }
}

TEST_F(ComponentStateTest, GenerateRndRefusesNullThenZero) {
  const auto before = component.State();
  EXPECT_EQ(component.GenerateRnd(0, nullptr), E_POINTER);  // the null test comes first
  LONG number = 12345;
  EXPECT_EQ(component.GenerateRnd(0, &number), E_INVALIDARG);
  EXPECT_EQ(number, 12345);
  EXPECT_EQ(component.State().DigitCount, before.DigitCount);
  EXPECT_EQ(component.State().NumberValue, before.NumberValue);
}

TEST_F(ComponentStateTest, GenerateRndStaysInRangeForEveryDigitCount) {
  for (LONG digits = 1; digits <= 12; ++digits) {
    long long limit = 1;
    for (LONG i = 0; i < (digits > 9 ? 9 : digits); ++i) limit *= 10;
    for (std::uint32_t ms = 0; ms < 1000; ms += 37) {
      platform::SetClockOverride(true, ms);
      LONG number = -1;
      ASSERT_EQ(component.GenerateRnd(digits, &number), S_OK);
      ASSERT_GE(number, 0);
      ASSERT_LT(number, limit);
      ASSERT_EQ(NumberText().size(), static_cast<std::size_t>(digits > 9 ? 9 : digits));
    }
  }
}

TEST_F(ComponentStateTest, NumberPutParsesAndPads) {
  struct Case {
    std::u16string text;
    HRESULT result;
    LONG digits;
    LONG value;
    const char* reads;
  };
  const Case cases[] = {
      {u"42", S_OK, 2, 42, "42"},
      {u"000042", S_OK, 6, 42, "000042"},
      {u"  42", S_OK, 4, 42, "0042"},
      {u"12345678901", S_OK, 9, 123456789, "123456789"},
      {u"7", S_OK, 1, 7, "7"},
      {u"12ab", S_OK, 4, 12, "0012"},
      {u"-42", S_OK, 3, -42, "-042"},
      {u"abc", E_INVALIDARG, 3, 0, "000"},
      {u"0000", E_INVALIDARG, 4, 0, "0000"},
      {std::u16string(u"5\0" u"99", 4), S_OK, 4, 5, "0005"},  // conversion stops at the NUL
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(Bstr(c.text).get()));
    auto text = Bstr(c.text);
    EXPECT_EQ(component.put_Number(text.get()), c.result);
    EXPECT_EQ(component.State().DigitCount, c.digits);
    EXPECT_EQ(component.State().NumberValue, c.value);
    EXPECT_EQ(NumberText(), c.reads);
  }
}

TEST_F(ComponentStateTest, NumberPutRefusesEmptyAndNullWithoutChange) {
  auto known = Bstr(std::string("4711"));
  ASSERT_EQ(component.put_Number(known.get()), S_OK);
  auto empty = Bstr(std::u16string());
  EXPECT_EQ(component.put_Number(empty.get()), E_INVALIDARG);
  EXPECT_EQ(component.put_Number(nullptr), E_INVALIDARG);
  EXPECT_EQ(component.State().DigitCount, 4);
  EXPECT_EQ(component.State().NumberValue, 4711);
}

TEST_F(ComponentStateTest, NumberAfterGenerateRndIsZeroPadded) {
  platform::SetClockOverride(true, 290);  // this reading draws 788 of six digits
  LONG number = 0;
  ASSERT_EQ(component.GenerateRnd(6, &number), S_OK);
  EXPECT_EQ(number, 788);
  EXPECT_EQ(NumberText(), "000788");
}

TEST_F(ComponentStateTest, NumberWithNoDigitCountReadsPlainDecimal) {
  platform::SetClockOverride(true, 10);
  LONG number = 0;
  ASSERT_EQ(component.GenerateRnd(-3, &number), S_OK);
  EXPECT_EQ(component.State().DigitCount, -3);
  EXPECT_EQ(NumberText(), std::to_string(number));
}

TEST_F(ComponentStateTest, HeightAndNoiseProperties) {
  const std::pair<LONG, LONG> heights[] = {{5, 20}, {20, 20}, {21, 21}, {500, 500}, {-1, 20},
                                           {INT32_MIN, 20}, {INT32_MAX, INT32_MAX}};
  for (auto [put, stored] : heights) {
    EXPECT_EQ(component.put_Height(put), S_OK);
    LONG got = 0;
    EXPECT_EQ(component.get_Height(&got), S_OK);
    EXPECT_EQ(got, stored) << "put " << put;
  }
  for (LONG noise : {-1, 0, 1, 77}) {
    EXPECT_EQ(component.put_Noise(noise), S_OK);
    LONG got = 12;
    EXPECT_EQ(component.get_Noise(&got), S_OK);
    EXPECT_EQ(got, noise);
  }
}

TEST_F(ComponentStateTest, GettersRefuseNullOutPointers) {
  EXPECT_EQ(component.get_Number(nullptr), E_POINTER);
  EXPECT_EQ(component.get_Height(nullptr), E_POINTER);
  EXPECT_EQ(component.get_Noise(nullptr), E_POINTER);
  EXPECT_EQ(component.GetWidth(nullptr), E_POINTER);
}

TEST_F(ComponentStateTest, WidthIsDigitsTimesHeightOverTwoWithoutOverflow) {
  struct Case {
    const char* number;
    LONG height;
    LONG width;
  };
  const Case cases[] = {{"12345678", 30, 120}, {"1", 21, 10}, {"123456789", 200, 900},
                        {"123456789", INT32_MAX, INT32_MAX}};
  for (const Case& c : cases) {
    auto text = Bstr(std::string(c.number));
    ASSERT_EQ(component.put_Number(text.get()), S_OK);
    component.put_Height(c.height);
    LONG width = 0;
    EXPECT_EQ(component.GetWidth(&width), S_OK);
    EXPECT_EQ(width, c.width) << c.number << " at " << c.height;
  }
  platform::SetClockOverride(true, 1);
  LONG number = 0;
  component.put_Height(30);
  ASSERT_EQ(component.GenerateRnd(-3, &number), S_OK);
  LONG width = 0;
  EXPECT_EQ(component.GetWidth(&width), S_OK);
  EXPECT_EQ(width, -45);
}

}  // namespace
