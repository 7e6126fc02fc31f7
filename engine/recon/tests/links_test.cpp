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
#include "zub_trace_list.h"

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

// One set of files for the real jobs of this process (they are built once).
const dt::temp_root& jobs_root()
{
    static const dt::temp_root root;
    return root;
}

// Puts the real entries behind the probe rows of both jobs (a recorder reset forgets that),
// and the first time powers them on and sends them the start event as the control job does.
void start_jobs()
{
    for (WORD16 type : {WORD16{QE_JOBTYPE_ZUB_RECON}, WORD16{QE_JOBTYPE_ZUB_DISPLAY}}) {
        Recorder::instance().set_reaction(type, [type](const ct::Call& c) {
            void* body = c.body.empty() ? nullptr : const_cast<BYTE*>(c.body.data());
            (type == QE_JOBTYPE_ZUB_RECON ? zub_recon_entry : zub_display_entry)(c.state, c.msgId, body, nullptr, 0);
        });
    }
    static bool started = false;
    if (started) {
        return;
    }
    started = true;
    context_t* ctx = zub_context();
    ctx->tag_loc.sleep_time = 200;
    ctx->tag_ext.sleep_time = 200;
    ctx->anc_stat.sleep_time = 200;
    ctx->anc_stat.max_num = 10;
    zub_recon_job_set_root(jobs_root().path().c_str());
    zub_display_job_set_root(jobs_root().path().c_str());
    ASSERT_TRUE(ct::run_on_job(QE_JOBTYPE_ZUB_CONTROL, [ctx] {
        for (WORD32 msg : {WORD32{6000}, WORD32{ZUB_EV_CTRL_XX_INIT_START}}) {
            zub_asyn_msg_send(msg, nullptr, 0, &ctx->jid_reconnection);
            zub_asyn_msg_send(msg, nullptr, 0, &ctx->jid_display);
        }
    }));
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_CONTROL, ZUB_EV_XX_CTRL_JOB_START_OK, 2, 5s));
}

// A loopback connection whose server end is listed as a client of the socket job's list.
struct listed_client {
    int fd = -1;
    int served = -1;
    sock_info_t* list = nullptr;

    explicit listed_client(sock_info_t* l) : list(l)
    {
        const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(listener, 1) == 0 &&
            getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
            fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
                served = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            }
        }
        close(listener);
        if (served >= 0) {
            zub_clients_save(zub_context()->reactor_info, list, served, nullptr);
        }
    }
    ~listed_client()
    {
        sock_info_t taken{};
        if (zub_clients_take(zub_context()->reactor_info, list, served, &taken)) {
            close(served);
        }
        if (fd >= 0) {
            close(fd);
        }
    }
    bool ok() const { return served >= 0; }
    std::vector<BYTE> read(size_t n, std::chrono::milliseconds timeout) const { return ct::read_exactly(fd, n, timeout); }
};

class engine_recon_Links : public ct::ReactorTest {
protected:
    engine_recon_Links() : ReactorTest(4) {}

    void SetUp() override
    {
        ReactorTest::SetUp();
        ctx_ = zub_context();
    }

    void TearDown() override
    {
        Recorder::instance().clear();
        ReactorTest::TearDown();
    }

    // A recon_core on the reconnection job's thread with the engine's own links.
    template <class F>
    void on_recon(F fn)
    {
        ASSERT_TRUE(ct::run_on_job(QE_JOBTYPE_ZUB_RECON, fn));
    }

    context_t* ctx_ = nullptr;
    dt::temp_root root_;
};

