// The socket job's servers, clients and controller link on the engine's probe platform, with the
// loop running on the socket job's own thread.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "socket_rig.h"
#include "zub_context.h"
#include "zub_msg_id.h"

using namespace std::chrono_literals;
using ct::Recorder;

namespace {

int listen_sock(BYTE type)
{
    const reactor_info_t& info = zub_context()->reactor_info;
    const int32_t socks[ZUB_SOCKET_TYPE_COUNT] = {info.ctrl_sock,      info.dsply_sock,   info.tag_loc_sock,
                                                  info.tag_ext_sock,   info.anc_stat_sock, info.dac_blink_sock,
                                                  info.dac_pos_sock,   info.dac_ccp_sock, info.data_server_sock};
    return socks[type];
}

int int_option(int fd, int level, int name)
{
    int v = -1;
    socklen_t len = sizeof v;
    getsockopt(fd, level, name, &v, &len);
    return v;
}

WORD16 bound_port(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

bool send_text(int fd, const std::string& s) { return send(fd, s.data(), s.size(), 0) == static_cast<ssize_t>(s.size()); }

class engine_socket_Servers : public ::testing::Test {
protected:
    void SetUp() override
    {
        Recorder::instance().clear();
        srig::take_ctrl_lines();
        ports_ = srig::free_ports();
        srig::configure_ports(ports_);
    }
    void TearDown() override
    {
        for (int fd : clients_) {
            close(fd);
        }
        servers_.stop();
    }
    int client(BYTE type)
    {
        const int fd = srig::connect_to(ports_[type]);
        if (fd >= 0) {
            clients_.push_back(fd);
        }
        return fd;
    }
    void drop_client(int fd)
    {
        close(fd);
        std::erase(clients_, fd);
    }

    std::array<WORD16, ZUB_SOCKET_TYPE_COUNT> ports_{};
    srig::Servers servers_;
    std::vector<int> clients_;
};

TEST_F(engine_socket_Servers, NineServersListenOnTheirPortsWithTheirOptions)
{
    ASSERT_TRUE(servers_.create());
    for (BYTE t = 0; t < ZUB_SOCKET_TYPE_COUNT; ++t) {
        SCOPED_TRACE(static_cast<int>(t));
        const int fd = listen_sock(t);
        ASSERT_GT(fd, 0);
        EXPECT_EQ(bound_port(fd), ports_[t]);
        EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
        EXPECT_NE(int_option(fd, SOL_SOCKET, SO_REUSEADDR), 0);
        EXPECT_EQ(int_option(fd, IPPROTO_TCP, TCP_NODELAY), 1);
        EXPECT_EQ(int_option(fd, SOL_SOCKET, SO_ACCEPTCONN), 1);
        EXPECT_EQ(int_option(fd, SOL_SOCKET, SO_KEEPALIVE) != 0, t == ZUB_SOCKET_TYPE_CTRL);
    }
    // The accepted controller: keep-alive probes after 60 s of silence, 10 s apart, 6 of them,
    // and unacknowledged replies given up after 120 s, so a controller that vanished frees the
    // slot within about two minutes.
    ASSERT_TRUE(servers_.run());
    for (BYTE t = 0; t < ZUB_SOCKET_TYPE_COUNT; ++t) {
        SCOPED_TRACE(static_cast<int>(t));
        ASSERT_GE(client(t), 0);
        ASSERT_TRUE(srig::wait_until([t] { return srig::listed(t) == 1; }, 2s));
        reactor_info_t& info = zub_context()->reactor_info;
        const int fd = t == ZUB_SOCKET_TYPE_CTRL ? info.ctrl_client.sock : zub_client_list(info, t)[0].sock;
        const bool ctrl = t == ZUB_SOCKET_TYPE_CTRL;
        EXPECT_EQ(int_option(fd, SOL_SOCKET, SO_KEEPALIVE) != 0, ctrl);
        if (ctrl) {
            EXPECT_EQ(int_option(fd, IPPROTO_TCP, TCP_KEEPIDLE), 60);
            EXPECT_EQ(int_option(fd, IPPROTO_TCP, TCP_KEEPINTVL), 10);
            EXPECT_EQ(int_option(fd, IPPROTO_TCP, TCP_KEEPCNT), 6);
            EXPECT_EQ(int_option(fd, IPPROTO_TCP, TCP_USER_TIMEOUT), 120000);
        }
    }
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_RECON, ZUB_EV_SOCKET_RECON_CTRL_SETUP, 1, 2s));
    const auto setups = Recorder::instance().calls(QE_JOBTYPE_ZUB_RECON, ZUB_EV_SOCKET_RECON_CTRL_SETUP);
    ASSERT_EQ(setups.size(), 1u);
    EXPECT_TRUE(setups[0].body.empty());
}

