// Sends to the controller client and the removal of client sockets from the reactor tables.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <thread>

#include "comm_test_support.h"
#include "zub_comm.h"
#include "zub_context.h"

using namespace std::chrono_literals;
using ct::SocketJobReactor;

namespace {

void ignore_input(int fd, short /*what*/, void* /*arg*/)
{
    char buf[256];
    (void)!recv(fd, buf, sizeof buf, MSG_DONTWAIT);
}

// A connected pair standing in for an accepted client (engine side, non-blocking as the socket
// job leaves it) and the client program.
struct ClientPair {
    int engine = -1;
    int client = -1;
    ClientPair()
    {
        int sv[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) == 0) {
            engine = sv[0];
            client = sv[1];
            fcntl(engine, F_SETFL, fcntl(engine, F_GETFL) | O_NONBLOCK);
        }
    }
    ~ClientPair()
    {
        if (client >= 0) {
            close(client);
        }
    }
    void close_client()
    {
        close(client);
        client = -1;
    }
};

class engine_comm_ClientLinks : public ::testing::Test {
protected:
    void SetUp() override
    {
        reactor_ = std::make_unique<SocketJobReactor>();
        ASSERT_TRUE(reactor_->ok());
    }

    void TearDown() override
    {
        reactor_info_t& info = zub_context()->reactor_info;
        if (info.ctrl_client.sock != 0) {
            zub_socket_reactor_delete(info.ctrl_client.sock, ZUB_SOCKET_KIND_CTRL);
        }
        info.ctrl_client.flag = 0;
        reactor_.reset();
    }

    // Lists the engine end as the controller, attached to the reactor as the socket job does.
    void make_controller(ClientPair& pair)
    {
        reactor_info_t& info = zub_context()->reactor_info;
        info.ctrl_client.ev = qk_reactor_attach(reactor_->handle(), pair.engine, ignore_input, nullptr, REACTOR_LEVEL);
        info.ctrl_client.sock = pair.engine;
        info.ctrl_client.flag = 1;
    }

    struct event* attach(int fd) { return qk_reactor_attach(reactor_->handle(), fd, ignore_input, nullptr, REACTOR_LEVEL); }

    std::unique_ptr<SocketJobReactor> reactor_;
};

