// Helpers shared by the test suites, on Linux and on Windows (under Wine).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "component/picture/component.h"
#include "platform/file_calls.h"
#include "platform/text.h"

#ifdef _WIN32
#include <io.h>
#else
#include <dirent.h>
#endif

namespace testing_support {

namespace fs = std::filesystem;

// A private directory, removed with its files at the end of the test.
class TempDir {
 public:
  TempDir() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
      const fs::path candidate = fs::temp_directory_path() / ("vexorin-test-" + std::to_string(random() % 1000000000));
      std::error_code ec;
      if (fs::create_directory(candidate, ec)) {
        path_ = candidate.string();
        return;
      }
    }
    throw std::runtime_error("no private temporary directory");
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return (fs::path(path_) / name).string(); }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(path_, ec)) names.push_back(e.path().filename().u8string());  // UTF-8 on every build
    return names;
  }

 private:
  std::string path_;
};

// BSTRs from UTF-16 text; OLECHAR is 16 bits on every build (wchar_t on Windows).
inline platform::unique_bstr Bstr(const std::u16string& text) {
  return platform::unique_bstr(
      SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size())));
}

inline platform::unique_bstr Bstr(const std::string& narrow) {
  return platform::unique_bstr(platform::MakeBstr(narrow.c_str()));
}

inline std::string Narrow(BSTR text) {
  std::string out;
  platform::NarrowFromWide(text, out);
  return out;
}

inline bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

inline std::vector<unsigned char> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

inline std::uint64_t Fnv1a(const unsigned char* data, std::size_t n) {
  std::uint64_t h = 1469598103934665603ull;
  for (std::size_t i = 0; i < n; ++i) {
    h ^= data[i];
    h *= 1099511628211ull;
  }
  return h;
}

// Open file handles of the runtime (descriptors on Linux, CRT file handles on Windows).
inline int OpenFileHandles() {
  int n = 0;
#ifdef _WIN32
  for (int fd = 0; fd < 2048; ++fd) {
    if (_get_osfhandle(fd) != -1) ++n;
  }
#else
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
#endif
  return n;
}

inline void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

inline void UnsetEnv(const char* name) {
#ifdef _WIN32
  _putenv_s(name, "");
#else
  unsetenv(name);
#endif
}

// Sets an environment variable for a scope and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    SetEnv(name, value);
  }
  ~ScopedEnv() {
    if (had_) {
      SetEnv(name_, old_);
    } else {
      UnsetEnv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

// The file calls with one failing: the `n`-th call (from 1) of the chosen kind fails, every other
// call goes to the runtime. Installed for as long as it lives.
class FileFault {
 public:
  enum Kind { Open, Read, Seek, Close, CreateOutput, Write };
  static constexpr const char* kNames[] = {"open", "read", "seek", "close", "create", "write"};
  FileFault(Kind kind, int n) {
    kind_ = kind;
    left_ = n;
    platform::SetFileCalls(&kCalls);
  }
  ~FileFault() { platform::SetFileCalls(nullptr); }
  FileFault(const FileFault&) = delete;
  FileFault& operator=(const FileFault&) = delete;
  // Whether the chosen call was reached (and failed).
  static bool Reached() { return left_ == 0; }

 private:
  static bool Fail(Kind k) { return k == kind_ && --left_ == 0; }
  static const platform::FileCalls& Runtime() { return platform::RuntimeFileCalls(); }
  static int OpenCall(const char* p, int f, int m) { return Fail(Open) ? -1 : Runtime().open(p, f, m); }
  static int ReadCall(int h, void* b, unsigned n) { return Fail(Read) ? -1 : Runtime().read(h, b, n); }
  static long SeekCall(int h, long o, int w) { return Fail(Seek) ? -1 : Runtime().lseek(h, o, w); }
  static int CloseCall(int h) {
    const int r = Runtime().close(h);  // the handle is gone either way, as after a real failed close
    return Fail(Close) ? -1 : r;
  }
  static int WriteCall(int h, const void* b, unsigned n) { return Fail(Write) ? -1 : Runtime().write(h, b, n); }
  static int CreateCall(const OLECHAR* p) { return Fail(CreateOutput) ? -1 : Runtime().createOutput(p); }

  static inline Kind kind_ = Open;
  static inline int left_ = 0;
  static inline const platform::FileCalls kCalls = {OpenCall, ReadCall, SeekCall, CloseCall, WriteCall, CreateCall};
};

// An independent copy of the classic 15-bit generator, to predict the component's draws.
class ReferenceRandom {
 public:
  explicit ReferenceRandom(std::uint32_t seed) : state_(seed) {}
  int Next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int>((state_ >> 16) & 0x7FFF);
  }

 private:
  std::uint32_t state_;
};

// Puts a shown number, a height and the noise switch into the component; the number put's result.
inline HRESULT SetState(vexorin::PictureComponent& component, const char* number, LONG height, LONG noise) {
  const HRESULT hr = component.put_Number(Bstr(std::string(number)).get());
  component.put_Height(height);
  component.put_Noise(noise);
  return hr;
}

// Runs `call` with the n-th allocation failing, for n = 0, 1, ... until it succeeds; `failAt` is the
// test's own allocator switch (-1: none fails). `prepare()` runs before each call and
// `check(n, hr)` after each failed one. Returns the number of failed runs, or -1 when the call
// never succeeded within `limit` runs.
template <typename Prepare, typename Call, typename Check>
int EveryAllocationFailing(std::atomic<long>& failAt, Prepare prepare, Call call, Check check, long limit = 100000) {
  prepare();
  call();  // once for the runtime's one-time allocations
  int failures = 0;
  for (long n = 0; n < limit; ++n) {
    prepare();
    failAt.store(n);
    const HRESULT hr = call();
    failAt.store(-1);
    if (SUCCEEDED(hr)) return failures;
    ++failures;
    check(n, hr);
  }
  return -1;
}

}  // namespace testing_support
