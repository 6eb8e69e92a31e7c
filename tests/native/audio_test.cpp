#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "component/audio/audio.h"
#include "cli/seeded_for_tests/seeded_random.h"
#include "component/audio/voice.h"
#include "tests/shared/test_support.h"

using testing_support::Bstr;
using testing_support::Narrow;
using vexorin::AudioComponent;

namespace {

class FailingSource final : public platform::RandomSource {
 public:
  HRESULT Fill(void*, std::size_t) noexcept override { return static_cast<HRESULT>(0x80090020u); }  // NTE_FAIL
};

std::uint32_t U32(const std::vector<unsigned char>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t U16(const std::vector<unsigned char>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

std::vector<unsigned char> Bytes(const VARIANT& v) {
  EXPECT_EQ(v.vt, VT_ARRAY | VT_UI1);
  if (v.vt != (VT_ARRAY | VT_UI1)) return {};
  const platform::safearray_access<const unsigned char> access(v.parray);
  return std::vector<unsigned char>(access.begin(), access.end());
}

std::vector<std::int16_t> Samples(const std::vector<unsigned char>& wav) {
  std::vector<std::int16_t> s((wav.size() - vexorin::kWavHeaderSize) / 2);
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::int16_t>(U16(wav, vexorin::kWavHeaderSize + 2 * i));
  return s;
}

class AudioTest : public ::testing::Test {
 protected:
  void SetNumber(const std::string& digits) { ASSERT_EQ(audio.put_Number(Bstr(digits).get()), S_OK); }
  std::string Number() {
    platform::unique_bstr text;
    EXPECT_EQ(audio.get_Number(text.put()), S_OK);
    return Narrow(text.get());
  }
  std::vector<unsigned char> Wav(std::uint64_t seed) {
    vexorin::SeededRandomSource source(seed);
    vexorin::ScopedRandomSource installed(source);
    platform::unique_variant v;
    EXPECT_EQ(audio.GetAudio(v.put()), S_OK);
    return Bytes(v.get());
  }

  AudioComponent audio;
};

TEST_F(AudioTest, HeaderFieldsAreThoseOfMono16BitPcm) {
  SetNumber("482913");
  const std::vector<unsigned char> wav = Wav(7);
  ASSERT_GT(wav.size(), 44u + 16000u);  // six digits take seconds
  EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
  EXPECT_EQ(U32(wav, 4), wav.size() - 8);
  EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(U32(wav, 16), 16u);     // fmt chunk size
  EXPECT_EQ(U16(wav, 20), 1u);      // PCM
  EXPECT_EQ(U16(wav, 22), 1u);      // mono
  EXPECT_EQ(U32(wav, 24), 16000u);  // samples per second
  EXPECT_EQ(U32(wav, 28), 32000u);  // bytes per second
  EXPECT_EQ(U16(wav, 32), 2u);      // block align
  EXPECT_EQ(U16(wav, 34), 16u);     // bits per sample
  EXPECT_EQ(std::string(wav.begin() + 36, wav.begin() + 40), "data");
  EXPECT_EQ(U32(wav, 40), wav.size() - 44);
  EXPECT_EQ(wav.size() % 2, 0u);
}

// The same seed gives the same bytes on every build (the fidelity of the arithmetic), a different
// seed other bytes, and the system's generator a new sound at every call.
TEST_F(AudioTest, SeededCallsAreStableAndRealCallsDiffer) {
  SetNumber("4815162");
  const struct {
    LONG noise;
    std::uint64_t seed;
    std::uint64_t hash;
    std::size_t size;
  } cases[] = {
      {0, 1, 0x5d89d865982c85aeu, 170640},
      {3, 1, 0x3a5025209866814du, 170640},
      {4, 99, 0xea83cb05dc19bb6bu, 166900},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "noise " << c.noise << " seed " << c.seed);
    ASSERT_EQ(audio.put_Noise(c.noise), S_OK);
    const std::vector<unsigned char> once = Wav(c.seed);
    EXPECT_EQ(Wav(c.seed), once);
    EXPECT_NE(Wav(c.seed + 1), once);
    EXPECT_EQ(testing_support::Fnv1a(once.data(), once.size()), c.hash);
    EXPECT_EQ(once.size(), c.size);
  }
  platform::unique_variant a, b;
  ASSERT_EQ(audio.GetAudio(a.put()), S_OK);
  ASSERT_EQ(audio.GetAudio(b.put()), S_OK);
  EXPECT_NE(Bytes(a.get()), Bytes(b.get()));
}

// Normalised correlation of two equally long signals.
double Correlation(const std::vector<double>& a, const std::int16_t* b, std::size_t n) {
  double ab = 0, aa = 0, bb = 0;
  for (std::size_t i = 0; i < n; ++i) {
    ab += a[i] * b[i];
    aa += a[i] * a[i];
    bb += static_cast<double>(b[i]) * b[i];
  }
  return ab / std::sqrt(aa * bb);
}

// Clean speech has digital silence between the digits: cut there, stretch each piece back to each
// clip's length and see which clip it is.
TEST_F(AudioTest, CleanSpeechHoldsTheTenClipsInTheNumbersOrder) {
  for (const auto& clip : vexorin::kVoiceClips) {
    ASSERT_GT(clip.count, 2000u);
    EXPECT_EQ(clip.samples[0], 0);  // a clip that starts or ends off zero clicks
    EXPECT_EQ(clip.samples[clip.count - 1], 0);
  }
  ASSERT_EQ(audio.put_Noise(0), S_OK);
  for (const char* number : {"012345678", "987654321", "9"}) {
    for (std::uint64_t seed : {3u, 4u}) {
      SCOPED_TRACE(testing::Message() << number << " seed " << seed);
      SetNumber(number);
      const std::vector<std::int16_t> s = Samples(Wav(seed));
      struct Piece {
        std::size_t from, to;
      };
      std::vector<Piece> pieces;
      const std::size_t silence = 3200;  // 200 ms of zeros: no pause inside a digit is that long
      std::size_t i = 0;
      while (i < s.size()) {
        while (i < s.size() && s[i] == 0) ++i;
        if (i == s.size()) break;
        const std::size_t from = i;
        std::size_t zeros = 0;
        for (; i < s.size() && zeros < silence; ++i) zeros = s[i] == 0 ? zeros + 1 : 0;
        pieces.push_back({from, i - zeros});
      }
      ASSERT_EQ(pieces.size(), std::strlen(number));
      for (std::size_t k = 0; k < pieces.size(); ++k) {
        const std::size_t length = pieces[k].to - pieces[k].from;
        int best = -1;
        double bestScore = -1, second = -1;
        for (int d = 0; d < 10; ++d) {
          const auto& clip = vexorin::kVoiceClips[d];
          const double factor = static_cast<double>(length - 1) / static_cast<double>(clip.count - 1);
          std::vector<double> back = vexorin::Resample(&s[pieces[k].from], length, factor);
          back.resize(clip.count, 0.0);
          const double score = Correlation(back, clip.samples, clip.count);
          if (score > bestScore) {
            second = bestScore;
            bestScore = score;
            best = d;
          } else if (score > second) {
            second = score;
          }
        }
        EXPECT_EQ(best, number[k] - '0') << "digit " << k;
        EXPECT_GT(bestScore, 0.8) << "digit " << k;
        EXPECT_LT(second, 0.5) << "digit " << k;
        // Tempo 8 to 15 % either way (the faded ends may round to zero: a little slack).
        const double ratio = static_cast<double>(vexorin::kVoiceClips[best].count) / static_cast<double>(length);
        EXPECT_TRUE((ratio > 0.84 && ratio < 0.93) || (ratio > 1.07 && ratio < 1.18)) << "ratio " << ratio;
        if (k > 0) {
          const double gap = static_cast<double>(pieces[k].from - pieces[k - 1].to) / 16000.0;
          EXPECT_GE(gap, 0.25);
          EXPECT_LE(gap, 0.63);
        }
      }
    }
  }
}

// Each level puts the babble where the README says: the same seed with and without it gives the
// voice, and what is left over is the babble.
TEST_F(AudioTest, BabbleSitsAtTheLevelsSignalToNoiseRatio) {
  SetNumber("55020");
  ASSERT_EQ(audio.put_Noise(0), S_OK);
  const std::vector<std::int16_t> clean = Samples(Wav(11));
  double voice = 0;
  std::size_t voiced = 0;
  for (std::int16_t x : clean) {
    voice += static_cast<double>(x) * x;
    voiced += x != 0 ? 1 : 0;
  }
  for (LONG level = 1; level <= vexorin::kMaxAudioNoise; ++level) {
    SCOPED_TRACE(level);
    ASSERT_EQ(audio.put_Noise(level), S_OK);
    const std::vector<std::int16_t> noisy = Samples(Wav(11));
    ASSERT_EQ(noisy.size(), clean.size());  // the voice's draws come first and are the same
    // The mix may have been scaled down as a whole: fit the voice's share, the rest is babble.
    double xy = 0, xx = 0;
    for (std::size_t i = 0; i < clean.size(); ++i) {
      xy += static_cast<double>(clean[i]) * noisy[i];
      xx += static_cast<double>(clean[i]) * clean[i];
    }
    const double share = xy / xx;
    double babble = 0;
    for (std::size_t i = 0; i < clean.size(); ++i) {
      const double rest = noisy[i] - share * clean[i];
      babble += rest * rest;
    }
    const double snr = 10 * std::log10((share * share * voice / static_cast<double>(voiced)) /
                                       (babble / static_cast<double>(clean.size())));
    EXPECT_NEAR(snr, vexorin::AudioSnrDb(level), 1.5);
  }
}

TEST_F(AudioTest, NumberTakesOneToNineDigitsAndNothingElse) {
  SetNumber("000123");
  const struct {
    const char* what;
    std::u16string text;
  } bad[] = {
      {"empty", u""},
      {"ten digits", u"1234567890"},
      {"a letter", u"12a4"},
      {"a space", u" 123"},
      {"a sign", u"-12"},
      {"a plus", u"+12"},
      {"a point", u"1.5"},
      {"a NUL inside", std::u16string(u"12\0" u"34", 5)},
      {"full-width digits", u"\uFF11\uFF12"},
      {"Arabic-Indic digits", u"\u0661\u0662"},
      {"superscript two", u"\u00B2"},
  };
  for (const auto& c : bad) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(audio.put_Number(Bstr(c.text).get()), E_INVALIDARG);
    EXPECT_EQ(Number(), "000123");
  }
  EXPECT_EQ(audio.put_Number(nullptr), E_INVALIDARG);
  EXPECT_EQ(Number(), "000123");
  for (const char* good : {"0", "000000000", "123456789"}) {
    SetNumber(good);
    EXPECT_EQ(Number(), good);
  }
}

TEST_F(AudioTest, NoiseLevelsAndDefaults) {
  LONG noise = -1;
  EXPECT_EQ(audio.get_Noise(&noise), S_OK);
  EXPECT_EQ(noise, 2);  // the documented default: every digit above the babble
  EXPECT_EQ(Number(), "");
  for (LONG bad : {LONG{-1}, LONG{5}, LONG{0x7FFFFFFF}}) {
    EXPECT_EQ(audio.put_Noise(bad), E_INVALIDARG);
    EXPECT_EQ(audio.get_Noise(&noise), S_OK);
    EXPECT_EQ(noise, 2);
  }
  EXPECT_EQ(audio.put_Noise(0), S_OK);
  EXPECT_EQ(audio.get_Noise(&noise), S_OK);
  EXPECT_EQ(noise, 0);
  EXPECT_EQ(audio.get_Noise(nullptr), E_POINTER);
  EXPECT_EQ(audio.get_Number(nullptr), E_POINTER);
  EXPECT_EQ(audio.GetAudio(nullptr), E_POINTER);
}

TEST_F(AudioTest, NothingIsMadeWithoutANumberOrWhenTheSourceFails) {
  testing_support::TempDir dir;
  const std::string existing = dir.File("keep.wav");
  { std::ofstream(existing, std::ios::binary) << "old"; }
  platform::unique_variant v;
  EXPECT_EQ(audio.GetAudio(v.put()), E_FAIL);
  EXPECT_EQ(v.get().vt, VT_EMPTY);
  EXPECT_EQ(audio.SaveToFile(Bstr(dir.File("none.wav")).get()), E_FAIL);
  EXPECT_FALSE(testing_support::Exists(dir.File("none.wav")));

  SetNumber("12");
  FailingSource failing;
  vexorin::ScopedRandomSource installed(failing);
  EXPECT_EQ(audio.GetAudio(v.put()), static_cast<HRESULT>(0x80090020u));
  EXPECT_EQ(v.get().vt, VT_EMPTY);
  EXPECT_EQ(audio.SaveToFile(Bstr(existing).get()), static_cast<HRESULT>(0x80090020u));
  const std::vector<unsigned char> kept = testing_support::ReadAll(existing);
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "old");
}

