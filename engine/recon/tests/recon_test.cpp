// The reconnection job's logic on fake links, a recording platform and a fixed clock: states,
// the 8-s anchor check, the 30-min "never connected" rule, the controller check, and every line
// of the anchor statistics file.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <map>
#include <memory>
#include <set>

#include "display_fakes.h"
#include "zub_anchor_reset.h"
#include "zub_context.h"
#include "zub_msg_id.h"
#include "zub_recon.h"
#include "zub_shared_field.h"
#include "zub_timer.h"
#include "zub_trace_list.h"

namespace {

constexpr WORD32 kTimerIdBase = 500;

class fake_links final : public recon_links {
public:
    void power_on_ack() override { ++acks; }
    void start_ok() override { ++start_oks; }
    void start_complete() override { ++start_completes; }
    void tell_display(WORD16 id) override { told.push_back(id); }
    WORD32 start_loop_timer(BYTE type, WORD32 seconds) override
    {
        timers.push_back({type, seconds});
        return fail_timers ? ZUB_INVALID_TIMER_ID : kTimerIdBase + static_cast<WORD32>(timers.size());
    }
    void kill_timer(WORD32 id) override { killed.push_back(id); }
    WORD32 anchor_socket(const Anchor& a) override { return a.link_socket(); }
    bool socket_established(int sock) override { return established.count(sock) != 0; }
    void anchor_close(Anchor& a) override
    {
        closed.push_back(a.id);
        WORD32 s = 0;
        struct event* ev = nullptr;
        a.link_take(&s, &ev);
    }
    bool anchor_open(Anchor& a) override
    {
        opened.push_back(a.id);
        if (reachable.count(a.id) == 0) {
            return false;
        }
        const int sock = 1000 + a.id;
        established.insert(sock);
        return a.link_record(static_cast<WORD32>(sock), nullptr);
    }
    int ctrl_socket() override { return ctrl_sock; }
    void ctrl_remove(int sock) override
    {
        ctrl_removed.push_back(sock);
        ctrl_sock = 0;
    }

    int acks = 0, start_oks = 0, start_completes = 0;
    bool fail_timers = false;
    std::vector<std::pair<BYTE, WORD32>> timers;
    std::vector<WORD32> killed;
    std::vector<WORD16> told, opened, closed;
    std::set<int> established;
    std::set<WORD16> reachable;
    int ctrl_sock = 0;
    std::vector<int> ctrl_removed;
};

class engine_recon_Core : public ::testing::Test {
protected:
    void SetUp() override
    {
        ctx_ = zub_context();
        ctx_->anchor_count = 4;
        for (WORD16 i = 0; i < 5; ++i) {
            reset_anchor(i, 0xA000 + i);
        }
        zub_trace_replace(ctx_->anc_trace_cfg, nullptr, 0);
        core_ = std::make_unique<recon_core>(*ctx_, links_, [this] { return now_; }, root_.path());
    }

    void TearDown() override
    {
        for (WORD16 i = 0; i < 5; ++i) {
            reset_anchor(i, 0);
        }
        ctx_->anchor_count = 0;
        zub_trace_replace(ctx_->anc_trace_cfg, nullptr, 0);
    }

    void reset_anchor(WORD16 i, WORD64 hardware_id)
    {
        Anchor& a = ctx_->anchors[i];
        zub_test_reset_anchor(a, hardware_id, i);
        inet_pton(AF_INET, ("127.0.0." + std::to_string(i + 2)).c_str(), &a.ip);
    }

    // A link as the anchor check finds it: open and established, open in CLOSE_WAIT, or none.
    void link(WORD16 i, bool established)
    {
        const int sock = 1000 + i;
        ASSERT_TRUE(ctx_->anchors[i].link_record(static_cast<WORD32>(sock), nullptr));
        if (established) {
            links_.established.insert(sock);
        }
    }

    std::string file() const { return root_.read("log/anc_statistics.txt"); }

