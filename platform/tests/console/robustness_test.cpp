// Clients that go away or stop reading, a taken port, the listener's signal rules and its close.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>

#include <ace/INET_Addr.h>
#include <ace/Reactor.h>
#include <ace/SOCK_Stream.h>

#include "CNPlatform.h"
#include "console/Network_Handler.h"
#include "console/Network_Listener.h"
#include "console_test_support.h"

namespace {

using console_test::Client;
using console_test::ConsoleTest;
using console_test::greeting;

using ConsoleRobustness = ConsoleTest;

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// Puts SIGPIPE back to its default (ending the process) for one test, so the console must
// survive broken pipes on its own and not by the test runner's signal disposition.
class DefaultSigpipe {
public:
    DefaultSigpipe() {
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigaction(SIGPIPE, &dfl, &old_);
    }
    ~DefaultSigpipe() { sigaction(SIGPIPE, &old_, nullptr); }

private:
    struct sigaction old_ {};
};

// Opens a session on the reactor thread, as the listener does: a session may be closed by the
// reactor as soon as it is registered, so it must not be created from any other thread.
class SessionOpener : public ACE_Event_Handler {
public:
    explicit SessionOpener(ACE_HANDLE handle) : handle_(handle) {}
    int handle_exception(ACE_HANDLE) override {
        ACE_SOCK_Stream stream;
        stream.set_handle(handle_);
        new Network_Handler(stream);
        return 0;
    }

private:
    ACE_HANDLE handle_;
};

TEST_F(ConsoleRobustness, WritingToAPeerThatIsGoneRaisesNoSignal) {
    DefaultSigpipe sigpipe_ends_the_process;
    // A stream socket whose peer has closed fails every write with EPIPE (and SIGPIPE).
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    ::close(ends[1]);
    SessionOpener opener(ends[0]);
    ASSERT_EQ(telnet_reactor()->notify(&opener), 0);  // its greeting fails; the reactor then closes it
    EXPECT_TRUE(console_test::wait_for_log("Telnet::handle_close handle = "));
    // A broken pipe is the peer leaving, not an error worth a log line.
    EXPECT_EQ(console_test::ace_log().find("Telnet send failed"), std::string::npos) << console_test::ace_log();
}

TEST_F(ConsoleRobustness, ClientsThatResetMidOutputAreClosed) {
    DefaultSigpipe sigpipe_ends_the_process;
    for (int round = 0; round < 3; ++round) {
        Client c;
        ASSERT_TRUE(c.login(port_));
        // Queued commands keep the session writing after the peer has gone.
        ASSERT_TRUE(c.send(repeat("help\r", 200)));
        c.set_abortive_close();
        c.close();
    }
    EXPECT_TRUE(console_test::wait_for_log("Telnet::handle_close handle = "));
    Client after;
    EXPECT_TRUE(after.login(port_));
}

TEST_F(ConsoleRobustness, ClientThatStopsReadingIsClosedAndTheReactorGoesOn) {
    Client stalled;
    ASSERT_TRUE(stalled.connect_to(port_, 4096));
    ASSERT_EQ(stalled.read(greeting().size()), greeting());
    ASSERT_TRUE(stalled.send("wuf\r"));
    ASSERT_EQ(stalled.read(8), "***\r\n\r\n>");
    // Each "help\r" asks for about 190 bytes; send commands without reading until the console
    // stops taking input (its output is stuck) or the connection is closed.
    const std::string burst = repeat("help\r", 200);
    size_t sent = 0;
    while (sent < 8u * 1024 * 1024) {
        ssize_t n = ::send(stalled.fd(), burst.data(), burst.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;  // closed by the console
        pollfd p{stalled.fd(), POLLOUT, 0};
        if (poll(&p, 1, 3 * 1000 * TELNET_SEND_TIMEOUT_S) == 0) break;
    }
    ASSERT_TRUE(console_test::wait_for_log("Telnet send failed"));
    // The reactor serves others again: a new session gets its greeting.
    Client other;
    EXPECT_TRUE(other.login(port_));
}

TEST_F(ConsoleRobustness, SecondListenerOnATakenPortDoesNotListen) {
    auto* second = new Network_Listener(ACE_INET_Addr(port_, INADDR_LOOPBACK));
    EXPECT_FALSE(second->is_listening());
    EXPECT_EQ(second->local_port(), 0);
    delete second;
    Client c;
    EXPECT_TRUE(c.login(port_));  // the first listener is untouched
}

TEST_F(ConsoleRobustness, ClosingTheReactorClosesListenerAndSessions) {
    Client c;
    ASSERT_TRUE(c.login(port_));
    CN_PlatformShutdown();
    EXPECT_EQ(c.read_to_eof(), "");
    const std::string log = console_test::ace_log();
    EXPECT_NE(log.find("Telnet::listener_close handle = "), std::string::npos);
    EXPECT_NE(log.find("Telnet::handle_close handle = "), std::string::npos);
}

// Runs in the death test's child: a listener of its own, then the signal.
void signal_listener(int signum) {
    auto* listener = new Network_Listener(ACE_INET_Addr(static_cast<u_short>(0), INADDR_LOOPBACK));
    listener->handle_signal(signum, nullptr, nullptr);
    std::exit(99);  // only for signals the listener ignores
}

TEST(ConsoleListenerSignals, ExitCodesAndLines) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(signal_listener(SIGINT), testing::ExitedWithCode(0), "Network_Listener::handle_signal SIGINT!");
    EXPECT_EXIT(signal_listener(SIGTERM), testing::ExitedWithCode(0), "Network_Listener::handle_signal SIGTERM!");
    EXPECT_EXIT(signal_listener(SIGABRT), testing::ExitedWithCode(2), "Network_Listener::handle_signal SIGABRT!");
    EXPECT_EXIT(signal_listener(SIGSEGV), testing::ExitedWithCode(3), "Network_Listener::handle_signal SIGSEGV!");
    EXPECT_EXIT(signal_listener(SIGILL), testing::ExitedWithCode(4), "Network_Listener::handle_signal SIGILL!");
    EXPECT_EXIT(signal_listener(SIGHUP), testing::ExitedWithCode(99), "");
}

}  // namespace
