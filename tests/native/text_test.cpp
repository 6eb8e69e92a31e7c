#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/text.h"

namespace {

struct Utf16Case {
  const char* what;
  std::u16string text;
  bool wellFormed;
  std::string utf8;  // when well-formed
};

const std::vector<Utf16Case>& Utf16Cases() {
  static const std::vector<Utf16Case> cases = {
      {"empty", u"", true, ""},
      {"ASCII", u"Az09", true, "Az09"},
      {"two bytes", u"\u00E9", true, "\xC3\xA9"},
      {"three bytes", u"\u20AC\uFFFF", true, "\xE2\x82\xAC\xEF\xBF\xBF"},
      {"a pair: four bytes", u"\xD83D\xDE00", true, "\xF0\x9F\x98\x80"},
      {"the last code point", u"\xDBFF\xDFFF", true, "\xF4\x8F\xBF\xBF"},
      {"a NUL inside is text", std::u16string(u"a\0b", 3), true, std::string("a\0b", 3)},
      {"lone high surrogate", u"a\xD800" u"b", false, ""},
      {"lone low surrogate", u"\xDC00", false, ""},
      {"high surrogate last", u"ok\xD83D", false, ""},
      {"pair in the wrong order", u"\xDE00\xD83D", false, ""},
      {"two highs", u"\xD83D\xD83D\xDE00", false, ""},
  };
  return cases;
}

TEST(Utf16ToUtf8, ConvertsWellFormedTextAndRefusesUnpairedSurrogates) {
  for (const Utf16Case& c : Utf16Cases()) {
    SCOPED_TRACE(c.what);
    const auto* text = reinterpret_cast<const OLECHAR*>(c.text.data());
    EXPECT_EQ(platform::IsWellFormedUtf16(text, c.text.size()), c.wellFormed);
    std::string out = "garbage";
    EXPECT_EQ(platform::Utf8FromUtf16(text, c.text.size(), out), c.wellFormed);
    EXPECT_EQ(out, c.utf8);
    if (c.wellFormed) {
      EXPECT_TRUE(platform::IsWellFormedUtf8(c.utf8.data(), c.utf8.size()));
      EXPECT_EQ(platform::Utf16FromUtf8(c.utf8.data(), c.utf8.size()), c.text);
    }
  }
}

TEST(Utf16ToUtf8, CountsWhatStandsForEachUnpairedSurrogate) {
  const std::u16string text = u"\xDC00" u"a\xD83D\xDE00\xD800";
  std::string out = ">";
  EXPECT_EQ(platform::AppendUtf8(reinterpret_cast<const OLECHAR*>(text.data()), text.size(), '#', out), 2u);
  EXPECT_EQ(out, ">#a\xF0\x9F\x98\x80#");
}

TEST(Utf8ToUtf16, ReplacesEachByteThatStartsNoWellFormedSequence) {
  const struct {
    const char* what;
    std::string utf8;
    std::u16string expected;
  } cases[] = {
      {"cut short", "a\xC3", u"a\uFFFD"},
      {"a stray trail byte", "a\x80" "b", u"a\uFFFDb"},
      {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"overlong three bytes", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
      {"an encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"no lead byte at all", "\xFF" "x", u"\uFFFDx"},
      {"a lead byte before a new sequence", "\xE2\x82" "\xC3\xA9", u"\uFFFD\uFFFD\u00E9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(platform::IsWellFormedUtf8(c.utf8.data(), c.utf8.size()));
    EXPECT_EQ(platform::Utf16FromUtf8(c.utf8.data(), c.utf8.size()), c.expected);
  }
}

TEST(Utf8ToUtf16, BstrHoldsTheWholeText) {
  const std::string text("x\0\xF0\x9F\x98\x80", 6);
  platform::unique_bstr bstr(platform::BstrFromUtf8(text));
  ASSERT_EQ(SysStringLen(bstr.get()), 4u);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(bstr.get()), 4), std::u16string(u"x\0\xD83D\xDE00", 4));
}

#ifndef _WIN32
// This build's code-page calls are the same conversion, with the Windows rules around it.
TEST(NativeCodePage, WideToMultiReplacesUnpairedSurrogatesAndSaysSo) {
  for (const Utf16Case& c : Utf16Cases()) {
    if (c.text.empty() || c.text.find(u'\0') != std::u16string::npos) continue;
    SCOPED_TRACE(c.what);
    const int length = static_cast<int>(c.text.size());
    char out[32] = {};
    BOOL usedDefault = -1;
    const int written = WideCharToMultiByte(CP_UTF8, 0, c.text.data(), length, out, sizeof out, nullptr, &usedDefault);
    EXPECT_EQ(usedDefault, c.wellFormed ? 0 : 1);
    const std::string narrow(out, static_cast<std::size_t>(written));
    if (c.wellFormed) {
      EXPECT_EQ(narrow, c.utf8);
    } else {
      EXPECT_NE(narrow.find('?'), std::string::npos) << narrow;
    }
  }
}

TEST(NativeCodePage, MultiToWideGoesBackIncludingTheTerminator) {
  char16_t out[8] = {};
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xC3\xA9\xFF", -1, out, 8), 3);
  EXPECT_EQ(std::u16string(out, 3), std::u16string(u"\u00E9\uFFFD\0", 3));
}
#endif

}  // namespace
