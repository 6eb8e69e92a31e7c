// Helpers shared by the native test suites.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/text.h"

namespace testing_support {

// A private directory, removed with its files at the end of the test.
class TempDir {
 public:
  TempDir() {
    std::string pattern = "/tmp/vexorin-test-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    for (const std::string& name : Entries()) {
      std::string full = path_ + "/" + name;
      chmod(full.c_str(), 0700);
      if (std::remove(full.c_str()) != 0) rmdir(full.c_str());
    }
    rmdir(path_.c_str());
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    if (DIR* d = opendir(path_.c_str())) {
      while (dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
      }
      closedir(d);
    }
    return names;
  }

 private:
  std::string path_;
};

inline platform::unique_bstr Bstr(const std::u16string& text) {
  return platform::unique_bstr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
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
  struct stat st;
  return stat(path.c_str(), &st) == 0;
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

}  // namespace testing_support
