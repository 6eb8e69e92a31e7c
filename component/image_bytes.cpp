// GetImage: the picture's JPEG bytes in a byte-array VARIANT, by way of a temporary file of the
// call's own that is gone on every path out.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "component/component.h"
#include "component/jpeg_output.h"
#include "platform/owner.h"
#include "support/file_stream.h"

namespace vexorin {

namespace {

// The claimed temporary file: its handle is closed through the file seam and the file discarded,
// however the call ends.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (handle_ != -1) support::ActiveFileCalls().close(handle_);
    if (name_) platform::DiscardTemporaryFile(name_.get());
  }

  // E_FAIL when no name could be had; an open alarm when the file could not be opened.
  HRESULT Claim() {
    switch (platform::ClaimTemporaryFile(support::ActiveFileCalls().open, name_.put(), &handle_)) {
      case platform::TemporaryClaim::Claimed: return S_OK;
      case platform::TemporaryClaim::NoName: return E_FAIL;
      case platform::TemporaryClaim::NotOpened: break;
    }
    throw support::XFileAlarm(support::FileAlarmKind::Open, nullptr);
  }
  int handle() const noexcept { return handle_; }
  // Closes the handle, raising the close alarm when that fails (the handle is gone either way).
  void Close() {
    if (support::ActiveFileCalls().close(std::exchange(handle_, -1)) != 0) {
      throw support::XFileAlarm(support::FileAlarmKind::Close, nullptr);
    }
  }

 private:
  platform::unique_malloc<char> name_;
  int handle_ = -1;
};

// False when the file took fewer bytes than given (a full disk, a size limit).
bool WriteAll(int handle, const unsigned char* data, std::size_t size) {
  const support::FileCalls& io = support::ActiveFileCalls();
  while (size > 0) {
    const unsigned int chunk = size > 0x40000000u ? 0x40000000u : static_cast<unsigned int>(size);
    const int wrote = io.write(handle, data, chunk);
    if (wrote <= 0) return false;
    data += wrote;
    size -= static_cast<std::size_t>(wrote);
  }
  return true;
}

// Reads exactly `size` bytes; a shorter file or a failed read is the read alarm.
void ReadExactly(int handle, unsigned char* data, std::size_t size) {
  const support::FileCalls& io = support::ActiveFileCalls();
  while (size > 0) {
    const unsigned int chunk = size > 0x40000000u ? 0x40000000u : static_cast<unsigned int>(size);
    const int got = io.read(handle, data, chunk);
    if (got <= 0) throw support::XFileAlarm(support::FileAlarmKind::Read, nullptr);
    data += got;
    size -= static_cast<std::size_t>(got);
  }
}

long Seek(int handle, long offset, int origin) {
  const long at = support::ActiveFileCalls().lseek(handle, offset, origin);
  if (at == -1) throw support::XFileAlarm(support::FileAlarmKind::Seek, nullptr);
  return at;
}

}  // namespace

HRESULT VexorinComponent::GetImage(VARIANT* retVal) {
  return Guarded([&] {
    if (retVal == nullptr) return E_POINTER;
    VariantInit(retVal);  // an [out] VARIANT: written, never read or cleared

    // The same picture SaveToFile writes, written to the claimed file through its own handle.
    TemporaryFile temporary;
    {
      JpegBytes jpeg;
      HRESULT hr = EncodePicture(jpeg);
      if (FAILED(hr)) return hr;
      hr = temporary.Claim();
      if (FAILED(hr)) return hr;
      if (!WriteAll(temporary.handle(), jpeg.data.get(), jpeg.size)) return E_FAIL;
    }

    const long length = Seek(temporary.handle(), 0, SEEK_END);
    if (length > 0x3FFFFFFF) return E_FAIL;  // a file the array could not count
    Seek(temporary.handle(), 0, SEEK_SET);
    SAFEARRAYBOUND bound;
    bound.cElements = static_cast<ULONG>(length);
    bound.lLbound = 0;
    platform::unique_safearray array(SafeArrayCreate(VT_UI1, 1, &bound));
    if (!array) return E_FAIL;
    {
      const platform::safearray_access access(array.get());
      if (FAILED(access.result())) return access.result();
      ReadExactly(temporary.handle(), static_cast<unsigned char*>(access.data()), static_cast<std::size_t>(length));
    }
    temporary.Close();

    retVal->vt = VT_ARRAY | VT_UI1;
    retVal->parray = array.release();
    return S_OK;
  });
}

}  // namespace vexorin
