// GetImage: the picture's JPEG bytes in a byte-array VARIANT, by way of a temporary file that is
// deleted on every path out.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "component/component.h"
#include "platform/text.h"
#include "support/file_stream.h"

namespace vexorin {

namespace {

// The temporary name and its file: the file is removed (if it is there) and the name freed however
// the call ends. Declared before the stream, so the stream is closed before the file goes.
class TemporaryFile {
 public:
  explicit TemporaryFile(char* name) noexcept : name_(name) {}
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (name_ != nullptr) {
      std::remove(name_);
      std::free(name_);
    }
  }
  const char* name() const noexcept { return name_; }

 private:
  char* name_;
};

class SafeArrayOwner {
 public:
  explicit SafeArrayOwner(SAFEARRAY* array) noexcept : array_(array) {}
  SafeArrayOwner(const SafeArrayOwner&) = delete;
  SafeArrayOwner& operator=(const SafeArrayOwner&) = delete;
  ~SafeArrayOwner() {
    if (array_ != nullptr) SafeArrayDestroy(array_);
  }
  SAFEARRAY* get() const noexcept { return array_; }
  SAFEARRAY* release() noexcept {
    SAFEARRAY* a = array_;
    array_ = nullptr;
    return a;
  }

 private:
  SAFEARRAY* array_;
};

}  // namespace

HRESULT VexorinComponent::GetImage(VARIANT* retVal) {
  try {
    return GetImageBody(retVal);
  } catch (...) {
    return HresultFromCurrentException();
  }
}

HRESULT VexorinComponent::GetImageBody(VARIANT* retVal) {
  if (retVal == nullptr) return E_POINTER;
  const HRESULT cleared = VariantClear(retVal);
  if (FAILED(cleared)) return cleared;

  VexorinComponent* self = this;
  LONG width = 0;
  self->GetWidth(&width);

  TemporaryFile temporary(platform::ClaimTemporaryName());
  if (temporary.name() == nullptr) return E_FAIL;
  {
    platform::unique_bstr path(platform::MakeBstr(temporary.name()));
    // A failed save is the call's failure: reading back what it left (nothing, or part of a file)
    // would hand the caller a broken picture as success.
    const HRESULT saved = self->SaveToFile(path.get());
    if (FAILED(saved)) return saved;
  }

  // Room for width x Height x 3 bytes to begin with, but 4 KiB at least (the tables alone take 623
  // bytes) and 1 MiB at most (the file is far smaller than the pixels), doubled when the file is
  // longer.
  std::size_t pixels = 0;
  std::size_t capacity = PictureBytes(width, state_.Height, pixels) ? pixels * 3 : 0;
  if (capacity < 4096) capacity = 4096;
  if (capacity > (std::size_t{1} << 20)) capacity = std::size_t{1} << 20;
  std::unique_ptr<BYTE[]> bytes(new BYTE[capacity]);
  std::size_t count = 0;
  {
    support::XFileInStream stream(temporary.name(), 8192);
    BYTE* out = bytes.get();  // a local, so the loop keeps it in a register
    std::uint8_t b = 0;
    while (stream.ReadByte(b).good()) {
      if (count == capacity) {
        if (capacity > 0x3FFFFFFFu) return E_FAIL;  // a file the array could not count
        std::unique_ptr<BYTE[]> larger(new BYTE[capacity * 2]);
        std::memcpy(larger.get(), bytes.get(), count);
        bytes = std::move(larger);
        capacity *= 2;
        out = bytes.get();
      }
      out[count++] = b;
    }
  }

  SAFEARRAYBOUND bound;
  bound.cElements = static_cast<ULONG>(count);
  bound.lLbound = 0;
  SafeArrayOwner array(SafeArrayCreate(VT_UI1, 1, &bound));
  if (array.get() == nullptr) return E_FAIL;
  for (LONG index = 0; index < static_cast<LONG>(count); ++index) {
    const HRESULT put = SafeArrayPutElement(array.get(), &index, &bytes[static_cast<std::size_t>(index)]);
    if (FAILED(put)) return put;
  }
  retVal->vt = VT_ARRAY | VT_UI1;
  retVal->parray = array.release();
  return S_OK;
}

}  // namespace vexorin