TEST_F(engine_socket_Servers, FirstFailingServerStopsTheServersAfterIt)
{
    const char* const lines[ZUB_SOCKET_TYPE_COUNT] = {
        "create control tcp server failed.port = %d",
        "create displayer tcp server failed.port = %d",
        "create tag location tcp server failed.port = %d",
        "create tag ext tcp server failed.port = %d",
        "create anc stat tcp server failed.port = %d",
        "create dac interface blink port tcp server failed.port = %d",
        "create dac interface pos port tcp server failed.port = %d",
        "create dac interface ccp port tcp server failed.port = %d",
        "create data server tcp server failed.port = %d",
    };
    struct Row {
        BYTE failing;
        bool port_zero;  // else the port is taken
    };
    for (const Row row : {Row{0, false}, Row{1, false}, Row{3, false}, Row{8, false}, Row{5, true}, Row{0, true}}) {
        SCOPED_TRACE(std::to_string(row.failing) + (row.port_zero ? " zero" : " taken"));
        Recorder::instance().clear();
        ports_ = srig::free_ports();
        int blocker = -1;
        if (row.port_zero) {
            ports_[row.failing] = 0;
        } else {
            blocker = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(ports_[row.failing]);
            ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
            ASSERT_EQ(listen(blocker, 1), 0);
        }
        srig::configure_ports(ports_);
        ct::PrintCapture prints;
        ASSERT_TRUE(servers_.create());
        for (BYTE t = 0; t < ZUB_SOCKET_TYPE_COUNT; ++t) {
            EXPECT_EQ(listen_sock(t) > 0, t < row.failing) << static_cast<int>(t);
        }
        char line[128];
        std::snprintf(line, sizeof line, lines[row.failing], static_cast<int>(ports_[row.failing]));
        EXPECT_EQ(prints.count_of(line), 1u);
        EXPECT_EQ(prints.count_of("qk_bind failed"), row.port_zero ? 0u : 1u);
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(Recorder::instance().calls(QE_JOBTYPE_ZUB_RECON, ZUB_EV_SOCKET_RECON_CTRL_SETUP).size(),
                  row.failing > 0 ? 1u : 0u);
        servers_.stop();
        if (blocker >= 0) {
            close(blocker);
        }
    }
}

