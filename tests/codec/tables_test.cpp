#include "codec/tables.hpp"

#include <gtest/gtest.h>

TEST(Tables, ExpansionRisesStrictly) {
    for (int b = 1; b < 256; ++b) {
        EXPECT_LT(pev::kExpansion[b - 1], pev::kExpansion[b]) << b;
    }
}
