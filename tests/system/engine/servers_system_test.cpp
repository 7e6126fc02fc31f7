// The socket job's servers in the running vorlen (every job its real one, qes_omp beside it):
// the nine ports after start, a taken port stopping the servers after it in table order, one
// controller at a time and 32 clients per report list.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "engine_site.h"
#include "sandbox/files.h"

namespace {

using namespace engine_site;
using vorlen::sandbox::count_of;

class SystemEngineServers : public vorlen::sandbox::SandboxTest {
protected:
    void TearDown() override
    {
        if (HasFailure()) {
            std::printf("---- trace ----\n%s\n", engine_.trace().c_str());
        }
        engine_.stop();
    }
    Engine engine_;
};

// Waits until every port of `ports` listens; false after the time-out.
bool all_listening(std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        bool all = true;
        for (int port : kPorts) {
            all = all && listening(port);
        }
        if (all || std::chrono::steady_clock::now() > end) {
            return all;
        }
        std::this_thread::sleep_for(200ms);
    }
}

TEST_F(SystemEngineServers, NinePortsListenAfterTheStart)
{
    ASSERT_NO_FATAL_FAILURE(engine_.start(SiteConfig{}));
    EXPECT_TRUE(all_listening(10s));
}

// A server that cannot listen: the servers before it in the table listen, it and the ones after
// it do not, its failure line is written once, and the socket job still answers the start.
struct StoppedServer {
    const char* name;
    size_t index;                // in kPorts
    bool taken;                  // its port bound by the test before the start
    std::pair<std::string, std::string> vm_zub_edit;
    const char* line;
};

void PrintTo(const StoppedServer& row, std::ostream* os) { *os << row.name; }

class SystemEngineStoppedServer : public SystemEngineServers, public ::testing::WithParamInterface<StoppedServer> {};

TEST_P(SystemEngineStoppedServer, ServersAfterItAreNotCreated)
{
    const StoppedServer& row = GetParam();
    const int blocker = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (row.taken) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(kPorts[row.index]));
        ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    }
    SiteConfig site;
    site.vm_zub_edit = row.vm_zub_edit;
    ASSERT_NO_FATAL_FAILURE(engine_.start(site));
    std::this_thread::sleep_for(1s);
    for (size_t i = 0; i < 9; ++i) {
        if (i != row.index) {
            EXPECT_EQ(listening(kPorts[i]), i < row.index) << kPorts[i];
        }
    }
    const std::string trace = engine_.trace();
    EXPECT_EQ(count_of(trace, row.line), 1u);
    EXPECT_EQ(count_of(trace, "SOCKET process init OK, FailTimes=0."), 1u);
    close(blocker);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SystemEngineStoppedServer,
    ::testing::Values(
        StoppedServer{"TagExtPortTaken", 3, true, {}, "create tag ext tcp server failed.port = 12346"},
        // An element without "Port" gives port 0 (a "Port" of 0 would be replaced by the default).
        StoppedServer{"AncStatPortMissing", 4, false, {"<ancStat Port=\"12347\"", "<ancStat"},
                      "create anc stat tcp server failed.port = 0"}),
    [](const ::testing::TestParamInfo<StoppedServer>& info) { return std::string(info.param.name); });

TEST_F(SystemEngineServers, SecondControllerAndThirtyThirdReportClientAreClosedAtOnce)
{
    ASSERT_NO_FATAL_FAILURE(engine_.start(SiteConfig{}));
    ASSERT_TRUE(all_listening(10s));
    // The probes' controller connections are gone before the first one of this test.
    std::this_thread::sleep_for(500ms);

    Conn first = connect_local(3334);
    ASSERT_TRUE(first.ok());
    std::this_thread::sleep_for(200ms);
    Conn second = connect_local(3334);
    ASSERT_TRUE(second.ok());
    EXPECT_TRUE(second.closed_by_peer(2s));
    EXPECT_FALSE(first.closed_by_peer(300ms));
    // Once the first has left, the next one is the controller.
    first.close();
    std::this_thread::sleep_for(300ms);
    Conn third = connect_local(3334);
    ASSERT_TRUE(third.ok());
    EXPECT_FALSE(third.closed_by_peer(500ms));

    for (int port : {12345, 12301}) {
        std::vector<Conn> clients;
        for (int i = 0; i < 32; ++i) {
            clients.push_back(connect_local(port));
            ASSERT_TRUE(clients.back().ok()) << port << " client " << i;
        }
        // Every one of the 32 is kept.
        std::this_thread::sleep_for(300ms);
        for (const Conn& c : clients) {
            EXPECT_FALSE(c.closed_by_peer(10ms)) << port;
        }
        Conn extra = connect_local(port);
        ASSERT_TRUE(extra.ok());
        EXPECT_TRUE(extra.closed_by_peer(2s)) << port;
        // A client that writes stays; one that leaves frees its slot for the next.
        ASSERT_TRUE(clients[0].write_all(Bytes{'h', 'e', 'l', 'l', 'o'}));
        EXPECT_FALSE(clients[0].closed_by_peer(300ms)) << port;
        clients[1].close();
        std::this_thread::sleep_for(300ms);
        Conn replacement = connect_local(port);
        ASSERT_TRUE(replacement.ok());
        EXPECT_FALSE(replacement.closed_by_peer(500ms)) << port;
    }
    EXPECT_GE(count_of(engine_.trace(), "displayer cnt is bigger"), 2u);

    // The data server accepts and never sends.
    Conn data = connect_local(3336);
    ASSERT_TRUE(data.ok());
    EXPECT_TRUE(data.drain(500ms).empty());
    EXPECT_FALSE(data.closed_by_peer(100ms));
}

}  // namespace
