// The reconnection and display jobs on the engine's platform with real anchor links: stand-in
// anchors on 127.0.0.2:3000 and up (in a network namespace of the process's own), the socket
// job's reactor on its own thread, and a stand-in control job that sends the start event.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "comm_test_support.h"
#include "display_fakes.h"
#include "zub_comm.h"
#include "zub_context.h"
#include "zub_display_job.h"
#include "zub_recon_job.h"

using namespace std::chrono_literals;
using ct::FakeAnchor;
using ct::Recorder;
using ct::SocketJobReactor;

namespace {

size_t count_in_file(const std::string& path, const std::string& text)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    const std::string all = s.str();
    size_t n = 0;
    for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) {
        ++n;
    }
    return n;
}

bool wait_count(const std::string& path, const std::string& text, size_t n, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (count_in_file(path, text) < n) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::vector<WORD16> con_states(WORD16 anc_id)
{
    std::vector<WORD16> out;
    for (const ct::Call& c : Recorder::instance().calls(QE_JOBTYPE_ZUB_RECON, ZUB_EV_XX_RECON_ANCHOR_CON_STATE)) {
        if (c.body.size() == 4 && (c.body[0] | c.body[1] << 8) == anc_id) {
            out.push_back(static_cast<WORD16>(c.body[2] | c.body[3] << 8));
        }
    }
    return out;
}

class engine_recon_Links : public ::testing::Test {
protected:
    void SetUp() override
    {
        CT_REQUIRE_PRIVATE_NETNS();
        Recorder::instance().clear();
        reactor_ = std::make_unique<SocketJobReactor>();
        ASSERT_TRUE(reactor_->ok());
        ctx_ = zub_context();
    }

    void TearDown() override
    {
        Recorder::instance().clear();
        if (ctx_ != nullptr) {
            for (unsigned i = 0; i < 4; ++i) {
                Anchor* a = &ctx_->anchors[i];
                ct::run_on_job(QE_JOBTYPE_ZUB_RECON, [a] { zub_socket_anchor_close(a); });
            }
        }
        reactor_.reset();
    }

    // A recon_core on the reconnection job's thread with the engine's own links.
    template <class F>
    void on_recon(F fn)
    {
        ASSERT_TRUE(ct::run_on_job(QE_JOBTYPE_ZUB_RECON, fn));
    }

    context_t* ctx_ = nullptr;
    dt::temp_root root_;
    std::unique_ptr<SocketJobReactor> reactor_;
};

TEST_F(engine_recon_Links, JobsStartOpenEveryLinkAndReopenOneWithinAnEightSecondCheck)
{
    FakeAnchor first(2), second(3);
    ASSERT_TRUE(first.ok());
    ASSERT_TRUE(second.ok());
    ct::configure_anchor(0, 2);
    ct::configure_anchor(1, 3);
    ctx_->anchor_count = 2;
    ctx_->tag_loc.sleep_time = 200;
    ctx_->tag_ext.sleep_time = 200;
    ctx_->anc_stat.sleep_time = 200;
    zub_recon_job_set_root(root_.path().c_str());
    zub_display_job_set_root(root_.path().c_str());
    // The real entries behind the probe rows of both jobs.
    for (WORD16 type : {WORD16{QE_JOBTYPE_ZUB_RECON}, WORD16{QE_JOBTYPE_ZUB_DISPLAY}}) {
        Recorder::instance().set_reaction(type, [type](const ct::Call& c) {
            void* body = c.body.empty() ? nullptr : const_cast<BYTE*>(c.body.data());
            (type == QE_JOBTYPE_ZUB_RECON ? zub_recon_entry : zub_display_entry)(c.state, c.msgId, body, nullptr, 0);
        });
    }
    // The control job's part: power-on, then the start event.
    ASSERT_TRUE(ct::run_on_job(QE_JOBTYPE_ZUB_CONTROL, [this] {
        for (WORD32 msg : {WORD32{6000}, WORD32{ZUB_EV_CTRL_XX_INIT_START}}) {
            zub_asyn_msg_send(msg, nullptr, 0, &ctx_->jid_reconnection);
            zub_asyn_msg_send(msg, nullptr, 0, &ctx_->jid_display);
        }
    }));
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_CONTROL, ZUB_EV_XX_CTRL_JOB_START_OK, 2, 5s));
    const int peer0 = first.accept_one(15s);
    const int peer1 = second.accept_one(15s);
    ASSERT_GE(peer0, 0);
    ASSERT_GE(peer1, 0);

    const std::string file = root_.path() + "/log/anc_statistics.txt";
    const std::string up0 = "id(0) anchor_id(ab000000000000) anchor_ip(127.0.0.2) has reconnect";
    const std::string up1 = "id(1) anchor_id(ab000000000001) anchor_ip(127.0.0.3) has reconnect";
    EXPECT_TRUE(wait_count(file, up0, 1, 15s));
    EXPECT_TRUE(wait_count(file, up1, 1, 15s));
    // The display job heard of both anchors found down at the first check.
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_DISPLAY, ZUB_EV_RECON_DISPLAY_MSG, 2, 5s));

    // The anchor goes away: its link closes, and the next check (at most 8 s on) reconnects it.
    first.close_peer(peer0);
    EXPECT_TRUE(wait_count(file, "id(0) anchor_id(ab000000000000) anchor_ip(127.0.0.2) has disconnect", 1, 5s));
    const auto closed_at = std::chrono::steady_clock::now();
    EXPECT_GE(first.accept_one(12s), 0);
    EXPECT_LE(std::chrono::steady_clock::now() - closed_at, 12s);
    EXPECT_TRUE(wait_count(file, up0, 2, 5s));
    EXPECT_EQ(count_in_file(file, up1), 1u);
    ctx_->anchor_count = 0;
}

