#include <cstdint>

#include <gtest/gtest.h>

#include "platform/owner.h"

namespace {

SAFEARRAY* ByteArray(ULONG size) {
  SAFEARRAYBOUND bound;
  bound.cElements = size;
  bound.lLbound = 0;
  return SafeArrayCreate(VT_UI1, 1, &bound);
}

TEST(SafeArrayAccess, HoldsTheLockForItsScopeOnly) {
  SAFEARRAY* array = ByteArray(5);
  ASSERT_NE(array, nullptr);
  {
    const platform::safearray_access<BYTE> access(array);
    ASSERT_EQ(access.result(), S_OK);
    ASSERT_EQ(access.size(), 5u);
    for (BYTE& b : access) b = 7;
    EXPECT_EQ(access.end() - access.begin(), 5);
    EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);  // still locked inside the scope
  }
  {
    const platform::safearray_access<const BYTE> again(array);
    EXPECT_EQ(again.data()[4], 7);
  }
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(SafeArrayAccess, RefusesWhatIsNoArrayOfItsElementsAndTakesNoLock) {
  const platform::safearray_access<BYTE> none(nullptr);
  EXPECT_EQ(none.result(), E_POINTER);
  EXPECT_EQ(none.size(), 0u);
  EXPECT_EQ(none.data(), nullptr);
  SAFEARRAY* array = ByteArray(4);
  ASSERT_NE(array, nullptr);
  {
    const platform::safearray_access<std::uint16_t> wide(array);
    EXPECT_EQ(wide.result(), E_INVALIDARG);
    EXPECT_EQ(wide.begin(), wide.end());
  }
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

}  // namespace