    context_t* ctx_ = nullptr;
    WORD64 now_ = dt::utc_ms(2026, 3, 1, 20, 30, 0);
    dt::temp_root root_;
    fake_links links_;
    std::unique_ptr<recon_core> core_;
};

TEST_F(engine_recon_Core, StatesPowerOnStartAndTheControllerServerMessage)
{
    struct Row {
        WORD16 state;
        WORD32 msg;
        WORD16 next;
        int acks, start_oks, start_completes;
        size_t timers;
    };
    const Row rows[] = {
        {0, 6000, 6, 1, 0, 0, 0},
        {0, 6002, 6, 1, 0, 0, 0},
        {0, ZUB_EV_CTRL_XX_INIT_START, 0, 0, 0, 0, 0},
        {6, ZUB_EV_SOCKET_RECON_CTRL_SETUP, 6, 0, 0, 0, 1},
        {6, 0x4242, 6, 0, 0, 0, 0},
        {6, ZUB_EV_CTRL_XX_INIT_START, 1, 0, 1, 1, 0},
        {1, 0x4242, 1, 0, 0, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.msg);
        fake_links l;
        recon_core core(*ctx_, l, [this] { return now_; }, root_.path());
        EXPECT_EQ(core.on_event(r.state, r.msg, nullptr, 0, 0), r.next);
        EXPECT_EQ(l.acks, r.acks);
        EXPECT_EQ(l.start_oks, r.start_oks);
        EXPECT_EQ(l.start_completes, r.start_completes);
        EXPECT_EQ(l.timers.size(), r.timers);
        if (r.timers == 1) {
            EXPECT_EQ(l.timers[0], (std::pair<BYTE, WORD32>{101, 8}));
            EXPECT_EQ(core.ctrl_link_timer(), kTimerIdBase + 1);
        }
    }
}

TEST_F(engine_recon_Core, StartCompleteChecksAtOnceArmsTheTimersAndTruncatesTheFile)
{
    root_.write("log/anc_statistics.txt", "from an earlier run\n");
    links_.reachable = {0, 1, 2, 3};
    EXPECT_EQ(core_->on_event(1, ZUB_EV_RECON_START_COMPLETE, nullptr, 0, 0), 1);
    EXPECT_EQ(links_.opened, (std::vector<WORD16>{0, 1, 2, 3}));
    EXPECT_EQ(links_.told, (std::vector<WORD16>{0, 1, 2, 3}));
    EXPECT_EQ(links_.timers, (std::vector<std::pair<BYTE, WORD32>>{{100, 8}, {102, 300}}));
    EXPECT_EQ(file(), "");

    // Later start completes (a copy relayed or forged) check nothing, arm nothing, truncate nothing.
    const BYTE up[4] = {1, 0, 1, 0};
    core_->on_event(1, ZUB_EV_XX_RECON_ANCHOR_CON_STATE, up, 4, 0);
    const std::string written = file();
    ASSERT_NE(written, "");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(core_->on_event(1, ZUB_EV_RECON_START_COMPLETE, nullptr, 0, 0), 1);
    }
    EXPECT_EQ(links_.opened.size(), 4u);
    EXPECT_EQ(links_.told.size(), 4u);
    EXPECT_EQ(links_.timers.size(), 2u);
    EXPECT_EQ(file(), written);

    dt::print_capture prints;
    recon_core unwritable(*ctx_, links_, [this] { return now_; }, root_.path() + "/missing");
    unwritable.on_start_complete();
    EXPECT_EQ(prints.count_of("open file failed."), 1u);
}

