// GetImage: the picture's JPEG bytes in a byte-array VARIANT, by way of a temporary file that is
// deleted on every path out.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "component/component.h"
#include "platform/owner.h"
#include "support/file_stream.h"

namespace vexorin {

namespace {

// The temporary file is removed (if it is there) before its name is freed.
void RemoveAndFree(char* name) noexcept {
  std::remove(name);
  std::free(name);
}
using TemporaryFile = platform::unique_any<char*, &RemoveAndFree>;

}  // namespace

HRESULT VexorinComponent::GetImage(VARIANT* retVal) {
  return Guarded([&] {
    if (retVal == nullptr) return E_POINTER;
    const HRESULT cleared = VariantClear(retVal);
    if (FAILED(cleared)) return cleared;

    // Declared before the stream, so the stream is closed before the file goes.
    TemporaryFile temporary(platform::ClaimTemporaryName());
    if (!temporary) return E_FAIL;
    // A failed save is the call's failure: reading back what it left (nothing, or part of a file)
    // would hand the caller a broken picture as success.
    const HRESULT saved = SavePicture(temporary.get());
    if (FAILED(saved)) return saved;

    // Room for width x Height x 3 bytes to begin with, but 4 KiB at least (the tables alone take
    // 623 bytes) and 1 MiB at most (the file is far smaller than the pixels), doubled when the
    // file is longer.
    PictureSize size;
    std::size_t capacity = SUCCEEDED(MeasurePicture(size)) ? size.bytes * 3 : 0;
    if (capacity < 4096) capacity = 4096;
    if (capacity > (std::size_t{1} << 20)) capacity = std::size_t{1} << 20;
    std::unique_ptr<BYTE[]> bytes(new BYTE[capacity]);
    std::size_t count = 0;
    {
      support::XFileInStream stream(temporary.get(), 8192);
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
    platform::unique_safearray array(SafeArrayCreate(VT_UI1, 1, &bound));
    if (!array) return E_FAIL;
    for (LONG index = 0; index < static_cast<LONG>(count); ++index) {
      const HRESULT put = SafeArrayPutElement(array.get(), &index, &bytes[static_cast<std::size_t>(index)]);
      if (FAILED(put)) return put;
    }
    retVal->vt = VT_ARRAY | VT_UI1;
    retVal->parray = array.release();
    return S_OK;
  });
}

}  // namespace vexorin
