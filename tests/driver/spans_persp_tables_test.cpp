// LogTable and ExpTable: the numeric tables of the fixed-point perspective
// spans.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>

#include "driver/spans/persp_tables.h"
#include "palette_test_engine.h"

namespace {

using palette_test::Crc;
using palette_test::TestEngine;

class PerspTables : public ::testing::Test {
protected:
    void TearDown() override {
        PerspectiveTablesFree();
        EXPECT_TRUE(engine.live.empty());
        EXPECT_EQ(engine.bad_frees, 0);
    }
    TestEngine engine;
};

TEST_F(PerspTables, LogTableIsTheMeanLogarithm) {
    ASSERT_EQ(PerspectiveTablesCreate(), 1);
    EXPECT_EQ(LogTable[0], 0);
    EXPECT_EQ(LogTable[255], 255);
    for (int j = 1; j < 255; ++j) {
        // 256 x log2 of the geometric mean of (256+j)/256 and (257+j)/256.
        const double mean = 128.0 * (std::log2((256.0 + j) / 256.0) + std::log2((257.0 + j) / 256.0));
        EXPECT_NEAR(LogTable[j], mean, 1.0) << j;
        EXPECT_LE(LogTable[j - 1], LogTable[j]);
    }
}

TEST_F(PerspTables, ExpTableEdgeEntries) {
    ASSERT_EQ(PerspectiveTablesCreate(), 1);
    ASSERT_NE(ExpTable, nullptr);
    const int32_t at_minus_256 = static_cast<int32_t>(std::pow(2.0, 23) * (std::pow(2.0, 255.0 / 256.0) + 2.0));
    EXPECT_EQ(ExpTable[-256], at_minus_256);
    EXPECT_EQ(ExpTable[0], at_minus_256 / 2);
    // Not written: the top row.
    for (int n = 7936; n < 8192; ++n) EXPECT_EQ(ExpTable[n], 0);
    EXPECT_EQ(engine.last_request, 65536u);
}

TEST_F(PerspTables, ExpTableFollowsTheHalfStepExponential) {
    ASSERT_EQ(PerspectiveTablesCreate(), 1);
    // Entries from about -1792 down no longer fit a signed 32-bit value.
    for (int n = -1790; n < 7936; n += 37) {
        const double want = std::pow(2.0, 24) * std::pow(2.0, -(n + 0.5) / 256.0);
        // Truncation, and the arithmetic mean of the two neighbours in place
        // of the geometric one.
        EXPECT_NEAR(ExpTable[n], want, 1.0 + want * 2e-6) << n;
    }
    // Exact formula on a sample, shifts included.
    for (int r : {-31, -8, -1, 0, 1, 5, 31})
        for (int m : {-256, -255, -128, -1}) {
            const double sum = std::pow(2.0, (-1.0 - m) / 256.0) + std::pow(2.0, -m / 256.0);
            const uint32_t base = static_cast<uint32_t>(16777216.0 * sum / 2.0);
            const uint32_t want = r > 0 ? base >> r : base << -r;
            EXPECT_EQ(static_cast<uint32_t>(ExpTable[256 * r + m]), want) << r << " " << m;
        }
    // 256 positions down doubles an entry (within truncation).
    for (int n = 0; n < 2000; n += 111) EXPECT_NEAR(ExpTable[n - 256], 2 * ExpTable[n], 2) << n;
}

TEST_F(PerspTables, Golden) {
    ASSERT_EQ(PerspectiveTablesCreate(), 1);
    EXPECT_EQ(Crc(LogTable, 256), 9604689u);
    EXPECT_EQ(Crc(ExpTable - kExpTableCentre, kExpTableEntries * 4), 2537591078u);
}

TEST_F(PerspTables, AllocationFailureAndRebuild) {
    engine.fail_after = 0;
    EXPECT_EQ(PerspectiveTablesCreate(), 0);
    EXPECT_EQ(ExpTable, nullptr);
    engine.fail_after = -1;
    ASSERT_EQ(PerspectiveTablesCreate(), 1);
    // Building again replaces the table instead of leaking it.
    ASSERT_EQ(PerspectiveTablesCreate(), 1);
    EXPECT_EQ(engine.live.size(), 1u);
    EXPECT_EQ(PerspectiveTablesFree(), 1);
    EXPECT_EQ(ExpTable, nullptr);
    EXPECT_EQ(PerspectiveTablesFree(), 1);
}

}  // namespace
