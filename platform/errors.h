// The HRESULT carrier that a failed BSTR allocation raises inside the component.
#pragma once

#include "platform.h"

class CAtlException {
 public:
  explicit CAtlException(HRESULT hr) noexcept : m_hr(hr) {}
  operator HRESULT() const noexcept { return m_hr; }

  HRESULT m_hr;
};