TEST_F(engine_comm_ClientLinks, ReplyLongerThan64KiBReachesTheControllerWhole)
{
    ClientPair pair;
    ASSERT_GE(pair.engine, 0);
    const int small = 4096;
    setsockopt(pair.engine, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    make_controller(pair);
    std::string reply = "<ind type=\"anchor list\">";
    while (reply.size() < 200000) {
        reply += "<anchor id=\"" + std::to_string(reply.size()) + "\"/>";
    }
    reply += "</ind>";
    std::vector<BYTE> got;
    std::thread reader([&] { got = ct::read_exactly(pair.client, reply.size(), 10s); });
    bool sent = false;
    ASSERT_TRUE(ct::run_on_job(QE_JOBTYPE_ZUB_CONTROL, [&] { sent = zub_socket_stirng_send_to_ctrl(&reply); }));
    EXPECT_TRUE(sent);
    EXPECT_GT(zub_ctrl_reply_unsent(), 0u);  // the socket took a part; the rest waits, in order
    // What the socket job's pump does while replies wait.
    const auto give_up = std::chrono::steady_clock::now() + 10s;
    while (zub_ctrl_reply_flush() > 0 && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(1ms);
    }
    reader.join();
    ASSERT_EQ(got.size(), reply.size());  // not cut to reply.size() & 0xFFFF
    EXPECT_TRUE(std::equal(got.begin(), got.end(), reply.begin()));

    const BYTE line[5] = {'<', 'o', 'k', '>', '\n'};
    EXPECT_TRUE(zub_socket_msg_send_to_ctrl(line, sizeof line));
    EXPECT_EQ(ct::read_exactly(pair.client, 5, 2s), std::vector<BYTE>(line, line + 5));
}

TEST_F(engine_comm_ClientLinks, RepliesAControllerDoesNotReadAreQueuedUpToTheLimitThenItIsClosed)
{
    struct Row {
        const char* name;
        size_t reply_size;
        size_t replies;
        bool last_sent;     // what the last send returned
        bool still_listed;  // the controller after the sends
    };
    const size_t big = 256 * 1024;
    const Row rows[] = {
        {"a reply the socket takes at once", 100, 1, true, true},
        {"replies past the socket's room wait", big, 4, true, true},
        {"replies up to the limit wait", big, ZUB_CTRL_REPLY_LIMIT / big, true, true},
        {"one reply past the limit closes the controller", big, ZUB_CTRL_REPLY_LIMIT / big + 8, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ClientPair pair;
        make_controller(pair);
        const int fd = pair.engine;
        ct::PrintCapture prints;
        const std::string reply(row.reply_size, 'r');
        bool sent = false;
        for (size_t i = 0; i < row.replies; ++i) {
            sent = zub_socket_stirng_send_to_ctrl(&reply);
        }
        EXPECT_EQ(sent, row.last_sent);
        const reactor_info_t& info = zub_context()->reactor_info;
        EXPECT_EQ(info.ctrl_client.sock == fd, row.still_listed);
        EXPECT_LE(zub_ctrl_reply_unsent(), ZUB_CTRL_REPLY_LIMIT);
        const std::string closed = "controller sock " + std::to_string(fd) + " stopped reading: " +
                                   std::to_string(ZUB_CTRL_REPLY_LIMIT) + " reply bytes unsent, closed";
        EXPECT_EQ(prints.count_of(closed), row.still_listed ? 0u : 1u);
        if (!row.still_listed) {
            EXPECT_EQ(zub_ctrl_reply_unsent(), 0u);  // the replies went with their controller
            EXPECT_EQ(fcntl(fd, F_GETFD), -1);
        } else {
            zub_socket_reactor_delete(fd, ZUB_SOCKET_KIND_CTRL);
        }
    }
}

// The socket job's pump flushes the replies every 20 ms while they wait; here the test calls the
// flush with the clock it wants. Times are counted from just after the reply was sent.
TEST_F(engine_comm_ClientLinks, AControllerThatTakesNoWaitingRepliesFor30sIsClosed)
{
    struct Flush {
        WORD64 after_ms;
        bool listed;  // the controller after this flush
    };
    struct Row {
        const char* name;
        size_t reply;
        WORD64 reads_at_ms;  // the controller reads 16 KiB before this flush (0: never reads)
        std::vector<Flush> flushes;
    };
    const size_t big = 256 * 1024;
    const Row rows[] = {
        {"replies wait, none taken", big, 0, {{25000, true}, {30000, false}}},
        {"replies wait, some taken at 20 s", big, 20000, {{20000, true}, {45000, true}, {50000, false}}},
        {"nothing waits", 100, 0, {{25000, true}, {100000000, true}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ClientPair pair;
        const int small = 4096;
        setsockopt(pair.engine, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        make_controller(pair);
        const int fd = pair.engine;
        ct::PrintCapture prints;
        const std::string reply(row.reply, 'r');
        ASSERT_TRUE(zub_socket_stirng_send_to_ctrl(&reply));
        const WORD64 sent_at = CN_MonotonicMs();
        bool listed = true;
        for (const Flush& f : row.flushes) {
            if (f.after_ms == row.reads_at_ms) {
                char buf[16384];
                ASSERT_GT(recv(pair.client, buf, sizeof buf, MSG_DONTWAIT), 0);
            }
            zub_ctrl_reply_flush(sent_at + f.after_ms);
            listed = zub_context()->reactor_info.ctrl_client.sock == fd;
            EXPECT_EQ(listed, f.listed) << f.after_ms;
        }
        size_t closed = 0;
        const std::string line = "controller sock " + std::to_string(fd) + " took no reply bytes for 30 s while ";
        for (const std::string& l : prints.lines()) {
            closed += l.rfind(line, 0) == 0 ? 1 : 0;
        }
        EXPECT_EQ(closed, listed ? 0u : 1u);
        if (listed) {
            zub_socket_reactor_delete(fd, ZUB_SOCKET_KIND_CTRL);
        } else {
            EXPECT_EQ(zub_ctrl_reply_unsent(), 0u);
            EXPECT_EQ(fcntl(fd, F_GETFD), -1);
        }
    }
}

TEST_F(engine_comm_ClientLinks, SendsWithoutControllerOrTextFail)
{
    ct::PrintCapture prints;
    const BYTE line[1] = {'x'};
    EXPECT_FALSE(zub_socket_msg_send_to_ctrl(line, 1));  // no controller
    EXPECT_FALSE(zub_socket_stirng_send_to_ctrl(nullptr));
    ClientPair pair;
    make_controller(pair);
    EXPECT_FALSE(zub_socket_msg_send_to_ctrl(nullptr, 1));
    EXPECT_TRUE(prints.lines().empty());
}

TEST_F(engine_comm_ClientLinks, EpipeRemovesTheControllerButKeepsItsFlag)
{
    ClientPair pair;
    make_controller(pair);
    const int fd = pair.engine;
    pair.close_client();
    ct::PrintCapture prints;
    const std::string reply = "<ind type=\"rtls start\"/>";
    EXPECT_FALSE(zub_socket_stirng_send_to_ctrl(&reply));
    EXPECT_EQ(prints.count_of("qk_send to controller failed.errno is 32"), 1u);
    EXPECT_EQ(prints.count_of("errno = EPIPE,close ctrl client socket "), 1u);
    const reactor_info_t& info = zub_context()->reactor_info;
    EXPECT_EQ(info.ctrl_client.sock, 0);
    EXPECT_EQ(info.ctrl_client.ev, nullptr);
    EXPECT_EQ(info.ctrl_client.flag, 1);
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
}

TEST_F(engine_comm_ClientLinks, DeleteOfTheControllerClearsSocketAndEventOnly)
{
    reactor_info_t& info = zub_context()->reactor_info;
    EXPECT_FALSE(zub_socket_reactor_delete(0, ZUB_SOCKET_KIND_CTRL));
    ClientPair pair;
    make_controller(pair);
    const int fd = pair.engine;
    EXPECT_FALSE(zub_socket_reactor_delete(0, ZUB_SOCKET_KIND_CTRL));
    EXPECT_EQ(info.ctrl_client.sock, fd);  // sock 0 changes nothing

    // Another socket than the controller's leaves the controller alone.
    EXPECT_TRUE(zub_socket_reactor_delete(fd + 1000, ZUB_SOCKET_KIND_CTRL));
    EXPECT_EQ(info.ctrl_client.sock, fd);

    EXPECT_TRUE(zub_socket_reactor_delete(fd, ZUB_SOCKET_KIND_CTRL));
    EXPECT_EQ(info.ctrl_client.sock, 0);
    EXPECT_EQ(info.ctrl_client.ev, nullptr);
    EXPECT_EQ(info.ctrl_client.flag, 1);
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
    EXPECT_TRUE(zub_socket_reactor_delete(fd, ZUB_SOCKET_KIND_CTRL));  // already gone: nothing
}

TEST_F(engine_comm_ClientLinks, ConcurrentRemovalsOfTheControllerCloseItOnce)
{
    reactor_info_t& info = zub_context()->reactor_info;
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE(round);
        ClientPair pair;
        make_controller(pair);
        const int fd = pair.engine;
        // The reconnection job's link check and the socket job's read of a closed link at once;
        // exactly one takes the controller, detaches and closes it.
        std::atomic<int> ready{0};
        auto remover = [&] {
            ready.fetch_add(1);
            while (ready.load() < 2) {
            }
            zub_socket_reactor_delete(fd, ZUB_SOCKET_KIND_CTRL);
        };
        std::thread a(remover), b(remover);
        a.join();
        b.join();
        EXPECT_EQ(info.ctrl_client.sock, 0);
        EXPECT_EQ(info.ctrl_client.ev, nullptr);
        EXPECT_EQ(fcntl(fd, F_GETFD), -1);
        // A second detach would free the event twice: AddressSanitizer stops the run there.
    }
}

TEST_F(engine_comm_ClientLinks, DeleteOfAReportClientFreesItsSlotInItsOwnList)
{
    reactor_info_t& info = zub_context()->reactor_info;
    sock_info_t* lists[8] = {info.dsply_client,     info.tag_loc_client, info.tag_ext_client, info.anc_stat_client,
                             info.dac_blink_client, info.dac_pos_client, info.dac_ccp_client, info.data_server_client};
    for (WORD32 kind = 1; kind <= 8; ++kind) {
        SCOPED_TRACE(kind);
        sock_info_t* list = lists[kind - 1];
        ClientPair a, b;
        ASSERT_TRUE(zub_clients_save(info, list, a.engine, attach(a.engine)));
        ASSERT_TRUE(zub_clients_save(info, list, b.engine, attach(b.engine)));
        // The same socket in a list of another kind is not touched.
        const WORD32 other_kind = kind % 8 + 1;
        EXPECT_TRUE(zub_socket_reactor_delete(b.engine, other_kind));
        EXPECT_EQ(list[1].sock, b.engine);
        EXPECT_NE(fcntl(b.engine, F_GETFD), -1);

        EXPECT_TRUE(zub_socket_reactor_delete(b.engine, kind));
        EXPECT_EQ(list[1].flag, 0);
        EXPECT_EQ(list[1].sock, 0);
        EXPECT_EQ(list[1].ev, nullptr);
        EXPECT_EQ(fcntl(b.engine, F_GETFD), -1);
        EXPECT_EQ(list[0].sock, a.engine);  // the other client stays
        EXPECT_EQ(list[0].flag, 1);
        zub_socket_reactor_delete_display(a.engine, list);
        EXPECT_EQ(list[0].flag, 0);
        EXPECT_EQ(fcntl(a.engine, F_GETFD), -1);
    }
    EXPECT_TRUE(zub_socket_reactor_delete(12345, 9));  // unknown kind: nothing
    zub_socket_reactor_delete_display(12345, nullptr);
}

}  // namespace
