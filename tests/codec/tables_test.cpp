#include "codec/tables.hpp"

#include <gtest/gtest.h>
#include <set>

namespace {

struct TableValue {
    int index;
    int value;
};

TEST(Tables, ExpansionTellingValues) {
    const TableValue cases[] = {{0, -32768}, {1, -32258}, {2, -31752},  {127, -2},   {128, 0},
                                {129, 2},    {130, 8},    {254, 31752}, {255, 32258}};
    for (const auto& c : cases) {
        EXPECT_EQ(pev::kExpansion[c.index], c.value) << "byte " << c.index;
    }
}

TEST(Tables, ExpansionRisesStrictly) {
    for (int b = 1; b < 256; ++b) {
        EXPECT_LT(pev::kExpansion[b - 1], pev::kExpansion[b]) << b;
    }
}

TEST(Tables, ExpansionOfSilenceLevelIsZero) {
    EXPECT_EQ(pev::kExpansion[pev::kSilenceLevel], 0);
}

TEST(Tables, DeltaStepsAlternateOutwardModulo256) {
    const TableValue cases[] = {{0, 0},     {1, 1},     {2, 0xFF},   {3, 2},
                                {4, 0xFE},  {13, 7},    {14, 0xF9},  {15, 8},
                                {16, 0xF8}, {253, 127}, {254, 0x81}, {255, 0x80}};
    for (const auto& c : cases) {
        EXPECT_EQ(pev::kDelta[c.index], c.value) << "code " << c.index;
    }
}

// Every step byte is reachable by exactly one code, so any level can follow
// any other in one escape code.
TEST(Tables, DeltaReachesEveryStepOnce) {
    const std::set<int> steps(pev::kDelta.begin(), pev::kDelta.end());
    EXPECT_EQ(steps.size(), 256u);
}

} // namespace
