#include "component/temporary_file.h"

#include <cstdio>
#include <cstdlib>

#include "component/guarded.h"
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
  if (length > 0x3FFFFFFF) return E_FAIL;  // a file the array could not count
  SAFEARRAYBOUND bound;
  bound.cElements = static_cast<ULONG>(length);
  bound.lLbound = 0;
  platform::unique_safearray bytes(SafeArrayCreate(VT_UI1, 1, &bound));
  if (!bytes) return E_FAIL;
  {
    const platform::safearray_access access(bytes.get());
    if (FAILED(access.result())) return access.result();
    try {
      // Unbuffered: the one block goes straight into the array; the stream closes the handle.
      support::XFileInStream in(support::AdoptedHandle{handle.release()}, 0);
      in.ReadBlock(static_cast<std::uint8_t*>(access.data()), static_cast<std::int32_t>(length));
    } catch (const support::XFileAlarm& alarm) {
      return FileAlarmHresult(alarm.kind);
    }
  }
  array = std::move(bytes);
  return S_OK;
}

}  // namespace vexorin
