#include <gtest/gtest.h>
#include "core/modGlobals.h"
TEST(Globals, Placeholder) { EXPECT_EQ(modGlobals::LoByte(0x1234), 0x34); }