TEST_F(engine_recon_Links, JobsStartOpenEveryLinkAndReopenOneWithinAnEightSecondCheck)
{
    FakeAnchor first(2), second(3);
    ASSERT_TRUE(first.ok());
    ASSERT_TRUE(second.ok());
    ct::configure_anchor(0, 2);
    ct::configure_anchor(1, 3);
    ctx_->anchor_count = 2;
    start_jobs();
    const int peer0 = first.accept_one(15s);
    const int peer1 = second.accept_one(15s);
    ASSERT_GE(peer0, 0);
    ASSERT_GE(peer1, 0);

    const std::string file = jobs_root().path() + "/log/anc_statistics.txt";
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

TEST_F(engine_recon_Links, AnAbsentAnchorIsReportedWithStatusZeroAtEveryCheckAndConnectedOnceItListens)
{
    Anchor* a = ct::configure_anchor(0, 6);
    {
        std::lock_guard<GuardMutex> lock(a->link_lock);
        a->timeConnected = timeval{};  // never connected in this process
    }
    ctx_->anchor_count = 1;
    start_jobs();
    // A status batch left by an earlier case goes out with the next flush (200 ms), before we listen.
    std::this_thread::sleep_for(400ms);
    listed_client status(ctx_->reactor_info.anc_stat_client);
    ASSERT_TRUE(status.ok());
    // 0xA8, length 9, hardware id 0x00AB000000000000, status 0 (never connected), 0xA8.
    const std::vector<BYTE> never = {0xA8, 0x09, 0x00, 0, 0, 0, 0, 0, 0, 0xAB, 0x00, 0x00, 0xA8};
    EXPECT_EQ(status.read(13, 12s), never);
    EXPECT_EQ(status.read(13, 12s), never);  // the next check, 8 s on

    FakeAnchor anchor_at(6);
    ASSERT_TRUE(anchor_at.ok());
    EXPECT_GE(anchor_at.accept_one(12s), 0);
    EXPECT_TRUE(wait_count(jobs_root().path() + "/log/anc_statistics.txt",
                           "id(0) anchor_id(ab000000000000) anchor_ip(127.0.0.6) has reconnect", 1, 5s));
    EXPECT_NE(a->link_socket(), 0u);
    ctx_->anchor_count = 0;
}

TEST_F(engine_recon_Links, TracedTagBlinksAndPositionsReachTheRawAndReportClients)
{
    jobs_root().write("cfg/tag_trace.cfg", "1122334455667788\n");
    reactor_info_t& info = ctx_->reactor_info;
    listed_client blink(info.dac_blink_client), loc(info.tag_loc_client), disp(info.dsply_client),
        raw_pos(info.dac_pos_client);
    ASSERT_TRUE(blink.ok() && loc.ok() && disp.ok() && raw_pos.ok());
    ctx_->displayer_type = 1;
    start_jobs();
    for (int i = 0; i < 80 && !tag_trace_cfg_check(0x1122334455667788ull); ++i) {
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_TRUE(tag_trace_cfg_check(0x1122334455667788ull));

    // The managers' road: a raw blink; then a selector's position.
    const std::vector<BYTE> raw_blink = {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11,
                                         0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x2A};
    const std::vector<BYTE> position = {0x04, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x08,
                                        0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0xDC, 0x05, 0x00,
                                        0x00, 0xFE, 0xFF, 0xFF, 0xFF, 0x04, 0x03, 0x02, 0x01};
    ASSERT_TRUE(ct::run_on_job(QE_JOBTYPE_ZUB_MANAGER_BEGIN, [&] {
        zub_asyn_msg_send(ZUB_EV_SELECTOR_DISPLAY_RAW_BLIBK, raw_blink.data(), 17, &zub_context()->jid_display);
    }));
    ASSERT_TRUE(ct::run_on_job(QE_JOBTYPE_ZUB_SELECTOR_BEGIN, [&] {
        zub_asyn_msg_send(ZUB_EV_SELECTOR_DISPLAY_TAG_LOC, position.data(), 29, &zub_context()->jid_display);
    }));
    auto framed = [](std::vector<BYTE> head, const std::vector<BYTE>& body) {
        head.insert(head.end(), body.begin(), body.end());
        head.push_back(0xA8);
        return head;
    };
    EXPECT_EQ(blink.read(20, 5s), framed({0xA8, 0x11}, raw_blink));
    EXPECT_EQ(loc.read(33, 5s), framed({0xA8, 0x1D, 0x00}, position));
    const std::vector<BYTE> xyz(position.begin() + 17, position.end());
    const std::vector<BYTE> tag(position.begin() + 1, position.begin() + 9);
    const std::vector<BYTE> anc(position.begin() + 9, position.begin() + 17);
    std::vector<BYTE> norvat = xyz;
    norvat.insert(norvat.end(), tag.begin(), tag.end());
    norvat.insert(norvat.end(), anc.begin(), anc.end());
    EXPECT_EQ(disp.read(32, 5s), framed({0xA8, 0x1D, 0x65}, norvat));
    std::vector<BYTE> raw = tag;
    raw.insert(raw.end(), xyz.begin(), xyz.end());
    EXPECT_EQ(raw_pos.read(23, 5s), framed({0xA8, 0x14}, raw));
    // The blink is counted in the next statistics file.
    EXPECT_TRUE(wait_count(jobs_root().path() + "/log/tag_all_statistics.txt",
                           "tag id(1122334455667788) rcv blink(1)\n", 1, 7s));
    ctx_->displayer_type = 0;
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
