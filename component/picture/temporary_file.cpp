#include "component/picture/temporary_file.h"

#include <cstdio>
#include <cstdlib>

#include "component/shared/byte_array.h"
#include "component/shared/guarded.h"
#include "platform/file_calls.h"
#include "support/file_stream.h"

namespace vexorin {

namespace {

void CloseQuietly(int handle) noexcept { platform::ActiveFileCalls().close(handle); }
void DiscardAndFree(char* name) noexcept {
  platform::DiscardTemporaryFile(name);
  std::free(name);
}
using unique_handle = platform::unique_any<int, &CloseQuietly, -1>;
using unique_temporary_name = platform::unique_any<char*, &DiscardAndFree>;

}  // namespace

HRESULT BytesThroughTemporaryFile(const JpegBytes& jpeg, platform::unique_safearray& array) {
  const platform::FileCalls& io = platform::ActiveFileCalls();
  // Declared first, gone last: the name is discarded after its handle is closed.
  unique_temporary_name name;
  unique_handle handle;
  switch (platform::ClaimTemporaryFile(io.open, name.put(), handle.put())) {
    case platform::TemporaryClaim::Claimed: break;
    case platform::TemporaryClaim::NoName: return E_FAIL;
    case platform::TemporaryClaim::NotOpened: return FileAlarmHresult(support::FileAlarmKind::Open);
  }
  if (!platform::WriteWhole(handle.get(), jpeg.data.get(), jpeg.size)) return E_FAIL;

  const long length = io.lseek(handle.get(), 0, SEEK_END);
  if (length == -1 || io.lseek(handle.get(), 0, SEEK_SET) == -1) {
    return FileAlarmHresult(support::FileAlarmKind::Seek);
  }
  if (length > 0x3FFFFFFF) return E_FAIL;  // a file the one block read could not count
  return MakeByteArray(
      static_cast<std::size_t>(length),
      [&](BYTE* data) {
        try {
          // Unbuffered: the one block goes straight into the array; the stream closes the handle.
          support::XFileInStream in(support::AdoptedHandle{handle.release()}, 0);
          in.ReadBlock(data, static_cast<std::int32_t>(length));
        } catch (const support::XFileAlarm& alarm) {
          return FileAlarmHresult(alarm.kind);
        }
        return S_OK;
      },
      array);
}

}  // namespace vexorin
