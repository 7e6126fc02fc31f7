// The socket job in a running program built on the engine's job table (only its control row is
// a start-up stand-in, see socket_site_program.cpp), with the maintenance program beside it,
// each case in its own sandbox.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sandbox/daemon.h"
#include "sandbox/files.h"
#include "sandbox/harness.h"

namespace {

using namespace vorlen::sandbox;
using namespace std::chrono_literals;

constexpr const char* kZubLog = "/qvx/zub/log/uwb_zub.log";
constexpr const char* kOmpLog = "/qvx/omp/log/QES_OMP.log";
constexpr std::array<int, 9> kPorts = {3334, 3335, 12345, 12346, 12347, 12301, 12302, 12303, 3336};

int connect_to(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool listening(int port)
{
    const int fd = connect_to(port);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

// True when the peer closed fd within the time-out; false when it stays open (or sends).
bool closed_by_peer(int fd, std::chrono::milliseconds timeout)
{
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) != 1) {
        return false;
    }
    char c;
    return recv(fd, &c, 1, MSG_DONTWAIT) == 0;
}

// Everything the trace log wrote so far.
std::string trace_text() { return read_dir_files("/qvx/zub/log/zub"); }

class SystemSocket : public SandboxTest {
protected:
    void start(const std::string& ports_file = "")
    {
        ASSERT_TRUE(write_file("/qvx/omp/omp.cfg", "[QES]\nbureau=1\n[EndQES]\n"));
        omp_.emplace(Daemon::start(install_program(QES_OMP_BIN, "/qvx/omp")));
        ASSERT_TRUE(wait_for_text(kOmpLog, "Power on success line=", 10s));
        const std::string program = install_program(SOCKET_SITE_BIN, "/qvx/zub");
        if (!ports_file.empty()) {
            ASSERT_TRUE(write_file("/qvx/zub/socket_ports.txt", ports_file));
        }
        engine_.emplace(Daemon::start(program));
        ASSERT_TRUE(wait_for_text(kZubLog, "Power on success line=", 15s));
        ASSERT_TRUE(wait_for_text(kZubLog, "socket job answered the start event", 15s));
    }
    void stop()
    {
        ASSERT_TRUE(engine_->signal(SIGTERM));
        EXPECT_EQ(engine_->wait_exit(10s), 0);
        ASSERT_TRUE(omp_->signal(SIGTERM));
        EXPECT_EQ(omp_->wait_exit(10s), 0);
    }
    void TearDown() override
    {
        if (HasFailure()) {
            std::printf("---- %s ----\n%s\n---- trace ----\n%s\n", kZubLog, read_file(kZubLog).c_str(),
                        trace_text().c_str());
        }
    }
    std::optional<Daemon> omp_;
    std::optional<Daemon> engine_;
};

TEST_F(SystemSocket, NinePortsListenOnceTheStartEventIsAnswered)
{
    start();
    for (int port : kPorts) {
        EXPECT_TRUE(listening(port)) << port;
    }
    stop();
}

TEST_F(SystemSocket, FirstFailingServerStopsTheOnesAfterItAndTheStartIsStillAnswered)
{
    // The tag extension port (4th) taken before the start.
    const int blocker = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(12346);
    ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    start();
    for (size_t i = 0; i < kPorts.size(); ++i) {
        if (i != 3) {
            EXPECT_EQ(listening(kPorts[i]), i < 3) << kPorts[i];
        }
    }
    EXPECT_EQ(count_of(trace_text(), "create tag ext tcp server failed.port = 12346"), 1u);
    stop();
    close(blocker);
}

TEST_F(SystemSocket, PortZeroInTheConfigurationStopsThatServerAndTheOnesAfterIt)
{
    start("3334 3335 12345 12346 0 12301 12302 12303 3336\n");
    for (size_t i = 0; i < kPorts.size(); ++i) {
        EXPECT_EQ(listening(kPorts[i]), i < 4) << kPorts[i];
    }
    EXPECT_EQ(count_of(trace_text(), "create anc stat tcp server failed.port = 0"), 1u);
    stop();
}

TEST_F(SystemSocket, ControllerAndReportClients)
{
    start();
    // One controller at a time; the next is taken once the first has left.
    const int first = connect_to(3334);
    ASSERT_GE(first, 0);
    std::this_thread::sleep_for(100ms);
    const int second = connect_to(3334);
    ASSERT_GE(second, 0);
    EXPECT_TRUE(closed_by_peer(second, 2s));
    EXPECT_FALSE(closed_by_peer(first, 100ms));
    close(second);
    close(first);
    int third = -1;
    for (int i = 0; i < 50 && third < 0; ++i) {
        std::this_thread::sleep_for(20ms);
        third = connect_to(3334);
        if (third >= 0 && closed_by_peer(third, 100ms)) {
            close(third);
            third = -1;
        }
    }
    EXPECT_GE(third, 0);

    // 32 clients on the tag location port; the 33rd is closed at once.
    std::vector<int> clients;
    for (int i = 0; i < 32; ++i) {
        clients.push_back(connect_to(12345));
        ASSERT_GE(clients.back(), 0);
        std::this_thread::sleep_for(5ms);
    }
    const int extra = connect_to(12345);
    ASSERT_GE(extra, 0);
    EXPECT_TRUE(closed_by_peer(extra, 2s));
    close(extra);
    // A client that writes stays; one that leaves frees its slot.
    ASSERT_EQ(send(clients[0], "hello", 5, MSG_NOSIGNAL), 5);
    EXPECT_FALSE(closed_by_peer(clients[0], 200ms));
    close(clients[1]);
    std::this_thread::sleep_for(100ms);
    const int replacement = connect_to(12345);
    ASSERT_GE(replacement, 0);
    EXPECT_FALSE(closed_by_peer(replacement, 200ms));
    // The data server accepts and never sends.
    const int data = connect_to(3336);
    ASSERT_GE(data, 0);
    pollfd p{data, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 300), 0);
    for (int fd : clients) {
        close(fd);
    }
    close(replacement);
    close(data);
    close(third);
    stop();
}

}  // namespace