TEST_F(engine_socket_Servers, EntryPowersOnStartsOnceAndAnswersWhateverTheOutcome)
{
    auto entry = [](WORD16 state, WORD32 event) {
        return ct::run_on_job(QE_JOBTYPE_ZUB_SOCKET, [=] { zub_socket_entry(state, event, nullptr, nullptr, 0); });
    };
    ct::PrintCapture prints;
    std::signal(SIGPIPE, SIG_DFL);
    // Start event before power-on: dropped.
    ASSERT_TRUE(entry(ZUB_SOCKET_STATE_INIT, ZUB_EV_CTRL_XX_INIT_START));
    ASSERT_TRUE(entry(ZUB_SOCKET_STATE_INIT, 6000));
    ASSERT_TRUE(Recorder::instance().wait_for(ct::kTypeScs, 6003, 1, 2s));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(Recorder::instance().calls(ct::kTypeScs, 6003).size(), 1u);
    EXPECT_TRUE(Recorder::instance().calls(QE_JOBTYPE_ZUB_CONTROL, ZUB_EV_XX_CTRL_JOB_START_OK).empty());
    EXPECT_EQ(listen_sock(ZUB_SOCKET_TYPE_CTRL), 0);
    struct sigaction now {};
    sigaction(SIGPIPE, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);

    ASSERT_TRUE(entry(ZUB_SOCKET_STATE_STARTUP, ZUB_EV_CTRL_XX_INIT_START));
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_CONTROL, ZUB_EV_XX_CTRL_JOB_START_OK, 1, 2s));
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_SOCKET, ZUB_EV_SOCKET_LINK_SETUP, 1, 2s));
    EXPECT_EQ(Recorder::instance().calls(QE_JOBTYPE_ZUB_CONTROL, ZUB_EV_XX_CTRL_JOB_START_OK).size(), 1u);
    EXPECT_GT(listen_sock(ZUB_SOCKET_TYPE_DATA_SERVER), 0);
    servers_.adopt();
    servers_.stop();  // the rig tears down what the entry created

    // A server that fails does not keep the answer back.
    Recorder::instance().clear();
    const int blocker = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(ports_[ZUB_SOCKET_TYPE_CTRL]);
    ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_TRUE(entry(ZUB_SOCKET_STATE_STARTUP, ZUB_EV_CTRL_XX_INIT_START));
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_CONTROL, ZUB_EV_XX_CTRL_JOB_START_OK, 1, 2s));
    EXPECT_EQ(listen_sock(ZUB_SOCKET_TYPE_CTRL), 0);
    servers_.adopt();
    servers_.stop();
    close(blocker);

    ASSERT_TRUE(entry(ZUB_SOCKET_STATE_RUN, 0x1234));
    EXPECT_EQ(prints.count_of("recv error unknown msgid(4660)"), 1u);

    // Without a reactor: printed, no server, and the hand-over returns at once instead of
    // looping on nothing.
    bool created = true;
    ASSERT_TRUE(ct::run_on_job(QE_JOBTYPE_ZUB_SOCKET, [&] { created = zub_socket_create_on(nullptr); }));
    EXPECT_FALSE(created);
    EXPECT_EQ(prints.count_of("qk_reactor_new failed, no tcp server created."), 1u);
    EXPECT_EQ(listen_sock(ZUB_SOCKET_TYPE_CTRL), 0);
    ASSERT_EQ(zub_context()->reactor_info.sock_handle, nullptr);
    ASSERT_TRUE(entry(ZUB_SOCKET_STATE_RUN, ZUB_EV_SOCKET_LINK_SETUP));  // returns at once
    EXPECT_EQ(prints.count_of("no reactor, socket job does not enter the reactor loop"), 1u);
}

TEST_F(engine_socket_Servers, ControllerLinesReachTheControlJobOneBlockEach)
{
    ASSERT_TRUE(servers_.create());
    ASSERT_TRUE(servers_.run());
    const int c = client(ZUB_SOCKET_TYPE_CTRL);
    ASSERT_GE(c, 0);
    ASSERT_TRUE(send_text(c, "a\nb"));
    ASSERT_TRUE(srig::wait_ctrl_lines(1, 2s));
    ASSERT_TRUE(send_text(c, "c\r\n\n\n"));
    ASSERT_TRUE(srig::wait_ctrl_lines(2, 2s));
    EXPECT_EQ(srig::ctrl_lines(), (std::vector<std::string>{"a", "bc\r"}));

    // 10,000 lines: each its own block, each freed by the receiver.
    srig::take_ctrl_lines();
    std::string stream;
    for (int i = 0; i < 10000; ++i) {
        stream += "<req n=\"" + std::to_string(i) + "\"/>\n";
    }
    ASSERT_TRUE(send_text(c, stream));
    ASSERT_TRUE(srig::wait_ctrl_lines(10000, 30s));
    const auto lines = srig::ctrl_lines();
    ASSERT_EQ(lines.size(), 10000u);
    for (int i = 0; i < 10000; i += 999) {
        EXPECT_EQ(lines[i], "<req n=\"" + std::to_string(i) + "\"/>");
    }
}

