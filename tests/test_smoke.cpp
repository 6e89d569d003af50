#include <gtest/gtest.h>
#include "winsim/machine.h"
TEST(Smoke, Builds) { winsim::Machine m; EXPECT_TRUE(m.Is64Bit()); }
