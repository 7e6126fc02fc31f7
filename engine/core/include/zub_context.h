// zub_context.h - context_t, the engine's one state object, reached through zub_context().
//
// Built once, on the first call of zub_context(), in zero-filled storage that is never
// freed: the record outlives every job thread (the process ends with _exit), so no
// destructor ever runs under a live thread. Field groups and their guards:
// - configuration values, anchor_count, JIDs, areas: written by the control job at
//   power-on before the other jobs start (the start handshake publishes them); read by
//   all without a guard.
// - values the controller rewrites at run time (zubRTLSStarted, zubNumAncSystem,
//   enable_motion_filter, filter_length, anchor_cfg_finish, log_ctrl): single fields,
//   written by the control job with zub_store, read with zub_load.
// - anchors: see zub_anchor.h. ccpLock: the writers' lock of all clock-sync state
//   (zub_ccp_lock()).
// - anchor_id_manager: its own mutex (zub_anchor_id.h).
// - reactor_info: see zub_reactor_info.h.
// - tag_trace_cfg, anc_trace_cfg: replaced as a whole by the display job (zub_trace_list.h).
#pragma once

#include <mutex>

#include "VorlenTypes.h"
#include "qk_queue.h"
#include "zub_anchor.h"
#include "zub_anchor_id.h"
#include "zub_reactor_info.h"
#include "zub_trace_list.h"

constexpr unsigned ZUB_SELECTOR_NUM = 18;
constexpr unsigned ZUB_MANAGER_NUM = 3;

struct dac_interface_t {
    WORD16 blink_port;
    WORD16 pos_port;
    WORD16 ccp_port;
};

struct log_ctrl_t {
    BYTE log_level;
    BYTE diagnostics_log;  // bool8
    BYTE vector_log_level;
    BYTE tag_print_flag;   // bool8: 1 limits tag prints to traced tags
};

struct report_cfg_t {
    WORD16 port;
    WORD16 max_num;
    WORD16 sleep_time;  // ms
};

class context_t {
public:
    // Only zub_context() builds the record, on zero-filled storage: the fields that no
    // constructor sets are zero.
    context_t();
    context_t(const context_t&) = delete;
    context_t& operator=(const context_t&) = delete;

    int anchorListenPort;
    int zubControlPort;
    int zubDataPort;
    int zubRTLSStarted;
    int zubWirelessSync;
    int zubNumAncSystem;
    int zubSolveWaitTime;
    int zubSolver3D;
    int zubFPIRF;
    int zeroAlgorithmEnable;
    int enable_motion_filter;
    bool enable_mdns;
    int filter_length;
    int mode;
    int min_mulitiple;
    int single_blink_count;
    int single_blink_expire;
    bool anchor_cfg_finish;
    dac_interface_t dac_interface;
    double time_variance;
    float max_position_variance;
    float max_human_speed;
    std::mutex ccpLock;
    log_ctrl_t log_ctrl;
    WORD16 toa_ignore_time;
    WORD16 displayer_type;
    WORD64 tad_id_prefix;
    double ground_clearance;
    int algorithm;
    int filter;
    report_cfg_t tag_loc;
    report_cfg_t tag_ext;
    report_cfg_t anc_stat;
    WORD16 anchor_count;
    Anchor anchors[ZUB_MAX_ANCHOR_NUM];
    JID jid_selector[ZUB_SELECTOR_NUM];
    JID jid_display;
    JID jid_control;
    JID jid_manager[ZUB_MANAGER_NUM];
    JID jid_clocksync;
    JID jid_reconnection;
    anchor_id_manager_t anchor_id_manager;
    reactor_info_t reactor_info;
    queue_t areas;  // of area_t
    tag_trace_cfg_t tag_trace_cfg;
    anc_trace_cfg_t anc_trace_cfg;
    int data_server_port;
};

// The engine's context; the first call builds it (thread-safe), later calls return the
// same record. Aborts the process when the storage cannot be had at all.
context_t* zub_context();
