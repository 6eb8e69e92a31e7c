#include <cstring>
#include <new>

#include "component/component.h"
#include "platform/errors.h"
#include "support/alarm.h"

namespace vexorin {

namespace {
constexpr HRESULT kOpenFailed = static_cast<HRESULT>(0x8007006Eu);   // ERROR_OPEN_FAILED
constexpr HRESULT kReadFault = static_cast<HRESULT>(0x8007001Eu);    // ERROR_READ_FAULT
constexpr HRESULT kWriteFault = static_cast<HRESULT>(0x8007001Du);   // ERROR_WRITE_FAULT
}  // namespace

HRESULT FileAlarmHresult(const char* message) noexcept {
  if (message == nullptr) return E_FAIL;
  if (std::strcmp(message, "Unable to open file") == 0 || std::strcmp(message, "Unable to create file") == 0) {
    return kOpenFailed;
  }
  if (std::strcmp(message, "Unable to read file") == 0 || std::strcmp(message, "Unable to block read file") == 0) {
    return kReadFault;
  }
  if (std::strcmp(message, "Unable to write file") == 0) return kWriteFault;
  return E_FAIL;
}

HRESULT HresultFromCurrentException() noexcept {
  try {
    throw;
  } catch (const CAtlException& e) {
    return FAILED(e.m_hr) ? e.m_hr : E_FAIL;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const support::XAlarm& alarm) {
    return FileAlarmHresult(alarm.message);
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace vexorin
