#include <gtest/gtest.h>
#include "component/component.h"
TEST(Smoke, Builds) { vexorin::VexorinComponent c; LONG w = 0; EXPECT_EQ(c.GetWidth(&w), S_OK); EXPECT_EQ(w, 120); }
