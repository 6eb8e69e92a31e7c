#include "component/shared/guarded.h"

#include <new>

#include "platform/errors.h"

namespace vexorin {

namespace {
constexpr HRESULT kOpenFailed = static_cast<HRESULT>(0x8007006Eu);   // ERROR_OPEN_FAILED
constexpr HRESULT kReadFault = static_cast<HRESULT>(0x8007001Eu);    // ERROR_READ_FAULT
}  // namespace

HRESULT FileAlarmHresult(support::FileAlarmKind kind) noexcept {
  // The component only reads through the support library's streams: it never creates or writes one.
  switch (kind) {
    case support::FileAlarmKind::Open: return kOpenFailed;
    case support::FileAlarmKind::Read:
    case support::FileAlarmKind::BlockRead: return kReadFault;
    default: return E_FAIL;
  }
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
