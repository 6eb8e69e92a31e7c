#include <atomic>
#include <memory>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "component/picture/component.h"
#include "component/picture/picture_random.h"
#include "platform/file_calls.h"
#include "tests/shared/safearray_queries.h"
#include "tests/shared/test_support.h"

using testing_support::Bstr;
using testing_support::Narrow;
using testing_support::ReadAll;
using testing_support::TempDir;
using vexorin::PictureComponent;

// Allocation failure on demand: when armed, the n-th allocation through operator new fails.
namespace {
std::atomic<long> allocationsBeforeFailure{-1};
}  // namespace

void* operator new(std::size_t n) {
  long left = allocationsBeforeFailure.load();
  while (left >= 0) {
    if (left == 0) throw std::bad_alloc();
    if (allocationsBeforeFailure.compare_exchange_weak(left, left - 1)) break;
  }
  void* p = std::malloc(n > 0 ? n : 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
// The array and nothrow forms too: the sanitizer's runtime would serve them itself, unarmed.
void* operator new[](std::size_t n) { return ::operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(n);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept { return ::operator new(n, tag); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using Bytes = std::vector<unsigned char>;

// The caller's side of an [out] VARIANT: what it held is given back before its address is handed out.
VARIANT* Emptied(VARIANT& v) {
  VariantClear(&v);
  return &v;
}

Bytes ArrayBytes(const VARIANT& v) {
  EXPECT_EQ(v.vt, VT_ARRAY | VT_UI1);
  EXPECT_EQ(SafeArrayGetDim(v.parray), 1u);
  LONG lower = -1, upper = -2;
  SafeArrayGetLBound(v.parray, 1, &lower);
  SafeArrayGetUBound(v.parray, 1, &upper);
  EXPECT_EQ(lower, 0);
  void* data = nullptr;
  SafeArrayAccessData(v.parray, &data);
  Bytes out(static_cast<const unsigned char*>(data), static_cast<const unsigned char*>(data) + (upper + 1));
  SafeArrayUnaccessData(v.parray);
  return out;
}

// Every test runs with a private directory as TMP: a file GetImage left there would be counted.
class ImageBytesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tmp.reset(new testing_support::ScopedEnv("TMP", tempDir.path()));
    VariantInit(&image);
    descriptors = testing_support::OpenFileHandles();
  }
  void TearDown() override {
    VariantClear(&image);
    tmp.reset();
    platform::SetFileCalls(nullptr);
    EXPECT_EQ(testing_support::OpenFileHandles(), descriptors) << "a handle was left open";
  }
  void SetState(const char* number, LONG height, LONG noise) {
    ASSERT_EQ(testing_support::SetState(component, number, height, noise), S_OK);
  }
  std::size_t Leftovers() const { return tempDir.Entries().size(); }

  TempDir tempDir;
  TempDir outDir;
  PictureComponent component;
  VARIANT image;
  std::unique_ptr<testing_support::ScopedEnv> tmp;
  int descriptors = 0;
};

TEST_F(ImageBytesTest, ReturnsTheFileThatSaveToFileWritesAndLeavesNothing) {
  const struct {
    const char* number;
    LONG height;
    LONG noise;
  } cases[] = {{"12345678", 30, 0}, {"1", 20, 0}, {"987654321", 200, 1}, {"00000042", 57, 1},
               {"123456789", 500, 1}};  // a file past the 1 MiB starting buffer
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    SetState(c.number, c.height, c.noise);
    const std::string path = outDir.File("saved.jpg");
    vexorin::SeedRandom(2024);
    ASSERT_EQ(component.SaveToFile(Bstr(path).get()), S_OK);
    vexorin::SeedRandom(2024);
    ASSERT_EQ(component.GetImage(Emptied(image)), S_OK);
    const Bytes bytes = ArrayBytes(image);
    EXPECT_EQ(bytes, ReadAll(path));
    ASSERT_GT(bytes.size(), 4u);
    if (c.height == 500) {
      EXPECT_GT(bytes.size(), 1u << 20);
    }
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xD8);
    EXPECT_EQ(bytes[bytes.size() - 2], 0xFF);
    EXPECT_EQ(bytes[bytes.size() - 1], 0xD9);
    EXPECT_EQ(Leftovers(), 0u);
  }
  // The smallest picture (10 x 20) is longer than 10 x 20 x 3 bytes and still comes back whole.
  SetState("7", 20, 0);
  ASSERT_EQ(component.GetImage(Emptied(image)), S_OK);
  EXPECT_GT(ArrayBytes(image).size(), 600u);
}

