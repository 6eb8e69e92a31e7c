// One owner for every platform handle: the release call is part of the type, so no path forgets it,
// and copying is impossible, so nothing is released twice.
// Out-parameter rule: put() empties the owner before its address is handed out.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform.h"

namespace platform {

template <typename T, auto Release, T Empty = T{}>
class unique_any {
 public:
  unique_any() noexcept = default;
  explicit unique_any(T value) noexcept : value_(value) {}
  unique_any(const unique_any&) = delete;
  unique_any& operator=(const unique_any&) = delete;
  unique_any(unique_any&& other) noexcept : value_(other.release()) {}
  unique_any& operator=(unique_any&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~unique_any() { reset(); }

  T get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Empty; }
  T release() noexcept { return std::exchange(value_, Empty); }
  void reset(T value = Empty) noexcept {
    const T old = std::exchange(value_, value);
    if (old != Empty) Release(old);
  }
  T* put() noexcept {
    reset();
    return &value_;
  }

 private:
  T value_ = Empty;
};

inline void FreeMemory(void* p) noexcept { std::free(p); }
inline void CloseFile(std::FILE* file) noexcept { std::fclose(file); }
inline void DestroySafeArray(SAFEARRAY* array) noexcept { SafeArrayDestroy(array); }
template <typename Interface>
void ReleaseInterface(Interface* p) noexcept {
  p->Release();
}

using unique_bstr = unique_any<BSTR, &SysFreeString>;
using unique_safearray = unique_any<SAFEARRAY*, &DestroySafeArray>;
using unique_file = unique_any<std::FILE*, &CloseFile>;
template <typename T>
using unique_malloc = unique_any<T*, &FreeMemory>;
// A COM interface pointer, released once.
template <typename Interface>
using unique_com = unique_any<Interface*, &ReleaseInterface<Interface>>;

// A VARIANT, contained (never inherited from) and cleared when the owner goes.
class unique_variant {
 public:
  unique_variant() noexcept { VariantInit(&value_); }
  unique_variant(const unique_variant&) = delete;
  unique_variant& operator=(const unique_variant&) = delete;
  ~unique_variant() { reset(); }

  const VARIANT& get() const noexcept { return value_; }
  void reset() noexcept {
    VariantClear(&value_);
    VariantInit(&value_);
  }
  VARIANT* put() noexcept {
    reset();
    return &value_;
  }

 private:
  VARIANT value_;
};

// SafeArrayAccessData and SafeArrayUnaccessData, paired by scope, over a one-dimensional array of
// T: data() and size() hold while the scope lasts. E_INVALIDARG for an array of another shape.
template <typename T>
class safearray_access {
 public:
  explicit safearray_access(SAFEARRAY* array) noexcept : array_(array) {
    if (array == nullptr) {
      result_ = E_POINTER;
    } else if (array->cDims != 1 || array->cbElements != sizeof(T)) {
      result_ = E_INVALIDARG;
    } else {
      void* data = nullptr;
      result_ = SafeArrayAccessData(array, &data);
      if (SUCCEEDED(result_)) {
        data_ = static_cast<T*>(data);
        size_ = array->rgsabound[0].cElements;
      }
    }
  }
  safearray_access(const safearray_access&) = delete;
  safearray_access& operator=(const safearray_access&) = delete;
  ~safearray_access() {
    if (SUCCEEDED(result_)) SafeArrayUnaccessData(array_);
  }
  HRESULT result() const noexcept { return result_; }
  T* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }
  T* begin() const noexcept { return data_; }
  T* end() const noexcept { return data_ + size_; }

 private:
  SAFEARRAY* array_;
  T* data_ = nullptr;
  std::size_t size_ = 0;
  HRESULT result_;
};

}  // namespace platform
