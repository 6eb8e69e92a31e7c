#include "component/shared/guarded.h"

#include <new>

#include "platform/errors.h"

namespace vexorin {

HRESULT HresultFromCurrentException() noexcept {
  try {
    throw;
  } catch (const CAtlException& e) {
    return FAILED(e.m_hr) ? e.m_hr : E_FAIL;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace vexorin