TEST_F(engine_recon_Core, AnchorCheckReopensWhatIsDownAndStopsAtTheFirstUnusableSlot)
{
    enum Link { none, established, close_wait, invalid };
    struct Row {
        const char* name;
        std::vector<Link> links;  // anchors 0..3
        std::vector<WORD64> hardware;
        WORD16 id_of_2;
        std::vector<WORD16> closed, opened;
    };
    const Row rows[] = {
        {"all established", {established, established, established, established}, {1, 1, 1, 1}, 2, {}, {}},
        {"down and close-wait reopened", {none, close_wait, established, invalid}, {1, 1, 1, 1}, 2, {1}, {0, 1, 3}},
        {"stops at hardware id 0", {none, none, none, none}, {1, 0, 1, 1}, 2, {}, {0}},
        {"stops at an id above 9999", {none, none, none, none}, {1, 1, 1, 1}, 10000, {}, {0, 1}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        links_ = fake_links{};
        links_.reachable = {0, 1, 2, 3};
        for (WORD16 i = 0; i < 4; ++i) {
            reset_anchor(i, r.hardware[i] == 0 ? 0 : 0xA000 + i);
            if (r.links[i] == established || r.links[i] == close_wait) {
                link(i, r.links[i] == established);
            } else if (r.links[i] == invalid) {
                ctx_->anchors[i].tcp_sock.sock = 0xFFFFFFFFu;
            }
        }
        ctx_->anchors[2].id = r.id_of_2;
        core_->on_event(1, ZUB_EV_LOOP_TIMER, nullptr, 0, zub_timer_para(ZUB_RECON_TIMER_ANCHOR_CHECK, 0));
        EXPECT_EQ(links_.closed, r.closed);
        EXPECT_EQ(links_.opened, r.opened);
        EXPECT_EQ(links_.told, r.opened);
        ctx_->anchors[2].id = 2;
        ctx_->anchors[3].tcp_sock.sock = 0;
    }
}

TEST_F(engine_recon_Core, NeverConnectedIsWrittenOnlyThirtyMinutesAfterTheMark)
{
    ctx_->anchor_count = 2;
    links_.reachable = {};
    // Anchor 1 was connected once and is down now: never listed.
    link(1, false);
    WORD32 s = 0;
    struct event* ev = nullptr;
    ctx_->anchors[1].link_take(&s, &ev);
    core_->on_start_complete();  // first check: the mark

    const WORD64 t0 = now_;  // 20:30:00 UTC
    struct Row {
        WORD64 at;
        std::string line;  // what this pass adds
    };
    const Row rows[] = {
        {t0 + 8000, ""},
        {t0 + 1800000, ""},  // exactly 30 min: not yet
        {t0 + 1800001, "2026-03-01 05:00:00 anchor_id(a000) anchor_ip(127.0.0.2) never connected\n"},
        {t0 + 1808001, ""},  // the mark moved to the previous pass
        {t0 + 3600001, ""},
        {t0 + 3600002, "2026-03-01 05:30:00 anchor_id(a000) anchor_ip(127.0.0.2) never connected\n"},
    };
    std::string expect;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.at - t0);
        now_ = r.at;
        core_->on_timer(ZUB_RECON_TIMER_ANCHOR_CHECK);
        expect += r.line;
        EXPECT_EQ(file(), expect);
    }
    EXPECT_EQ(links_.told.size(), 2u * (1 + std::size(rows)));  // both anchors told at every pass
}

TEST_F(engine_recon_Core, LinkAndReceiveLengthLinesWithTheShiftedHour)
{
    core_->on_start_complete();
    const std::string before = file();
    const BYTE up[4] = {2, 0, 1, 0}, down[4] = {2, 0, 0, 0}, unusable[4] = {4, 0, 1, 0}, out_of_range[4] = {0x10, 0x27, 1, 0};
    reset_anchor(4, 0);
    core_->on_event(1, ZUB_EV_XX_RECON_ANCHOR_CON_STATE, up, 4, 0);
    core_->on_event(1, ZUB_EV_XX_RECON_ANCHOR_CON_STATE, unusable, 4, 0);
    core_->on_event(1, ZUB_EV_XX_RECON_ANCHOR_CON_STATE, out_of_range, 4, 0);
    now_ += 61000;
    core_->on_event(1, ZUB_EV_XX_RECON_ANCHOR_CON_STATE, down, 4, 0);
    const BYTE wrong[4] = {3, 0, 0x2C, 0x01};
    core_->on_event(1, ZUB_EV_SOCKET_RECON_RCVLEN_WRONG, wrong, 4, 0);
    EXPECT_EQ(file(), before +
                          "2026-03-01 04:30:00 id(2) anchor_id(a002) anchor_ip(127.0.0.4) has reconnect\n"
                          "2026-03-01 04:31:01 id(2) anchor_id(a002) anchor_ip(127.0.0.4) has disconnect\n"
                          "2026-03-01 04:31:01 anc_id 3 sock rcv len is wrong.left_len = 300. reset buff\n");
}

