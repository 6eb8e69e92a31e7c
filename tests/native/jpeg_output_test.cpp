#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>
#include <jpeglib.h>

#include "component/picture/component.h"
#include "component/picture/jpeg_output.h"
#include "component/picture/picture_random.h"
#include "tests/shared/reference_jpeg.h"
#include "tests/shared/test_support.h"

using testing_support::Bstr;
using testing_support::Exists;
using testing_support::ReadAll;
using testing_support::ReferenceRandom;
using testing_support::TempDir;
using vexorin::PictureComponent;

namespace {

using Bytes = std::vector<unsigned char>;

void Append(Bytes& out, std::initializer_list<int> bytes) {
  for (int b : bytes) out.push_back(static_cast<unsigned char>(b));
}

void AppendHuffman(Bytes& out, int classAndId, const Bytes& bits, const Bytes& values) {
  const int length = 2 + 1 + 16 + static_cast<int>(values.size());
  Append(out, {0xFF, 0xC4, length >> 8, length & 0xFF, classAndId});
  out.insert(out.end(), bits.begin(), bits.end());
  out.insert(out.end(), values.begin(), values.end());
}

// The fixed first 623 bytes of every file, from the standard tables of ITU-T T.81 Annex K.
Bytes ExpectedHeader(int width, int height) {
  Bytes h;
  Append(h, {0xFF, 0xD8});
  Append(h, {0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
  for (int table = 0; table < 2; ++table) {
    Append(h, {0xFF, 0xDB, 0, 67, table});
    h.insert(h.end(), 64, 1);
  }
  Append(h, {0xFF, 0xC0, 0, 17, 8, height >> 8, height & 0xFF, width >> 8, width & 0xFF, 3,
             1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1});
  const Bytes dcBitsY = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
  const Bytes dcBitsC = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
  const Bytes dcValues = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  const Bytes acBitsY = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
  const Bytes acValuesY = {
      0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
      0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
      0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
      0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
      0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
      0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
      0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
      0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
      0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
      0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
      0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
  const Bytes acBitsC = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
  const Bytes acValuesC = {
      0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
      0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33,
      0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18,
      0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44,
      0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63,
      0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
      0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
      0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
      0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
      0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7,
      0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
  AppendHuffman(h, 0x00, dcBitsY, dcValues);
  AppendHuffman(h, 0x10, acBitsY, acValuesY);
  AppendHuffman(h, 0x01, dcBitsC, dcValues);
  AppendHuffman(h, 0x11, acBitsC, acValuesC);
  Append(h, {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0});
  return h;
}

using reference_jpeg::Decoded;

bool Decode(const Bytes& file, Decoded& out) { return reference_jpeg::Decode(file.data(), file.size(), out); }

class JpegOutputTest : public ::testing::Test {
 protected:
  void SetState(const char* number, LONG height, LONG noise) {
    ASSERT_TRUE(SUCCEEDED(testing_support::SetState(component, number, height, noise)));
  }
  HRESULT Save(const std::string& path) { return component.SaveToFile(Bstr(path).get()); }
  Bytes Canvas(unsigned int seed) {
    vexorin::PictureSize size;
    EXPECT_EQ(component.MeasurePicture(size), S_OK);
    Bytes canvas(size.bytes);
    vexorin::SeedRandom(seed);
    EXPECT_EQ(component.RenderImage(canvas.data(), size), S_OK);
    return canvas;
  }

  TempDir dir;
  PictureComponent component;
};

TEST_F(JpegOutputTest, MarkerLayoutIsFixedUpToTheEntropyCodedData) {
  const struct {
    const char* number;
    LONG height;
    int width;
  } cases[] = {{"12345678", 30, 120}, {"1", 20, 10}, {"123456789", 200, 900}, {"4711", 57, 114}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    SetState(c.number, c.height, 0);
    const std::string path = dir.File("layout.jpg");
    ASSERT_EQ(Save(path), S_OK);
    const Bytes file = ReadAll(path);
    const Bytes header = ExpectedHeader(c.width, c.height);
    ASSERT_EQ(header.size(), 623u);
    ASSERT_GT(file.size(), 625u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 623), header);
    EXPECT_EQ(file[file.size() - 2], 0xFF);
    EXPECT_EQ(file[file.size() - 1], 0xD9);
  }
}

TEST_F(JpegOutputTest, DecodedPictureIsTheCanvas) {
  for (LONG noise : {0, 1}) {
    SetState("90817263", 57, noise);
    const Bytes canvas = Canvas(31337);
    const std::string path = dir.File("decode.jpg");
    vexorin::SeedRandom(31337);
    ASSERT_EQ(Save(path), S_OK);
    Decoded d;
    ASSERT_TRUE(Decode(ReadAll(path), d));
    ASSERT_EQ(d.width, 228);
    ASSERT_EQ(d.height, 57);
    int worst = 0;
    for (std::size_t i = 0; i < canvas.size(); ++i) {
      worst = std::max(worst, std::abs(int(d.ycc[3 * i]) - int(canvas[i])));
      ASSERT_EQ(d.ycc[3 * i + 1], 128) << i;
      ASSERT_EQ(d.ycc[3 * i + 2], 128) << i;
    }
    EXPECT_LE(worst, 2) << "noise " << noise;
  }
}

TEST_F(JpegOutputTest, SameSeedSameFileAndSavingAgainReplacesIt) {
  SetState("55501234", 30, 1);
  const std::string a = dir.File("a.jpg");
  const std::string b = dir.File("b.jpg");
  vexorin::SeedRandom(7);
  ASSERT_EQ(Save(a), S_OK);
  vexorin::SeedRandom(7);
  ASSERT_EQ(Save(b), S_OK);
  EXPECT_EQ(ReadAll(a), ReadAll(b));
  vexorin::SeedRandom(8);
  ASSERT_EQ(Save(b), S_OK);  // same number, other jitter, same name
  EXPECT_NE(ReadAll(a), ReadAll(b));
  EXPECT_EQ(dir.Entries().size(), 2u);
}

TEST_F(JpegOutputTest, NamesAreTakenExactlyOrRefused) {
  SetState("12345678", 30, 0);
  const std::string d = dir.path() + "/";
  const std::u16string base(d.begin(), d.end());
  const struct {
    const char* what;
    std::u16string name;  // after the directory
    HRESULT expected;
    const char* created;  // the UTF-8 name that must then exist, or null for nothing at all
  } cases[] = {
      {"NUL inside", std::u16string(u"evil.asp\0.jpg", 13), E_INVALIDARG, nullptr},
      {"NUL first", std::u16string(u"\0x.jpg", 6), E_INVALIDARG, nullptr},
      {"lone high surrogate", u"a\xD800" u"b.jpg", E_INVALIDARG, nullptr},
      {"lone low surrogate", u"a\xDC00.jpg", E_INVALIDARG, nullptr},
      {"high surrogate last", u"a.jpg\xD83D", E_INVALIDARG, nullptr},
      {"full-width letters", u"\xFF52\xFF45\xFF50.jpg", S_OK, "\xEF\xBD\x92\xEF\xBD\x85\xEF\xBD\x90.jpg"},
      {"CJK", u"\x56FE\x7247.jpg", S_OK, "\xE5\x9B\xBE\xE7\x89\x87.jpg"},
      {"Cyrillic", u"\x0444\x043E\x0442\x043E.jpg", S_OK, "\xD1\x84\xD0\xBE\xD1\x82\xD0\xBE.jpg"},
      {"emoji (a surrogate pair)", u"\xD83D\xDE00.jpg", S_OK, "\xF0\x9F\x98\x80.jpg"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    vexorin::SeedRandom(5);
    EXPECT_EQ(component.SaveToFile(testing_support::Bstr(base + c.name).get()), c.expected);
    if (c.created == nullptr) {
      EXPECT_TRUE(dir.Entries().empty());
      EXPECT_EQ(vexorin::Random(), ReferenceRandom(5).Next()) << "a refused name drew a picture";
    } else {
      EXPECT_EQ(dir.Entries(), std::vector<std::string>{c.created});
      const auto file = std::filesystem::u8path(d + c.created);
      std::error_code ec;
      EXPECT_GT(std::filesystem::file_size(file, ec), 623u);
      std::filesystem::remove(file, ec);
    }
  }
}

TEST_F(JpegOutputTest, RefusalsLeaveTheFileSystemAlone) {
  EXPECT_EQ(component.SaveToFile(nullptr), E_INVALIDARG);
  EXPECT_EQ(component.SaveToFile(testing_support::Bstr(std::u16string()).get()), E_INVALIDARG);

  SetState("-7", 30, 0);  // a negative number cannot be drawn
  EXPECT_EQ(Save(dir.File("neg.jpg")), E_FAIL);
  SetState("7", INT32_MAX, 0);  // far too large to allocate
  EXPECT_EQ(Save(dir.File("huge.jpg")), E_FAIL);
  LONG n = 0;
  component.GenerateRnd(-2, &n);
  EXPECT_EQ(Save(dir.File("negwidth.jpg")), E_FAIL);
  EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(JpegOutputTest, UnopenablePathFailsAfterRenderingAndCreatesNothing) {
  SetState("12345678", 30, 0);
  vexorin::SeedRandom(5);
  EXPECT_EQ(Save(dir.File("missing/x.jpg")), E_FAIL);
  ReferenceRandom r(5);
  for (int i = 0; i < 16; ++i) r.Next();  // two draws per digit were taken
  EXPECT_EQ(vexorin::Random(), r.Next());
  EXPECT_TRUE(dir.Entries().empty());

  EXPECT_EQ(Save(dir.path()), E_FAIL);  // a directory cannot be opened as a file
}

TEST_F(JpegOutputTest, WriteErrorIsAFailure) {
  if (!Exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  SetState("12345678", 30, 0);
  EXPECT_EQ(Save("/dev/full"), E_FAIL);
  SetState("123456789", 400, 1);  // larger than the library's output buffer
  EXPECT_EQ(Save("/dev/full"), E_FAIL);
}

TEST_F(JpegOutputTest, LibraryLimitLeavesAnExistingFileAsItWas) {
  // 9 digits at height 14556 are 65502 pixels wide, past the library's 65500: refused while
  // encoding, before the file is opened.
  SetState("123456789", 14556, 0);
  const std::string path = dir.File("wide.jpg");
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fputs("OLD", f);
    std::fclose(f);
  }
  const HRESULT hr = Save(path);
  // A 32-bit process may not find 953 MB for the canvas.
  if (!(sizeof(void*) == 4 && hr == E_POINTER)) {
    EXPECT_EQ(hr, E_FAIL);
  }
  EXPECT_EQ(ReadAll(path), (Bytes{'O', 'L', 'D'}));
}

Bytes ReferenceEncode(const Bytes& canvas, int width, int height) {
  return reference_jpeg::EncodeToBytes(canvas.data(), width, height);
}

TEST(EncodeJpegTest, SameBytesAsTheColourRoute) {
  // Sides that are and are not multiples of 8 and 16, from one pixel to past a thousand.
  const struct {
    int width;
    int height;
  } sizes[] = {{1, 1},   {7, 20},  {8, 8},     {15, 9},   {16, 16},  {17, 17}, {24, 40},
               {33, 1},  {120, 30}, {121, 31}, {250, 57}, {900, 200}, {1000, 33}};
  std::mt19937 random(12345);
  int compared = 0;
  for (const auto& z : sizes) {
    for (int kind = 0; kind < 3; ++kind) {
      SCOPED_TRACE(testing::Message() << z.width << "x" << z.height << " kind " << kind);
      Bytes canvas(static_cast<std::size_t>(z.width) * static_cast<std::size_t>(z.height), 255);
      if (kind == 1) {  // noise everywhere: every coefficient and the edge padding matter
        for (auto& b : canvas) b = static_cast<unsigned char>(random());
      } else if (kind == 2) {  // a vertical ramp with a hard last column and row
        for (int y = 0; y < z.height; ++y) {
          for (int x = 0; x < z.width; ++x) {
            canvas[static_cast<std::size_t>(y) * static_cast<std::size_t>(z.width) + static_cast<std::size_t>(x)] =
                static_cast<unsigned char>(x == z.width - 1 || y == z.height - 1 ? 0 : (x * 7 + y * 3) & 0xFF);
          }
        }
      }
      vexorin::JpegBytes jpeg;
      ASSERT_EQ(vexorin::EncodeJpeg(canvas.data(), z.width, z.height, 100, jpeg), S_OK);
      const Bytes ours(jpeg.data.get(), jpeg.data.get() + jpeg.size);
      EXPECT_EQ(ours, ReferenceEncode(canvas, z.width, z.height));
      ++compared;
    }
  }
  // The component's own pictures, noise off and on.
  PictureComponent component;
  for (const char* number : {"12345678", "987654321", "7"}) {
    for (LONG height : {20, 30, 57, 200}) {
      for (LONG noise : {0, 1}) {
        SCOPED_TRACE(testing::Message() << number << " h" << height << " noise " << noise);
        component.put_Number(Bstr(std::string(number)).get());
        component.put_Height(height);
        component.put_Noise(noise);
        vexorin::Canvas canvas;
        ASSERT_EQ(component.Render(canvas), S_OK);
        vexorin::JpegBytes jpeg;
        ASSERT_EQ(vexorin::EncodeJpeg(canvas.pixels.get(), canvas.size.width, height, 100, jpeg), S_OK);
        const Bytes pixels(canvas.pixels.get(), canvas.pixels.get() + canvas.size.bytes);
        EXPECT_EQ(Bytes(jpeg.data.get(), jpeg.data.get() + jpeg.size), ReferenceEncode(pixels, canvas.size.width, height));
        ++compared;
      }
    }
  }
  std::printf("[   info   ] %d pictures compared with the colour route\n", compared);
}

#ifndef _WIN32
TEST(EncodeJpegTest, TheLibraryPrintsNothingOnTheHostsStandardError) {
  TempDir dir;
  const std::string captured = dir.File("stderr");
  std::fflush(stderr);
  const int saved = dup(2);
  const int file = open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(file, 0);
  dup2(file, 2);
  close(file);
  const std::vector<BYTE> row(70000, 255);  // wider than the library's 65500: it gives up
  vexorin::JpegBytes jpeg;
  const HRESULT hr = vexorin::EncodeJpeg(row.data(), 70000, 1, 100, jpeg);
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  EXPECT_EQ(hr, E_FAIL);
  EXPECT_TRUE(ReadAll(captured).empty()) << "the library wrote to standard error";
}
#endif

TEST(EncodeJpegTest, RefusesMissingInput) {
  const BYTE pixel[4] = {0, 0, 0, 0};
  vexorin::JpegBytes jpeg;
  EXPECT_EQ(vexorin::EncodeJpeg(nullptr, 2, 2, 100, jpeg), E_FAIL);
  EXPECT_EQ(vexorin::EncodeJpeg(pixel, 0, 2, 100, jpeg), E_FAIL);
  EXPECT_EQ(vexorin::EncodeJpeg(pixel, 2, -1, 100, jpeg), E_FAIL);
  EXPECT_EQ(jpeg.size, 0u);
  ASSERT_EQ(vexorin::EncodeJpeg(pixel, 2, 2, 100, jpeg), S_OK);
  EXPECT_GT(jpeg.size, 623u);
  EXPECT_EQ(jpeg.data.get()[0], 0xFF);
  EXPECT_EQ(jpeg.data.get()[jpeg.size - 1], 0xD9);
}

}  // namespace
