// The built-in commands and the program's hook, byte for byte.
#include <string>

#include <ace/DLL.h>
#include <ace/Service_Config.h>
#include <ace/Service_Object.h>
#include <ace/Service_Repository.h>
#include <ace/Service_Types.h>

#include "console/telnet_state.h"
#include "console_test_support.h"

namespace {

using console_test::Client;
using console_test::ConsoleTest;

const std::string kHelp =
    "\r\nCommands    currently supported:\r\n"
    "help            list commands currently supported\r\n"
    "ls [-e/s DevID] display information of devices\r\n"
    "svc xxx         service configure command\r\n"
    "exit            exit\r\n"
    "\r\n";

const std::string kSvcHelp =
    "\r\nservice configure command:\r\n"
    "help          list states of all managed service\r\n"
    "reconfigure   reload the service configuration\r\n"
    "suspend xxx   suspend service named xxx\r\n"
    "resume xxx    resume service named xxx\r\n"
    "\r\n";

// "%5s %3s %6s %4s %8s %-15s%5s %6s" with the eight titles: IP_ADDR is padded to 15 and Port
// right-aligned in 5, so nine blanks stand between them.
const std::string kLsHeader = "DevID Num Parent Type Protocol IP_ADDR         Port Online\r\n";
const std::string kLsUsage = "Usage: ls [-e devid] [-s devid]\r\n";

// Sends a command line and expects its echo, the end of line, `output` and the prompt.
void expect_command(Client& c, const std::string& line, const std::string& output) {
    ASSERT_TRUE(c.send(line + "\r"));
    const std::string expected = line + "\r\n" + output + ">";
    EXPECT_EQ(c.read(expected.size()), expected) << "for the line " << line;
}

using ConsoleCommands = ConsoleTest;

TEST_F(ConsoleCommands, HelpAndQuestionMarkListTheCommands) {
    Client c;
    ASSERT_TRUE(c.login(port_));
    expect_command(c, "help", kHelp);
    expect_command(c, "?", kHelp);
    expect_command(c, "  help  extra words", kHelp);
    EXPECT_TRUE(console_test::hook_calls().empty());
}

TEST_F(ConsoleCommands, LsHeaderUsageAndOptions) {
    Client c;
    ASSERT_TRUE(c.login(port_));
    expect_command(c, "ls", kLsHeader + "\r\n");
    expect_command(c, "ls -x", kLsUsage + "\r\n");
    expect_command(c, "ls -x -y", kLsUsage + kLsUsage + "\r\n");
    expect_command(c, "ls -e", kLsUsage + "\r\n");  // the device id is missing
    expect_command(c, "ls -e 5 -s 7", "\r\n");
    expect_command(c, "ls -e12", "\r\n");
    expect_command(c, "ls foo", "\r\n");  // any further word: no header
}

TEST_F(ConsoleCommands, ExitEndsTheSessionWithNothingMoreSent) {
    Client c;
    ASSERT_TRUE(c.login(port_));
    ASSERT_TRUE(c.send("exit\r"));
    EXPECT_EQ(c.read_to_eof(), "exit\r\n");
    EXPECT_TRUE(console_test::wait_for_log("Telnet client exited "));
    EXPECT_TRUE(console_test::wait_for_log("Telnet::handle_close handle = "));
}

TEST_F(ConsoleCommands, UnknownCommandsGoToTheProgramHook) {
    Client c;
    ASSERT_TRUE(c.login(port_));
    expect_command(c, "anchors all", "");  // the hook writes nothing: only the prompt
    expect_command(c, "lines", "first\r\nsecond\r\n");
    std::string rows;
    for (int i = 0; i < 100; ++i) {
        char row[16];
        std::snprintf(row, sizeof row, "row%03d\r\n", i);
        rows += row;
    }
    expect_command(c, "flood", rows);  // a count above the table's 100 rows sends the 100
    ASSERT_EQ(console_test::hook_calls(), (std::vector<std::string>{"anchors", "lines", "flood"}));
}

TEST_F(ConsoleCommands, BlanksOnlyLineIsLikeAnEmptyLine) {
    Client c;
    ASSERT_TRUE(c.login(port_));
    expect_command(c, "    ", "");
    EXPECT_TRUE(console_test::hook_calls().empty());
    EXPECT_EQ(g_bMaxCmdNum + 0, 0);  // nothing entered the history
}

TEST_F(ConsoleCommands, EachCommandWordIsWrittenToStandardOutput) {
    Client c;
    ASSERT_TRUE(c.login(port_));
    testing::internal::CaptureStdout();
    expect_command(c, "help me", kHelp);
    expect_command(c, "lines", "first\r\nsecond\r\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "cmd[0]:help \ncmd[1]:lines \n");
}

// A service the tests put into ACE's service repository.
class ProbeService : public ACE_Service_Object {
public:
    int suspend() override { return 0; }
    int resume() override { return 0; }
};

class ConsoleServiceCommands : public ConsoleTest {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        add("alpha");
        add("beta_service");
    }
    void TearDown() override {
        ConsoleTest::TearDown();
        ACE_Service_Repository::instance()->remove(ACE_TEXT("alpha"));
        ACE_Service_Repository::instance()->remove(ACE_TEXT("beta_service"));
        ACE_Service_Config::reconfig_occurred(0);
    }

    static void add(const char* name) {
        auto* impl = new ACE_Service_Object_Type(new ProbeService, name,
                                                 ACE_Service_Type::DELETE_OBJ | ACE_Service_Type::DELETE_THIS);
        ACE_DLL none;
        ASSERT_EQ(ACE_Service_Repository::instance()->insert(new ACE_Service_Type(name, impl, none, true)), 0);
    }

    // "#%2.2d %-20s %-10s" for each service, then the end of the row.
    static std::string listing(const std::string& alpha_state, const std::string& beta_state) {
        return "Service running state:\r\n"
               "#01 alpha                " + alpha_state + "\r\n" +
               "#02 beta_service         " + beta_state + "\r\n" +
               "\r\n";
    }
};

TEST_F(ConsoleServiceCommands, SvcAloneListsItsSubCommands) {
    Client c;
    ASSERT_TRUE(c.login(port_));
    expect_command(c, "svc", kSvcHelp);
}

TEST_F(ConsoleServiceCommands, SvcHelpSuspendAndResume) {
    Client c;
    ASSERT_TRUE(c.login(port_));
    expect_command(c, "svc help", listing("(active)  ", "(active)  "));
    expect_command(c, "svc suspend alpha", "");
    expect_command(c, "svc help", listing("(paused)  ", "(active)  "));
    expect_command(c, "svc  resume alpha", "");
    expect_command(c, "svc help", listing("(active)  ", "(active)  "));
}

TEST_F(ConsoleServiceCommands, SvcReconfigureMarksAReconfiguration) {
    Client c;
    ASSERT_TRUE(c.login(port_));
    ACE_Service_Config::reconfig_occurred(0);
    expect_command(c, "svc reconfigure", "Reconfiguration done.\r\n\r\n");
    EXPECT_EQ(ACE_Service_Config::reconfig_occurred(), 1);
}

TEST_F(ConsoleServiceCommands, BadDirectivesAnswerWithThePromptOnly) {
    Client c;
    ASSERT_TRUE(c.login(port_));
    expect_command(c, "svc suspend nosuch", "");
    expect_command(c, "svc ( ) ' \" garbage", "");
    expect_command(c, "svc help trailing", "");  // not "help": handed over as a directive
    expect_command(c, "svc help", listing("(active)  ", "(active)  "));
}

}  // namespace