TEST_F(engine_socket_Servers, SecondControllerClosedAtOnceAndANewOneAcceptedAfterTheFirstLeaves)
{
    ASSERT_TRUE(servers_.create());
    ASSERT_TRUE(servers_.run());
    ct::PrintCapture prints;
    const int first = client(ZUB_SOCKET_TYPE_CTRL);
    ASSERT_TRUE(srig::wait_until([] { return srig::listed(ZUB_SOCKET_TYPE_CTRL) == 1; }, 2s));
    const int first_sock = zub_context()->reactor_info.ctrl_client.sock;
    const int second = client(ZUB_SOCKET_TYPE_CTRL);
    ASSERT_GE(second, 0);
    EXPECT_TRUE(srig::peer_closed(second, 2s));
    EXPECT_EQ(zub_context()->reactor_info.ctrl_client.sock, first_sock);
    size_t refused = 0;
    for (const std::string& l : prints.lines()) {
        refused += l.rfind("only one connect to zub,so close this connect socket(", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(refused, 1u);

    // The first leaves in the middle of a line; the next controller starts clean.
    ASSERT_TRUE(send_text(first, "half"));
    std::this_thread::sleep_for(50ms);
    drop_client(first);
    ASSERT_TRUE(srig::wait_until([] { return srig::listed(ZUB_SOCKET_TYPE_CTRL) == 0; }, 2s));
    const int third = client(ZUB_SOCKET_TYPE_CTRL);
    ASSERT_TRUE(srig::wait_until([] { return srig::listed(ZUB_SOCKET_TYPE_CTRL) == 1; }, 2s));
    ASSERT_TRUE(send_text(third, "whole\n"));
    ASSERT_TRUE(srig::wait_ctrl_lines(1, 2s));
    EXPECT_EQ(srig::ctrl_lines(), (std::vector<std::string>{"whole"}));
}

TEST_F(engine_socket_Servers, EachReportListTakes32ClientsAndClosesThe33rd)
{
    ASSERT_TRUE(servers_.create());
    ASSERT_TRUE(servers_.run());
    for (BYTE t = 1; t < ZUB_SOCKET_TYPE_COUNT; ++t) {
        SCOPED_TRACE(static_cast<int>(t));
        ct::PrintCapture prints;
        std::vector<int> mine;
        for (unsigned i = 0; i < 32; ++i) {
            mine.push_back(client(t));
            // One at a time: the listen backlog is 5.
            ASSERT_TRUE(srig::wait_until([t, i] { return srig::listed(t) == i + 1; }, 5s));
        }
        const int extra = client(t);
        ASSERT_GE(extra, 0);
        EXPECT_TRUE(srig::peer_closed(extra, 2s));
        EXPECT_EQ(prints.count_of("displayer cnt is bigger"), 1u);
        EXPECT_EQ(srig::listed(t), 32u);
        // A client that leaves frees its slot for the next.
        drop_client(mine[5]);
        ASSERT_TRUE(srig::wait_until([t] { return srig::listed(t) == 31; }, 2s));
        const int next = client(t);
        ASSERT_TRUE(srig::wait_until([t] { return srig::listed(t) == 32; }, 2s));
        EXPECT_FALSE(srig::peer_closed(next, 50ms));
    }
}

TEST_F(engine_socket_Servers, ReportClientInputIsReadAndDroppedAndTheDataServerNeverSends)
{
    ASSERT_TRUE(servers_.create());
    ASSERT_TRUE(servers_.run());
    for (const BYTE t : {ZUB_SOCKET_TYPE_TAG_LOC, ZUB_SOCKET_TYPE_DATA_SERVER}) {
        SCOPED_TRACE(static_cast<int>(t));
        ct::PrintCapture prints;
        const int c = client(t);
        ASSERT_TRUE(srig::wait_until([t] { return srig::listed(t) == 1; }, 2s));
        ASSERT_TRUE(send_text(c, "hello"));
        ASSERT_TRUE(srig::wait_until(
            [&] {
                for (const std::string& l : prints.lines()) {
                    if (l.find("rcv_len = 5.") != std::string::npos && l.rfind("Displayer cannot send msg.sock = ", 0) == 0) {
                        return true;
                    }
                }
                return false;
            },
            2s));
        EXPECT_EQ(srig::listed(t), 1u);
        pollfd p{c, POLLIN, 0};
        EXPECT_EQ(poll(&p, 1, 100), 0);  // nothing sent back, not closed
        drop_client(c);
        ASSERT_TRUE(srig::wait_until([t] { return srig::listed(t) == 0; }, 2s));
    }
}

}  // namespace
