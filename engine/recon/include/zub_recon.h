// zub_recon.h - the reconnection job's logic: the 8-s anchor link check and reopen, the
// controller link check, and "<root>/log/anc_statistics.txt" with its link, receive-length and
// "never connected" lines and the 300-s dump of the traced anchors.
//
// Plain code driven by the job's messages and timer expiries (on_event), an injected wall
// clock and recon_links (links, timers, sends); the job entry (zub_recon_job.h) is a thin
// adapter that owns one instance. Reconnection job's thread only: links are tested, closed and
// opened through the anchors' link_lock (link_state, link_take), per-tag counts are read with
// blink_table_size / blink_entry.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "VorlenTypes.h"
#include "zub_anchor_link.h"

class Anchor;
class context_t;

enum : BYTE {
    ZUB_RECON_TIMER_ANCHOR_CHECK = 100,
    ZUB_RECON_TIMER_CTRL_CHECK = 101,
    ZUB_RECON_TIMER_STATISTICS = 102,
};
constexpr WORD32 ZUB_RECON_CHECK_PERIOD_S = 8;
constexpr WORD32 ZUB_RECON_DUMP_PERIOD_S = 300;
constexpr WORD64 ZUB_RECON_NEVER_CONNECTED_MS = 1800000;  // 30 min
constexpr WORD16 ZUB_RECON_MAX_LOCAL_ID = 9999;

// What the reconnection job asks of the platform and of the links.
class recon_links {
public:
    virtual ~recon_links() = default;
    virtual void power_on_ack() = 0;
    virtual void start_ok() = 0;        // the empty acknowledgement to the control job
    virtual void start_complete() = 0;  // the empty start-complete event to the job itself
    virtual void tell_display(WORD16 local_id) = 0;
    // Periodic timer of `seconds` carrying the type: the platform's id, 0xFFFFFFFF on failure.
    virtual WORD32 start_loop_timer(BYTE type, WORD32 seconds) = 0;
    virtual void kill_timer(WORD32 id) = 0;

    // The anchor's link socket now (0 none).
    virtual WORD32 anchor_socket(const Anchor& a) = 0;
    // Whether the socket's TCP state is ESTABLISHED.
    virtual bool socket_established(int sock) = 0;
    virtual void anchor_close(Anchor& a) = 0;
    // Opens the link (blocking up to 10 s); true when it is open.
    virtual bool anchor_open(Anchor& a) = 0;
    // The controller client's socket (0 none) and its removal.
    virtual int ctrl_socket() = 0;
    virtual void ctrl_remove(int sock) = 0;
};

class recon_core {
public:
    recon_core(context_t& ctx, recon_links& links, std::function<WORD64()> wall_ms, std::string root);
    ~recon_core();
    recon_core(const recon_core&) = delete;
    recon_core& operator=(const recon_core&) = delete;

    // One message in the job's state; returns the next state. `timer_para` is the parameter
    // word of the timer that fired (messages 2029/2030 only).
    WORD16 on_event(WORD16 state, WORD32 msg_id, const BYTE* body, size_t len, WORD32 timer_para);

    // The first call checks the anchors, starts the 8-s check and the 300-s dump and opens the
    // statistics file; later calls change nothing.
    void on_start_complete();
    void on_ctrl_setup();
    void on_timer(BYTE type);
    void on_link_event(const anc_con_stat_t& st);
    void on_rcvlen_wrong(WORD16 local_id, WORD16 left_len);

    void anchor_check();
    void ctrl_check();
    void statistics_dump();

    WORD32 ctrl_link_timer() const { return g_ctrl_link_timer; }

private:
    bool usable(const Anchor& a) const;
    bool link_up(Anchor& a);
    void never_connected(const Anchor& a);
    // The statistics stream, or null (printed) when it cannot be written.
    FILE* stream();

    context_t& ctx_;
    recon_links& links_;
    std::function<WORD64()> wall_ms_;
    std::string root_;

    WORD32 g_ctrl_link_timer = 0;
    FILE* g_anc_statistics = nullptr;
    bool started_ = false;
    bool mark_set_ = false;
    WORD64 mark_ = 0;
};