TEST_F(AudioTest, SaveToFileWritesTheExactNameOrNothing) {
  testing_support::TempDir dir;
  SetNumber("3141");
  const std::u16string base(dir.path().begin(), dir.path().end());
  const struct {
    const char* what;
    std::u16string name;
    HRESULT expected;
    const char* created;  // UTF-8
  } cases[] = {
      {"plain", u"/a.wav", S_OK, "a.wav"},
      {"Cyrillic", u"/\u0437\u0432\u0443\u043A.wav", S_OK, "\xD0\xB7\xD0\xB2\xD1\x83\xD0\xBA.wav"},
      {"NUL inside", std::u16string(u"/b.asp\0.wav", 11), E_INVALIDARG, nullptr},
      {"unpaired surrogate", u"/c\xD800.wav", E_INVALIDARG, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(audio.SaveToFile(Bstr(base + c.name).get()), c.expected);
    const std::vector<std::string> entries = dir.Entries();
    if (c.created == nullptr) {
      EXPECT_TRUE(entries.empty());
    } else {
      ASSERT_EQ(entries.size(), 1u);
      EXPECT_EQ(entries[0], c.created);
      const auto file = std::filesystem::u8path(dir.path()) / std::filesystem::u8path(entries[0]);
      {
        std::ifstream in(file, std::ios::binary);
        const std::vector<unsigned char> wav{std::istreambuf_iterator<char>(in), {}};
        ASSERT_GT(wav.size(), 44u);
        EXPECT_EQ(U32(wav, 40), wav.size() - 44);
      }
      std::filesystem::remove(file);
    }
  }
  EXPECT_EQ(audio.SaveToFile(nullptr), E_INVALIDARG);
  EXPECT_EQ(audio.SaveToFile(Bstr(dir.File("no/such/dir.wav")).get()), E_FAIL);
}

}  // namespace