TEST_F(ImageBytesTest, SameSeedSameBytesAndStateUnchanged) {
  SetState("31337", 44, 1);
  vexorin::SeedRandom(9);
  ASSERT_EQ(component.GetImage(Emptied(image)), S_OK);
  const Bytes first = ArrayBytes(image);
  vexorin::SeedRandom(9);
  ASSERT_EQ(component.GetImage(Emptied(image)), S_OK);
  EXPECT_EQ(ArrayBytes(image), first);
  const auto& s = component.State();
  EXPECT_EQ(s.DigitCount, 5);
  EXPECT_EQ(s.NumberValue, 31337);
  EXPECT_EQ(s.Height, 44);
  EXPECT_EQ(s.Noise, 1);
}

TEST_F(ImageBytesTest, TheOutVariantIsWrittenNeverRead) {
  // Whatever the caller's VARIANT held is the caller's: garbage is not cleared (0xCC with a string
  // type would be freed through a wild pointer), and a live string is not freed.
  platform::unique_bstr keep(Bstr(std::u16string(u"caller's own")).release());
  VARIANT garbage;
  std::memset(&garbage, 0xCC, sizeof garbage);
  garbage.vt = VT_BSTR;
  VARIANT badType;
  std::memset(&badType, 0, sizeof badType);
  badType.vt = 0x7FFF;
  VARIANT live;
  VariantInit(&live);
  live.vt = VT_BSTR;
  live.bstrVal = keep.get();
  for (VARIANT* v : {&garbage, &badType, &live}) {
    ASSERT_EQ(component.GetImage(v), S_OK);
    EXPECT_EQ(v->vt, VT_ARRAY | VT_UI1);
    EXPECT_GT(ArrayBytes(*v).size(), 623u);
    VariantClear(v);
  }
  EXPECT_EQ(Narrow(keep.get()), "caller's own");  // still alive: the sanitizer build sees a use after free
  EXPECT_EQ(Leftovers(), 0u);
}

TEST_F(ImageBytesTest, NullOutPointerMakesNoFile) {
  EXPECT_EQ(component.GetImage(nullptr), E_POINTER);
  EXPECT_EQ(Leftovers(), 0u);
}

TEST_F(ImageBytesTest, APictureThatCannotBeDrawnFailsAndLeavesNothing) {
  SetState("-42", 30, 0);
  EXPECT_EQ(component.GetImage(Emptied(image)), E_FAIL);
  EXPECT_EQ(image.vt, VT_EMPTY);
  EXPECT_EQ(Leftovers(), 0u);
}

// The bytes come from memory: no directory for temporary files is needed (the runtime's are all
// unusable here), and no file call is made (each fails at its first use, and none is reached).
TEST_F(ImageBytesTest, NeedsNoTemporaryDirectoryAndMakesNoFileCall) {
  SetState("2718281", 60, 1);
  vexorin::SeedRandom(77);
  ASSERT_EQ(component.GetImage(Emptied(image)), S_OK);
  const Bytes expected = ArrayBytes(image);
  {
    testing_support::ScopedEnv unusable("TMP", "/proc");
    testing_support::ScopedEnv missing("TMPDIR", tempDir.File("missing"));
    testing_support::ScopedEnv unusableTemp("TEMP", "/proc");
    vexorin::SeedRandom(77);
    EXPECT_EQ(component.GetImage(Emptied(image)), S_OK);
    EXPECT_EQ(ArrayBytes(image), expected);
  }
  using testing_support::FileFault;
  for (FileFault::Kind kind : {FileFault::Open, FileFault::Read, FileFault::Seek, FileFault::Close,
                               FileFault::CreateOutput, FileFault::Write}) {
    SCOPED_TRACE(FileFault::kNames[kind]);
    HRESULT hr = E_FAIL;
    {
      const FileFault fault(kind, 1);
      vexorin::SeedRandom(77);
      hr = component.GetImage(Emptied(image));
      EXPECT_FALSE(FileFault::Reached());
    }
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(ArrayBytes(image), expected);
  }
  EXPECT_EQ(Leftovers(), 0u);
}

TEST_F(ImageBytesTest, EveryAllocationFailureIsAFailureThatLeavesNothing) {
  const int failures = testing_support::EveryAllocationFailing(
      allocationsBeforeFailure, [] {}, [&] { return component.GetImage(Emptied(image)); },
      [&](long n, HRESULT) {
        EXPECT_EQ(Leftovers(), 0u) << "allocation " << n;
        EXPECT_EQ(image.vt, VT_EMPTY) << "allocation " << n;
      },
      10000);
  EXPECT_GT(failures, 0) << "no allocation was failed, or GetImage never succeeded";
  EXPECT_EQ(image.vt, VT_ARRAY | VT_UI1);
  EXPECT_EQ(Leftovers(), 0u);
}

TEST_F(ImageBytesTest, SoakLeavesNoFileAndNoHandle) {
  SetState("123456", 30, 1);
  for (int i = 0; i < 3000; ++i) {
    ASSERT_EQ(component.GetImage(Emptied(image)), S_OK) << i;
  }
  EXPECT_EQ(Leftovers(), 0u);
}

}  // namespace
