#include "component/guarded.h"

#include <new>

#include "platform/errors.h"

namespace vexorin {

namespace {
constexpr HRESULT kOpenFailed = static_cast<HRESULT>(0x8007006Eu);   // ERROR_OPEN_FAILED
constexpr HRESULT kReadFault = static_cast<HRESULT>(0x8007001Eu);    // ERROR_READ_FAULT
constexpr HRESULT kWriteFault = static_cast<HRESULT>(0x8007001Du);   // ERROR_WRITE_FAULT
}  // namespace

HRESULT FileAlarmHresult(support::FileAlarmKind kind) noexcept {
  switch (kind) {
    case support::FileAlarmKind::Open:
    case support::FileAlarmKind::Create: return kOpenFailed;
    case support::FileAlarmKind::Read:
    case support::FileAlarmKind::BlockRead: return kReadFault;
    case support::FileAlarmKind::Write: return kWriteFault;
    case support::FileAlarmKind::Seek:
    case support::FileAlarmKind::Close: return E_FAIL;
  }
  return E_FAIL;
}

HRESULT HresultFromCurrentException() noexcept {
  try {
    throw;
  } catch (const CAtlException& e) {
    return FAILED(e.m_hr) ? e.m_hr : E_FAIL;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const support::XFileAlarm& alarm) {
    return FileAlarmHresult(alarm.kind);
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace vexorin
