#include <gtest/gtest.h>

#include <string>

#include "console/Command_Line.h"

namespace {

TEST(ConsoleCommandLine, SplitsAtBlanksAndCollapsesRuns) {
    Command_Line line("  svc   suspend  alpha ");
    ASSERT_EQ(line.argc, 3);
    EXPECT_STREQ(line.argv[0], "svc");
    EXPECT_STREQ(line.argv[1], "suspend");
    EXPECT_STREQ(line.argv[2], "alpha");
    EXPECT_EQ(line.argv[3], nullptr);
    EXPECT_EQ(line.offset_of(0), 2);
    EXPECT_EQ(line.offset_of(1), 8);
}

TEST(ConsoleCommandLine, BlanksOnlyGiveNoWord) {
    Command_Line line("     ");
    EXPECT_EQ(line.argc, 0);
    EXPECT_EQ(line.argv[0], nullptr);
}

TEST(ConsoleCommandLine, TakesAtMostElevenWords) {
    Command_Line line("w0 w1 w2 w3 w4 w5 w6 w7 w8 w9 w10 w11 w12");
    ASSERT_EQ(line.argc, 11);
    EXPECT_STREQ(line.argv[10], "w10");
    EXPECT_EQ(line.argv[11], nullptr);
}

TEST(ConsoleCommandLine, CutsAnOverlongLineToTheBuffer) {
    std::string text(20000, 'x');
    Command_Line line(text.c_str());
    ASSERT_EQ(line.argc, 1);
    EXPECT_EQ(std::string(line.argv[0]).size(), static_cast<size_t>(TELNET_CMD_LEN - 1));
}

}  // namespace