TEST_F(engine_recon_Links, ACloseWaitLinkIsClosedAndReopenedInOnePass)
{
    FakeAnchor anchor_at(4);
    ASSERT_TRUE(anchor_at.ok());
    Anchor* a = ct::configure_anchor(2, 4);
    ctx_->anchor_count = 3;
    ct::configure_anchor(0, 9);  // no one listens there
    ct::configure_anchor(1, 9);
    SocketJobReactor::set_close_on_eof(false);  // the socket job does not see the end: CLOSE_WAIT stays
    job_recon_links links;
    WORD64 now = 1'700'000'000'000ull;
    recon_core core(*ctx_, links, [&now] { return now; }, root_.path());
    on_recon([&] { core.anchor_check(); });
    const int peer = anchor_at.accept_one(2s);
    ASSERT_GE(peer, 0);
    const WORD32 first_sock = a->link_socket();
    ASSERT_NE(first_sock, 0u);
    EXPECT_TRUE(zub_tcp_established(static_cast<int>(first_sock)));

    // The first pass's reports are in before they are forgotten.
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_RECON, ZUB_EV_XX_RECON_ANCHOR_CON_STATE, 1, 5s));
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_DISPLAY, ZUB_EV_RECON_DISPLAY_MSG, 3, 5s));
    anchor_at.close_peer(peer);
    ASSERT_TRUE(SocketJobReactor::wait_eof(a, 2s));
    EXPECT_FALSE(zub_tcp_established(static_cast<int>(first_sock)));
    Recorder::instance().clear();
    on_recon([&] { core.anchor_check(); });
    EXPECT_GE(anchor_at.accept_one(2s), 0);
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_RECON, ZUB_EV_XX_RECON_ANCHOR_CON_STATE, 2, 5s));
    EXPECT_EQ(con_states(2), (std::vector<WORD16>{0, 1}));
    EXPECT_TRUE(zub_tcp_established(static_cast<int>(a->link_socket())));
    // The two unreachable anchors and the reopened one are reported to the display job.
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_DISPLAY, ZUB_EV_RECON_DISPLAY_MSG, 3, 5s));
    std::vector<WORD16> told;
    for (const ct::Call& c : Recorder::instance().calls(QE_JOBTYPE_ZUB_DISPLAY, ZUB_EV_RECON_DISPLAY_MSG)) {
        ASSERT_EQ(c.body.size(), 2u);
        told.push_back(static_cast<WORD16>(c.body[0] | c.body[1] << 8));
    }
    EXPECT_EQ(told, (std::vector<WORD16>{0, 1, 2}));
    ctx_->anchor_count = 0;
}

TEST_F(engine_recon_Links, ADeadControllerLinkIsRemovedAndItsCheckStops)
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const int controller = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(controller, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const int served = accept(listener, nullptr, nullptr);
    ASSERT_GE(served, 0);
    struct Row {
        int sock;
        bool established;
    };
    for (Row r : {Row{-1, false}, Row{listener, false}, Row{served, true}}) {
        SCOPED_TRACE(r.sock);
        EXPECT_EQ(zub_tcp_established(r.sock), r.established);
    }
    reactor_info_t& info = ctx_->reactor_info;
    {
        std::lock_guard<GuardMutex> lock(info.clients_lock);
        info.ctrl_client = sock_info_t{1, served, nullptr};
    }
    job_recon_links links;
    recon_core core(*ctx_, links, [] { return WORD64{1}; }, root_.path());
    on_recon([&] { core.on_ctrl_setup(); });
    const WORD32 timer = core.ctrl_link_timer();
    EXPECT_NE(timer, 0u);
    EXPECT_NE(timer, ZUB_INVALID_TIMER_ID);
    on_recon([&] { core.ctrl_check(); });
    EXPECT_EQ(info.ctrl_client.sock, served);  // still established

    close(controller);
    for (int i = 0; i < 100 && zub_tcp_established(served); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    on_recon([&] { core.ctrl_check(); });
    EXPECT_EQ(info.ctrl_client.sock, 0);
    EXPECT_EQ(core.ctrl_link_timer(), 0u);
    on_recon([&] { core.on_ctrl_setup(); });
    EXPECT_NE(core.ctrl_link_timer(), 0u);
    EXPECT_NE(core.ctrl_link_timer(), timer);
    on_recon([&] { zub_DelTimer(core.ctrl_link_timer()); });
    close(listener);
}

}  // namespace
