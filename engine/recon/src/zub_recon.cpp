#include "zub_recon.h"

#include <algorithm>

#include "zub_context.h"
#include "zub_shared_field.h"
#include "zub_msg_id.h"
#include "zub_print.h"
#include "zub_stat_time.h"
#include "zub_timer.h"
#include "zub_trace_list.h"

namespace {

constexpr WORD32 kPowerOn = 6000;
constexpr WORD32 kPowerOnAgain = 6002;
constexpr WORD16 kStateWaitStart = 6;
constexpr WORD16 kStateRunning = 1;

bool timer_running(WORD32 id) { return id != 0 && id != ZUB_INVALID_TIMER_ID; }

bool socket_present(WORD32 sock) { return sock != 0 && sock != 0xFFFFFFFFu; }

}  // namespace

recon_core::recon_core(context_t& ctx, recon_links& links, std::function<WORD64()> wall_ms, std::string root)
    : ctx_(ctx), links_(links), wall_ms_(std::move(wall_ms)), root_(std::move(root))
{
}

recon_core::~recon_core()
{
    if (g_anc_statistics != nullptr) {
        std::fclose(g_anc_statistics);
    }
}

// ---- states ---------------------------------------------------------------------------------

WORD16 recon_core::on_event(WORD16 state, WORD32 msg_id, const BYTE* body, size_t len, WORD32 timer_para)
{
    if (state == 0) {
        if (msg_id == kPowerOn || msg_id == kPowerOnAgain) {
            links_.power_on_ack();
            return kStateWaitStart;
        }
        return state;
    }
    if (state == kStateWaitStart) {
        if (msg_id == ZUB_EV_CTRL_XX_INIT_START) {
            links_.start_ok();
            links_.start_complete();
            return kStateRunning;
        }
        if (msg_id == ZUB_EV_SOCKET_RECON_CTRL_SETUP) {
            on_ctrl_setup();
        }
        return state;
    }
    if (state != kStateRunning) {
        return state;
    }
    switch (msg_id) {
    case ZUB_EV_RECON_START_COMPLETE:
        on_start_complete();
        break;
    case ZUB_EV_SOCKET_RECON_CTRL_SETUP:
        on_ctrl_setup();
        break;
    case ZUB_EV_XX_RECON_ANCHOR_CON_STATE:
        if (body != nullptr && len >= sizeof(anc_con_stat_t)) {
            on_link_event(anc_con_stat_t{static_cast<WORD16>(body[0] | body[1] << 8),
                                         static_cast<WORD16>(body[2] | body[3] << 8)});
        }
        break;
    case ZUB_EV_SOCKET_RECON_RCVLEN_WRONG:
        if (body != nullptr && len >= 4) {
            on_rcvlen_wrong(static_cast<WORD16>(body[0] | body[1] << 8), static_cast<WORD16>(body[2] | body[3] << 8));
        }
        break;
    case ZUB_EV_RELATIVE_TIMER:
    case ZUB_EV_LOOP_TIMER:
        on_timer(zub_timer_type(timer_para));
        break;
    default:
        break;
    }
    return state;
}

void recon_core::on_start_complete()
{
    // The job sends itself one start complete; any further one (a forged or relayed copy) would
    // add a check and two periodic timers for good.
    if (started_) {
        return;
    }
    started_ = true;
    anchor_check();
    links_.start_loop_timer(ZUB_RECON_TIMER_ANCHOR_CHECK, ZUB_RECON_CHECK_PERIOD_S);
    links_.start_loop_timer(ZUB_RECON_TIMER_STATISTICS, ZUB_RECON_DUMP_PERIOD_S);
    if (g_anc_statistics == nullptr) {
        const std::string path = root_ + "/log/anc_statistics.txt";
        g_anc_statistics = std::fopen(path.c_str(), "w");
        if (g_anc_statistics == nullptr) {
            ZUB_PRINT(ZUB_PRINT_ERROR, "open file failed.");
        }
    }
}

void recon_core::on_ctrl_setup()
{
    // A failed start (0xFFFFFFFF) is no running timer: the next message 1 tries again.
    if (!timer_running(g_ctrl_link_timer)) {
        g_ctrl_link_timer = links_.start_loop_timer(ZUB_RECON_TIMER_CTRL_CHECK, ZUB_RECON_CHECK_PERIOD_S);
    }
}

void recon_core::on_timer(BYTE type)
{
    switch (type) {
    case ZUB_RECON_TIMER_ANCHOR_CHECK:
        return anchor_check();
    case ZUB_RECON_TIMER_CTRL_CHECK:
        return ctrl_check();
    case ZUB_RECON_TIMER_STATISTICS:
        return statistics_dump();
    default:
        return;
    }
}

// ---- checks ---------------------------------------------------------------------------------

bool recon_core::usable(const Anchor& a) const { return a.hardware_id != 0 && a.id <= ZUB_RECON_MAX_LOCAL_ID; }

