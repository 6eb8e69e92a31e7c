// Every allocation, file call and write that SaveToFile and GetImage make fails in turn: each run
// must return a failure HRESULT, leak nothing, write no file in TMP, and leave an existing output
// file in place. The allocation counter replaces malloc, so this suite is left out of the sanitizer
// build (which has its own allocator).
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "component/picture/component.h"
#include "platform/file_calls.h"
#include "tests/shared/test_support.h"

using testing_support::Bstr;
using testing_support::ReadAll;
using testing_support::TempDir;

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);
}

namespace {
std::atomic<long> allocationsBeforeFailure{-1};
std::atomic<long> liveAllocations{0};

bool FailThisAllocation() {
  long left = allocationsBeforeFailure.load(std::memory_order_relaxed);
  while (left >= 0) {
    if (left == 0) return true;
    if (allocationsBeforeFailure.compare_exchange_weak(left, left - 1)) return false;
  }
  return false;
}
}  // namespace

extern "C" void* malloc(std::size_t n) {
  if (FailThisAllocation()) {
    errno = ENOMEM;
    return nullptr;
  }
  void* p = __libc_malloc(n);
  if (p != nullptr) liveAllocations.fetch_add(1, std::memory_order_relaxed);
  return p;
}
extern "C" void* calloc(std::size_t count, std::size_t n) {
  if (FailThisAllocation()) {
    errno = ENOMEM;
    return nullptr;
  }
  void* p = __libc_calloc(count, n);
  if (p != nullptr) liveAllocations.fetch_add(1, std::memory_order_relaxed);
  return p;
}
extern "C" void* realloc(void* old, std::size_t n) {
  if (FailThisAllocation()) {
    errno = ENOMEM;
    return nullptr;
  }
  void* p = __libc_realloc(old, n);
  if (old == nullptr && p != nullptr) liveAllocations.fetch_add(1, std::memory_order_relaxed);
  return p;
}
extern "C" void free(void* p) {
  if (p != nullptr) liveAllocations.fetch_sub(1, std::memory_order_relaxed);
  __libc_free(p);
}

namespace {

class FaultInjectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tmp.reset(new testing_support::ScopedEnv("TMP", tempDir.path()));
    signal(SIGXFSZ, SIG_IGN);  // a file-size limit then fails the write instead of ending the process
    auto number = Bstr(std::string("31415926"));
    ASSERT_EQ(component.put_Number(number.get()), S_OK);
    component.put_Noise(1);
  }
  void TearDown() override {
    platform::SetFileCalls(nullptr);
    tmp.reset();
  }

  // Every allocation failing in turn (the shared harness), each failed run leaking nothing.
  template <typename Prepare, typename Call, typename Check>
  int EveryAllocation(Prepare prepare, Call call, Check check) {
    long before = 0;
    const int failures = testing_support::EveryAllocationFailing(
        allocationsBeforeFailure,
        [&] {
          prepare();
          before = liveAllocations.load();
        },
        call,
        [&](long n, HRESULT hr) {
          EXPECT_EQ(liveAllocations.load(), before) << "allocation " << n << " leaked";
          check(n, hr);
        });
    EXPECT_GE(failures, 0) << "never succeeded";
    return failures;
  }

  TempDir tempDir;
  TempDir outDir;
  std::unique_ptr<testing_support::ScopedEnv> tmp;
  vexorin::PictureComponent component;
};

TEST_F(FaultInjectionTest, SaveToFileSurvivesEveryAllocationFailure) {
  const std::string path = outDir.File("picture.jpg");
  auto name = Bstr(path);
  const int failures = EveryAllocation(
      [&] {
        // An existing file at the path: everything that can run out of memory happens before the
        // file is opened, so every such failure leaves it as it was.
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fputs("OLD", f);
        std::fclose(f);
      },
      [&] { return component.SaveToFile(name.get()); },
      [&](long n, HRESULT hr) {
        EXPECT_TRUE(hr == E_FAIL || hr == E_POINTER || hr == E_OUTOFMEMORY) << n << " " << hr;
        EXPECT_EQ(ReadAll(path), (std::vector<unsigned char>{'O', 'L', 'D'})) << "allocation " << n << " touched the file";
      });
  EXPECT_GT(failures, 3);
  std::printf("[   info   ] SaveToFile: %d allocation points failed in turn\n", failures);
  const auto bytes = ReadAll(path);
  ASSERT_GT(bytes.size(), 2u);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xD8);
}

TEST_F(FaultInjectionTest, GetImageSurvivesEveryAllocationFailure) {
  VARIANT image;
  VariantInit(&image);
  const int failures = EveryAllocation(
      [&] { VariantClear(&image); },
      [&] { return component.GetImage(&image); },
      [&](long n, HRESULT hr) {
        EXPECT_TRUE(FAILED(hr));
        EXPECT_EQ(image.vt, VT_EMPTY) << n;
        EXPECT_TRUE(tempDir.Entries().empty()) << "allocation " << n << " left a file";
      });
  EXPECT_GT(failures, 5);
  std::printf("[   info   ] GetImage: %d allocation points failed in turn\n", failures);
  EXPECT_EQ(image.vt, VT_ARRAY | VT_UI1);
  VariantClear(&image);
  EXPECT_TRUE(tempDir.Entries().empty());
}

using testing_support::FileFault;

TEST_F(FaultInjectionTest, SaveToFileFailsAtEachFileCallAndLeavesNoHandle) {
  const std::string path = outDir.File("kept.jpg");
  auto name = Bstr(path);
  const std::vector<unsigned char> old = {'o', 'l', 'd'};
  const int handles = testing_support::OpenFileHandles();
  // A file that could not be created keeps its bytes; once created it is emptied (a known limit).
  const struct {
    FileFault::Kind kind;
    bool keeps;
  } cases[] = {{FileFault::CreateOutput, true}, {FileFault::Write, false}, {FileFault::Close, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(FileFault::kNames[c.kind]);
    std::ofstream(path, std::ios::binary).write("old", 3);
    HRESULT hr = S_OK;
    {
      const FileFault fault(c.kind, 1);
      hr = component.SaveToFile(name.get());
      EXPECT_TRUE(FileFault::Reached()) << "the call was never made";
    }
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_EQ(testing_support::OpenFileHandles(), handles);
    if (c.keeps) {
      EXPECT_EQ(testing_support::ReadAll(path), old);
    }
  }
}

// A full disk fails SaveToFile and leaves GetImage, which writes no file, untouched.
TEST_F(FaultInjectionTest, AFullDiskFailsSaveToFileAndNotGetImage) {
  const std::string path = outDir.File("full.jpg");
  auto name = Bstr(path);
  component.put_Height(120);
  for (rlim_t limit : {0, 100, 623, 1000, 4096, 8192}) {
    SCOPED_TRACE(limit);
    rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &small);
    const HRESULT saved = component.SaveToFile(name.get());
    VARIANT image;
    VariantInit(&image);
    const HRESULT got = component.GetImage(&image);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(saved, E_FAIL);
    EXPECT_EQ(got, S_OK);
    EXPECT_EQ(image.vt, VT_ARRAY | VT_UI1);
    VariantClear(&image);
    EXPECT_TRUE(testing_support::Exists(path));
    EXPECT_TRUE(tempDir.Entries().empty());
  }
}

}  // namespace