TEST_F(engine_recon_Core, DumpListsTracedAnchorsWithTheirTagCounts)
{
    links_.reachable = {0, 1, 2, 3};
    core_->on_start_complete();
    const std::string begin = "=================write time:2026-03-01 04:30:00 begin=================\n";
    const std::string end = "=================end=================\n";
    const std::string before = file();
    core_->on_timer(ZUB_RECON_TIMER_STATISTICS);
    EXPECT_EQ(file(), before + begin + end);

    const WORD64 traced[] = {0xA001, 0xA003, 0xA000 + 9};
    zub_trace_replace(ctx_->anc_trace_cfg, traced, 3);
    Anchor& a1 = ctx_->anchors[1];
    a1.count_tag_blink(0x77);
    a1.count_tag_blink(0x77);
    a1.count_tag_blink(0x88);
    zub_store(a1.is_req_cfg, true);
    WORD32 s = 0;
    struct event* ev = nullptr;
    ctx_->anchors[3].link_take(&s, &ev);
    const std::string before2 = file();
    core_->on_timer(ZUB_RECON_TIMER_STATISTICS);
    // The counts as the managers' table holds them (its first-report rule is its own).
    ASSERT_EQ(a1.blink_table_size(), 2u);
    const std::string c77 = std::to_string(a1.blink_entry(0).blink_cnt), c88 = std::to_string(a1.blink_entry(1).blink_cnt);
    EXPECT_EQ(file(), before2 + begin + "anchor_id(a001) anchor_ip(127.0.0.3) con(connect) req_cfg(TRUE)\n" +
                          "\ttag_id(77) blinks_cnt(" + c77 + ")\n\ttag_id(88) blinks_cnt(" + c88 + ")\n" +
                          "anchor_id(a003) anchor_ip(127.0.0.5) con(disconnect) req_cfg(FALSE)\n" + end);
}

TEST_F(engine_recon_Core, ControllerCheckDropsADeadLinkAndWaitsForTheNextServerMessage)
{
    struct Row {
        const char* name;
        int sock;
        bool established;
        bool dropped;
    };
    const Row rows[] = {
        {"no controller", 0, false, false},
        {"established", 33, true, false},
        {"no longer established", 33, false, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        links_ = fake_links{};
        recon_core core(*ctx_, links_, [this] { return now_; }, root_.path());
        core.on_event(1, ZUB_EV_SOCKET_RECON_CTRL_SETUP, nullptr, 0, 0);
        ASSERT_EQ(core.ctrl_link_timer(), kTimerIdBase + 1);
        links_.ctrl_sock = r.sock;
        if (r.established) {
            links_.established.insert(r.sock);
        }
        core.on_event(1, ZUB_EV_LOOP_TIMER, nullptr, 0, zub_timer_para(101, 0));
        EXPECT_EQ(links_.ctrl_removed, r.dropped ? std::vector<int>{33} : std::vector<int>{});
        EXPECT_EQ(links_.killed, r.dropped ? std::vector<WORD32>{kTimerIdBase + 1} : std::vector<WORD32>{});
        EXPECT_EQ(core.ctrl_link_timer(), r.dropped ? 0u : kTimerIdBase + 1);
        // Message 1 again: a new timer only after a drop.
        core.on_event(1, ZUB_EV_SOCKET_RECON_CTRL_SETUP, nullptr, 0, 0);
        EXPECT_EQ(links_.timers.size(), r.dropped ? 2u : 1u);
    }
}

TEST_F(engine_recon_Core, AFailedControllerTimerStartCountsAsNotRunning)
{
    links_.fail_timers = true;
    core_->on_ctrl_setup();
    EXPECT_EQ(core_->ctrl_link_timer(), ZUB_INVALID_TIMER_ID);
    links_.fail_timers = false;
    core_->on_ctrl_setup();
    EXPECT_EQ(links_.timers.size(), 2u);
    EXPECT_EQ(core_->ctrl_link_timer(), kTimerIdBase + 2);
}

TEST_F(engine_recon_Core, LinesWithoutAWritableFileArePrintedInstead)
{
    dt::print_capture prints;
    const BYTE up[4] = {1, 0, 1, 0};
    core_->on_event(1, ZUB_EV_XX_RECON_ANCHOR_CON_STATE, up, 4, 0);
    core_->on_timer(ZUB_RECON_TIMER_STATISTICS);
    core_->on_rcvlen_wrong(1, 2);
    EXPECT_EQ(prints.count_of("g_anc_statistics is error,cannot write."), 3u);
}

}  // namespace
