#include "app/status_text.h"

#include <gtest/gtest.h>

namespace tamborix {
namespace {

TEST(StatsLineTest, FormatStatsLine_MixedValues_RoundsTruncatesAndDefaults) {
    EXPECT_EQ(formatStatsLine({{"cpu", 12.6}, {"mem", 85.9}, {"lag", 3.2}, {"rx", 40}}),
              "CPU 13% \u00B7 85 MB \u00B7 lag 3 ms \u00B7 40 cmds/s \u00B7 BT backlog 0");
    EXPECT_EQ(formatStatsLine({{"cpu", "x"}, {"rx", 2.5}, {"bleBacklog", 7}}),
              "CPU 0% \u00B7 0 MB \u00B7 lag 0 ms \u00B7 0 cmds/s \u00B7 BT backlog 7");
}

}  // namespace
}  // namespace tamborix
