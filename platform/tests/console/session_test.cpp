// A session's greeting, password prompt and line editing, byte for byte.
#include <string>

#include "console_test_support.h"

namespace {

using console_test::Client;
using console_test::ConsoleTest;
using console_test::greeting;

using ConsoleSession = ConsoleTest;

TEST_F(ConsoleSession, GreetsWithNegotiationBannerAndPasswordPrompt) {
    Client c;
    ASSERT_TRUE(c.connect_to(port_));
    const std::string expected =
        "\xFF\xFD\x18\xFF\xFD\x20\xFF\xFD\x23\xFF\xFD\x27"
        "Network Management System\r\nVer: 2.0\r\n\r\nPassword:";
    EXPECT_EQ(c.read(expected.size()), expected);
    EXPECT_TRUE(console_test::wait_for_log("Telnet connection from: [127.0.0.1:"));
}

TEST_F(ConsoleSession, WrongPasswordPromptsAgainAndTheRightOneOpensCommands) {
    Client c;
    ASSERT_TRUE(c.connect_to(port_));
    ASSERT_EQ(c.read(greeting().size()), greeting());

    ASSERT_TRUE(c.send("wux\r"));
    EXPECT_EQ(c.read(14), "***\r\nPassword:");
    ASSERT_TRUE(c.send("WUF\r"));  // the comparison is exact
    EXPECT_EQ(c.read(14), "***\r\nPassword:");
    ASSERT_TRUE(c.send("wuff\r"));
    EXPECT_EQ(c.read(15), "****\r\nPassword:");
    ASSERT_TRUE(c.send("\r"));
    EXPECT_EQ(c.read(11), "\r\nPassword:");

    ASSERT_TRUE(c.send("wuf\r"));
    EXPECT_EQ(c.read(8), "***\r\n\r\n>");
    ASSERT_TRUE(c.send("\r"));  // an empty command line only prompts again
    EXPECT_EQ(c.read(3), "\r\n>");
}

TEST_F(ConsoleSession, BackspaceWhileTypingThePassword) {
    Client c;
    ASSERT_TRUE(c.connect_to(port_));
    ASSERT_EQ(c.read(greeting().size()), greeting());
    ASSERT_TRUE(c.send("wuq\bf\r"));
    const std::string expected = "***\b \b*\r\n\r\n>";
    EXPECT_EQ(c.read(expected.size()), expected);
}

TEST_F(ConsoleSession, BackspaceOnAnEmptyLineSendsNothing) {
    Client c;
    ASSERT_TRUE(c.login(port_));
    ASSERT_TRUE(c.send("\b\bab\b\b\bc"));
    // Two backspaces on the empty line are silent; the third has nothing left to drop.
    EXPECT_EQ(c.read(9), "ab\b \b\b \bc");
}

TEST_F(ConsoleSession, OnlyPrintableBytesAreEchoedAndStored) {
    Client c;
    ASSERT_TRUE(c.login(port_));
    std::string all;
    std::string printable;
    for (int b = 0; b < 256; ++b) {
        if (b == 8 || b == 13 || b == 27) continue;  // backspace, end of line, escape
        all += static_cast<char>(b);
        if (b >= 32 && b <= 126) printable += static_cast<char>(b);
    }
    ASSERT_EQ(printable.size(), 95u);
    ASSERT_TRUE(c.send(all + "\r"));
    EXPECT_EQ(c.read(printable.size() + 3), printable + "\r\n>");
    // The line began with the blank (32): the command word is everything after it.
    ASSERT_EQ(console_test::hook_calls().size(), 1u);
    EXPECT_EQ(console_test::hook_calls()[0], printable.substr(1));
}

TEST_F(ConsoleSession, NegotiationRepliesLeaveOnlyTheirPrintableBytes) {
    Client c;
    ASSERT_TRUE(c.connect_to(port_));
    ASSERT_EQ(c.read(greeting().size()), greeting());
    // IAC WONT TERMINAL-TYPE: no byte of it is printable, so the password still matches.
    ASSERT_TRUE(c.send("\xFF\xFC\x18wuf\r"));
    EXPECT_EQ(c.read(8), "***\r\n\r\n>");
}

TEST_F(ConsoleSession, PeerCloseEndsTheSession) {
    {
        Client c;
        ASSERT_TRUE(c.login(port_));
    }
    EXPECT_TRUE(console_test::wait_for_log("Telnet client connection closed"));
    EXPECT_TRUE(console_test::wait_for_log("Telnet::handle_close handle = "));
    Client again;
    EXPECT_TRUE(again.login(port_));
}

}  // namespace
