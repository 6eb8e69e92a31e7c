#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "component/picture/component.h"
#include "component/picture/picture_random.h"
#include "cli/seeded_for_tests/seeded_random.h"
#include "platform/errors.h"
#include "tests/shared/test_support.h"

using testing_support::Bstr;
using testing_support::Narrow;
using vexorin::PictureComponent;

namespace {

// Gives the listed words in turn (little-endian), then fails with `failure`.
class ScriptedSource final : public platform::RandomSource {
 public:
  explicit ScriptedSource(std::vector<std::uint32_t> words, HRESULT failure = E_UNEXPECTED)
      : words_(std::move(words)), failure_(failure) {}
  HRESULT Fill(void* out, std::size_t size) noexcept override {
    if (size != 4 || next_ == words_.size()) return failure_;
    const std::uint32_t w = words_[next_++];
    const unsigned char bytes[4] = {static_cast<unsigned char>(w), static_cast<unsigned char>(w >> 8),
                                    static_cast<unsigned char>(w >> 16), static_cast<unsigned char>(w >> 24)};
    std::memcpy(out, bytes, 4);
    return S_OK;
  }
  bool Exhausted() const { return next_ == words_.size(); }

 private:
  std::vector<std::uint32_t> words_;
  std::size_t next_ = 0;
  HRESULT failure_;
};

class ComponentStateTest : public ::testing::Test {
 protected:
  std::string NumberText() {
    platform::unique_bstr text;
    EXPECT_EQ(component.get_Number(text.put()), S_OK);
    return Narrow(text.get());
  }