bool recon_core::link_up(Anchor& a)
{
    const WORD32 sock = links_.anchor_socket(a);
    if (!socket_present(sock)) {
        return false;
    }
    if (links_.socket_established(static_cast<int>(sock))) {
        return true;
    }
    links_.anchor_close(a);
    return false;
}

void recon_core::anchor_check()
{
    const WORD64 now = wall_ms_();
    if (!mark_set_) {
        mark_set_ = true;
        mark_ = now;
    }
    const bool passed = now > mark_ && now - mark_ > ZUB_RECON_NEVER_CONNECTED_MS;
    const unsigned count = std::min<unsigned>(ctx_.anchor_count, ZUB_MAX_ANCHOR_NUM);
    for (unsigned i = 0; i < count; ++i) {
        Anchor& a = ctx_.anchors[i];
        if (!usable(a)) {
            break;
        }
        if (link_up(a)) {
            continue;
        }
        links_.anchor_open(a);
        if (passed) {
            never_connected(a);
        }
        links_.tell_display(a.id);
    }
    if (passed) {
        mark_ = now;
    }
}

void recon_core::ctrl_check()
{
    const int sock = links_.ctrl_socket();
    if (sock == 0 || links_.socket_established(sock)) {
        return;
    }
    links_.ctrl_remove(sock);
    links_.kill_timer(g_ctrl_link_timer);
    g_ctrl_link_timer = 0;
}

// ---- statistics file ------------------------------------------------------------------------

FILE* recon_core::stream()
{
    if (g_anc_statistics == nullptr || std::ferror(g_anc_statistics) != 0) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "g_anc_statistics is error,cannot write.");
        return nullptr;
    }
    return g_anc_statistics;
}

void recon_core::never_connected(const Anchor& a)
{
    const AnchorLinkState link = a.link_state();
    if (link.ever_connected || link.sock != 0) {
        return;
    }
    FILE* f = stream();
    if (f == nullptr) {
        return;
    }
    std::fprintf(f, "%s anchor_id(%lx) anchor_ip(%s) never connected\n", zub_stat_time_text(wall_ms_()).c_str(),
                 static_cast<unsigned long>(a.hardware_id), a.getIpPrint());
    std::fflush(f);
}

void recon_core::on_link_event(const anc_con_stat_t& st)
{
    if (st.anc_id >= ZUB_MAX_ANCHOR_NUM) {
        return;
    }
    const Anchor& a = ctx_.anchors[st.anc_id];
    if (!usable(a)) {
        return;
    }
    FILE* f = stream();
    if (f == nullptr) {
        return;
    }
    std::fprintf(f, "%s id(%d) anchor_id(%lx) anchor_ip(%s) %s\n", zub_stat_time_text(wall_ms_()).c_str(),
                 static_cast<int>(a.id), static_cast<unsigned long>(a.hardware_id), a.getIpPrint(),
                 st.con_stat != 0 ? "has reconnect" : "has disconnect");
    std::fflush(f);
}

void recon_core::on_rcvlen_wrong(WORD16 local_id, WORD16 left_len)
{
    FILE* f = stream();
    if (f == nullptr) {
        return;
    }
    std::fprintf(f, "%s anc_id %d sock rcv len is wrong.left_len = %d. reset buff\n",
                 zub_stat_time_text(wall_ms_()).c_str(), static_cast<int>(local_id), static_cast<int>(left_len));
    std::fflush(f);
}

void recon_core::statistics_dump()
{
    FILE* f = stream();
    if (f == nullptr) {
        return;
    }
    std::fprintf(f, "=================write time:%s begin=================\n", zub_stat_time_text(wall_ms_()).c_str());
    const unsigned count = std::min<unsigned>(ctx_.anchor_count, ZUB_MAX_ANCHOR_NUM);
    for (unsigned i = 0; i < count; ++i) {
        const Anchor& a = ctx_.anchors[i];
        if (!usable(a) || !zub_trace_contains(ctx_.anc_trace_cfg, a.hardware_id)) {
            continue;
        }
        std::fprintf(f, "anchor_id(%lx) anchor_ip(%s) con(%s) req_cfg(%s)\n", static_cast<unsigned long>(a.hardware_id),
                     a.getIpPrint(), a.link_socket() != 0 ? "connect" : "disconnect",
                     zub_load(a.is_req_cfg) ? "TRUE" : "FALSE");
        const unsigned tags = a.blink_table_size();
        for (unsigned t = 0; t < tags; ++t) {
            const tag_blink_info_t e = a.blink_entry(t);
            std::fprintf(f, "\ttag_id(%lx) blinks_cnt(%ld)\n", static_cast<unsigned long>(e.tag_id),
                         static_cast<long>(e.blink_cnt));
        }
    }
    std::fprintf(f, "=================end=================\n");
    std::fflush(f);
}
