// The line editor's history: recall with the arrow keys, its ring of eight slots, its bounds.
#include <string>

#include "console/telnet_state.h"
#include "console_test_support.h"

namespace {

using console_test::Client;
using console_test::ConsoleTest;

const std::string kUp = "\x1b[A";
const std::string kDown = "\x1b[B";

// What the escape key sends for a line of `shown` characters: back to the start, blanks over
// the prompt and the line, back again and the prompt.
std::string erase(size_t shown) { return "\r " + std::string(shown, ' ') + "\r>"; }

void run(Client& c, const std::string& line) {
    ASSERT_TRUE(c.send(line + "\r"));
    const std::string expected = line + "\r\n>";
    ASSERT_EQ(c.read(expected.size()), expected);
}

using ConsoleHistory = ConsoleTest;

TEST_F(ConsoleHistory, UpArrowRecallsTheMostRecentFirstAndKeepsTheLastEight) {
    Client c;
    ASSERT_TRUE(c.login(port_));
    for (int i = 1; i <= 9; ++i) run(c, "c" + std::to_string(i));

    // Newest first; c1 was overwritten by c9; after the oldest (c2) the ring starts again.
    std::string shown;
    for (const char* want : {"c9", "c8", "c7", "c6", "c5", "c4", "c3", "c2", "c9"}) {
        ASSERT_TRUE(c.send(kUp));
        const std::string expected = erase(shown.size()) + want;
        ASSERT_EQ(c.read(expected.size()), expected) << "recalling " << want;
        shown = want;
    }
    // The recalled word is the line: typing goes on after it and the end of line runs it.
    ASSERT_TRUE(c.send("x\r"));
    EXPECT_EQ(c.read(4), "x\r\n>");
    EXPECT_EQ(console_test::hook_calls().back(), "c9x");
}

TEST_F(ConsoleHistory, DownArrowMovesForwardAndWrapsToTheFirstSlot) {
    Client c;
    ASSERT_TRUE(c.login(port_));
    run(c, "aa");
    run(c, "bbb");
    run(c, "c");
    const struct {
        const std::string& key;
        std::string shows;
    } steps[] = {{kUp, "c"}, {kUp, "bbb"}, {kDown, "c"}, {kDown, "aa"}, {kDown, "bbb"}};
    std::string shown;
    for (const auto& step : steps) {
        ASSERT_TRUE(c.send(step.key));
        const std::string expected = erase(shown.size()) + step.shows;
        ASSERT_EQ(c.read(expected.size()), expected);
        shown = step.shows;
    }
}

TEST_F(ConsoleHistory, ArrowsWithAnEmptyHistoryDoNothing) {
    Client c;
    ASSERT_TRUE(c.login(port_));
    ASSERT_TRUE(c.send(kUp + kDown + kUp));
    // Only the escapes answer; the sequence is over, so the next letters are typed normally.
    ASSERT_TRUE(c.send("help\r"));
    const std::string expected = erase(0) + erase(0) + erase(0) + "help\r\n";
    EXPECT_EQ(c.read(expected.size()), expected);
    // Only the command itself entered the history.
    EXPECT_EQ(g_bMaxCmdNum + 0, 1);
    EXPECT_STREQ(g_abOldTelnetCmd[0], "help");
}

TEST_F(ConsoleHistory, EscapeErasesTheDisplayedLineButKeepsIt) {
    Client c;
    ASSERT_TRUE(c.login(port_));
    ASSERT_TRUE(c.send("lin\x1b"));
    std::string expected = "lin" + erase(3);
    ASSERT_EQ(c.read(expected.size()), expected);
    // While the escape is pending other letters are dropped; backspace and end of line still act.
    ASSERT_TRUE(c.send("[qq\bes\r"));
    EXPECT_EQ(c.read(6), "\b \b\r\n>");
    EXPECT_EQ(console_test::hook_calls(), (std::vector<std::string>{"li"}));
}

TEST_F(ConsoleHistory, IsSharedBetweenSessions) {
    Client first;
    Client second;
    ASSERT_TRUE(first.login(port_));
    ASSERT_TRUE(second.login(port_));
    run(first, "probe");
    ASSERT_TRUE(second.send(kUp));
    const std::string expected = erase(0) + "probe";
    EXPECT_EQ(second.read(expected.size()), expected);
}

TEST_F(ConsoleHistory, OverlongLineIsBoundedInTheLineAndInTheHistory) {
    Client c;
    ASSERT_TRUE(c.login(port_));
    const size_t line_max = TELNET_CMD_LEN - 1;   // 8191 characters
    const size_t slot_max = TELNET_HISTORY_LEN - 1;  // 511 characters
    ASSERT_TRUE(c.send(std::string(20000, 'a') + "\r"));
    std::string expected = std::string(line_max, 'a') + "\r\n>";
    ASSERT_EQ(c.read(expected.size()), expected);
    ASSERT_EQ(console_test::hook_calls().size(), 1u);
    EXPECT_EQ(console_test::hook_calls()[0], std::string(line_max, 'a'));

    ASSERT_TRUE(c.send(kUp));
    expected = erase(0) + std::string(slot_max, 'a');
    ASSERT_EQ(c.read(expected.size()), expected);
    // A full recalled line still takes typing up to the line's bound, then ignores the rest.
    ASSERT_TRUE(c.send(std::string(line_max, 'b') + "\r"));
    expected = std::string(line_max - slot_max, 'b') + "\r\n>";
    ASSERT_EQ(c.read(expected.size()), expected);
    EXPECT_EQ(console_test::hook_calls().back(), std::string(slot_max, 'a') + std::string(line_max - slot_max, 'b'));

    ASSERT_TRUE(c.send(kUp));
    expected = erase(0) + std::string(slot_max, 'a');
    EXPECT_EQ(c.read(expected.size()), expected);
    ASSERT_TRUE(c.send("\x1b"));
    expected = erase(slot_max);
    EXPECT_EQ(c.read(expected.size()), expected);
}

}  // namespace