  PictureComponent component;
};

TEST(RandomTest, ClassicSequenceAfterSeedOne) {
  vexorin::SeedRandom(1);
  const int expected[] = {41, 18467, 6334, 26500, 19169};
  for (int e : expected) EXPECT_EQ(vexorin::Random(), e);
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

TEST_F(ComponentStateTest, GenerateRndDrawsTheNumberThenThePictureSeedFromTheSource) {
  // (words the source gives, digits asked) -> the number and digit count stored; the word after
  // the number's seeds the picture's generator. Words at or above the largest multiple of the
  // modulus below 2^32 are refused and drawn again, so that every number is equally likely.
  struct Case {
    std::vector<std::uint32_t> words;
    LONG digits;
    LONG storedDigits;
    LONG number;
  };
  const Case cases[] = {
      {{7, 99}, 1, 1, 7},
      {{4294967295u, 4294967290u, 1234, 5}, 1, 1, 4},     // 2^32 - 6 and up are refused for 10
      {{4294967289u, 5}, 1, 1, 9},                         // the largest word taken for 10
      {{4200000000u, 123456789, 5}, 8, 8, 23456789},      // 4.2e9 = 42 x 10^8: refused
      {{4199999999u, 5}, 8, 8, 99999999},
      {{4000000000u, 4294967295u, 3999999999u, 77}, 9, 9, 999999999},  // 4e9 = 4 x 10^9: refused
      {{788, 0}, 6, 6, 788},
      {{987654321, 1}, 12, 9, 987654321},                  // more than 9 digits: 9
      {{13, 2}, -4, -4, 3},                                // a negative count is stored, modulus 10
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "digits " << c.digits << " first word " << c.words.front());
    ScriptedSource source(c.words);
    vexorin::ScopedRandomSource installed(source);
    LONG number = -1;
    ASSERT_EQ(component.GenerateRnd(c.digits, &number), S_OK);
    EXPECT_EQ(number, c.number);
    EXPECT_EQ(component.State().DigitCount, c.storedDigits);
    EXPECT_EQ(component.State().NumberValue, number);
    EXPECT_TRUE(source.Exhausted()) << "the number and then exactly one picture seed";
    const int drawn[] = {vexorin::Random(), vexorin::Random(), vexorin::Random()};
    vexorin::SeedRandom(c.words.back());
    for (int d : drawn) EXPECT_EQ(d, vexorin::Random()) << "the picture's generator seeded with the last word";
  }
}

TEST_F(ComponentStateTest, AFailingSourceChangesNothing) {
  const HRESULT failure = static_cast<HRESULT>(0xC0000001u | 0x10000000u);  // an NTSTATUS as HRESULT
  auto known = Bstr(std::string("4711"));
  ASSERT_EQ(component.put_Number(known.get()), S_OK);
  // Failing at the number, at the picture's seed, and after 64 refused words in a row.
  const std::vector<std::uint32_t> scripts[] = {{}, {12}, std::vector<std::uint32_t>(64, 0xFFFFFFFFu)};
  for (const auto& words : scripts) {
    SCOPED_TRACE(::testing::Message() << words.size() << " words before the failure");
    ScriptedSource source(words, failure);
    vexorin::ScopedRandomSource installed(source);
    vexorin::SeedRandom(99);
    LONG number = 12345;
    const HRESULT hr = component.GenerateRnd(8, &number);
    EXPECT_EQ(hr, words.size() == 64 ? E_FAIL : failure);
    EXPECT_EQ(number, 12345);
    EXPECT_EQ(component.State().DigitCount, 4);
    EXPECT_EQ(component.State().NumberValue, 4711);
    EXPECT_EQ(vexorin::Random(), static_cast<int>((99u * 214013u + 2531011u) >> 16 & 0x7FFF)) << "the picture's generator untouched";
  }
}

TEST(ComponentCreationTest, FailsWhenTheSourceFails) {
  const HRESULT failure = static_cast<HRESULT>(0xD0000001u);
  ScriptedSource source({}, failure);
  vexorin::ScopedRandomSource installed(source);
  HRESULT caught = S_OK;
  try {
    PictureComponent c;
    ADD_FAILURE() << "created with number " << c.State().NumberValue;
  } catch (const CAtlException& e) {
    caught = e.m_hr;
  }
  EXPECT_EQ(caught, failure);
}

TEST_F(ComponentStateTest, TheSystemGeneratorGivesDistinctAndEvenNumbers) {
  std::set<LONG> seen;
  for (int i = 0; i < 1000; ++i) {
    LONG number = -1;
    ASSERT_EQ(component.GenerateRnd(8, &number), S_OK);
    seen.insert(number);
  }
  EXPECT_GE(seen.size(), 995u) << "1000 calls in a tight loop";
  std::printf("[   info   ] %zu distinct numbers in 1000 tight GenerateRnd(8) calls\n", seen.size());

  // One digit over 100,000 draws: chi-square with 9 degrees of freedom, p = 10^-6.
  constexpr int kDraws = 100000;
  int counts[10] = {};
  for (int i = 0; i < kDraws; ++i) {
    LONG number = -1;
    ASSERT_EQ(component.GenerateRnd(1, &number), S_OK);
    ASSERT_GE(number, 0);
    ASSERT_LE(number, 9);
    ++counts[number];
  }
  double chiSquare = 0;
  for (int count : counts) {
    const double expected = kDraws / 10.0;
    chiSquare += (count - expected) * (count - expected) / expected;
  }
  EXPECT_LT(chiSquare, 44.81);
  std::printf("[   info   ] one digit over %d draws: chi-square %.2f (9 degrees of freedom; 44.81 is p = 1e-6)\n", kDraws,
              chiSquare);
}

TEST_F(ComponentStateTest, GenerateRndStaysInRangeForEveryDigitCount) {
  vexorin::SeededRandomSource source(2718);
  vexorin::ScopedRandomSource installed(source);
  for (LONG digits = 1; digits <= 12; ++digits) {
    long long limit = 1;
    for (LONG i = 0; i < (digits > 9 ? 9 : digits); ++i) limit *= 10;
    for (int draw = 0; draw < 30; ++draw) {
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
  ScriptedSource source({788, 0});
  vexorin::ScopedRandomSource installed(source);
  LONG number = 0;
  ASSERT_EQ(component.GenerateRnd(6, &number), S_OK);
  EXPECT_EQ(number, 788);
  EXPECT_EQ(NumberText(), "000788");
}

TEST_F(ComponentStateTest, NumberWithNoDigitCountReadsPlainDecimal) {
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
  LONG number = 0;
  component.put_Height(30);
  ASSERT_EQ(component.GenerateRnd(-3, &number), S_OK);
  LONG width = 0;
  EXPECT_EQ(component.GetWidth(&width), S_OK);
  EXPECT_EQ(width, -45);
}

}  // namespace
