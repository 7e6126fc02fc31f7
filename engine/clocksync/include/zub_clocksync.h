// zub_clocksync.h - the clock-sync job's logic: pairs the clock-calibration reports of master
// and slave anchors by sequence number and feeds each (slave, master) pair's history and
// filter, whose slots the selectors read.
//
// ClockSyncJob is plain code: it takes the wall clock and the display job's sink as injected
// functions and works on the context's anchors. It runs on one thread at a time (the job's
// own in the engine). It owns nothing of the anchors; it writes them under these guards:
// - csMaster / nMaster: only holding zub_ccp_lock(), through cs_edit, cs_publish and
//   cs_set_count, so a selector's cs_snapshot is always one whole published slot;
// - validCCPSeqNum, CCPTxTime, pendingSync: only holding zub_ccp_lock() (ResetCCP on the
//   control thread takes the same lock);
// - last_ccp_time, prevLogNum, prevLogNumSet: zub_store;
// - masters, rfDistanceToMaster, position: only read, through find_master, rf_distance_to
//   and config_snapshot.
// The one state of its own is a flag per master that keeps the pending-cap line to one per
// burst of drops.
#pragma once

#include <bitset>
#include <functional>

#include "zub_anchor.h"
#include "zub_clocksync_wire.h"

constexpr double ZUB_CCP_SPEED_OF_PROPAGATION = 299702547.0;  // m/s
constexpr unsigned ZUB_CCP_FIRST_PATH_MIN = 700;
constexpr unsigned ZUB_CCP_FIRST_PATH_MAX = 900;
constexpr unsigned ZUB_CCP_INVALIDATION_RUN = 239;
constexpr unsigned ZUB_CCP_PENDING_WINDOW = 15;
// Room for 16 pending numbers from each of 256 slaves; beyond it the oldest entry goes.
constexpr std::size_t ZUB_CCP_PENDING_CAP = 4096;

struct ClockSyncPorts {
    std::function<WORD64()> now_ms;                           // wall-clock milliseconds
    std::function<void(const dac_ccp_rx_t&)> send_display;  // one record to the display job
};

class ClockSyncJob {
public:
    explicit ClockSyncJob(ClockSyncPorts ports);

    // One anchor-frame event body: payload byte 0 '1' is a receive report, '0' a transmit
    // report, anything else (or an empty payload, or null) is ignored. The caller has checked
    // that the body holds 4 + data_len bytes.
    void ccp_rcv(const sock_data_t* data);

    // The two reports of one anchor (null: the anchor is not in use); `payload` holds `len`
    // bytes. They take zub_ccp_lock() themselves.
    void rx_handle(Anchor* slave, const BYTE* payload, WORD16 len);
    void tx_handle(Anchor* master, const BYTE* payload, WORD16 len);

    // The pending pass of a transmit report for `seq`: applies the master's pending receive
    // reports of that number, keeps those 1..15 numbers ahead, erases the rest. The caller
    // holds zub_ccp_lock().
    void tx_update_to_anchor(Anchor* master, BYTE seq);

    // Sends the display record of a receive report whose 17 first bytes are readable, when
    // report and slave are non-null and the slave is in use; true when sent.
    bool ccp_rx_send_to_dac(const report_ccp_rx_v4_t* report, const Anchor* slave);

private:
    void append_pending(Anchor* master, const RxCCPReport& entry);

    ClockSyncPorts ports_;
    std::bitset<ZUB_MAX_ANCHOR_NUM> cap_logged_;
};

// An anchor record that is in use: local id up to 9999 and a hardware id.
bool clocksync_anchor_usable(const Anchor* anchor);

// The checks of the two reports (length on its low 8 bits, as the anchors' firmware sends
// it): true when anchor and report are non-null, length == 18 + extLen (receive) or
// 8 + extLen (transmit) and the anchor is in use. Each failure is printed. The report must
// have its head readable (18 or 8 bytes).
bool clocksync_rx_check(const Anchor* anchor, const report_ccp_rx_v4_t* report, BYTE length);
bool clocksync_tx_check(const Anchor* anchor, const report_ccp_tx_v4_t* report, BYTE length);

// The master with this hardware id among the masters the configuration gave the slave, or
// null (null slave, id 0, or not among them).
Anchor* clocksync_master_anchor_get(const Anchor* slave, WORD64 master_hardware_id);

// Creates the slave's pair with this master on a freshly constructed slot (flight time from
// rfDistanceToMaster, else from the positions); null, printed, when the slave already has 16
// pairs. The caller holds zub_ccp_lock().
ClockSync* clocksync_rx_add_to_anchor(Anchor* slave, Anchor* master);

// One difference into a pair's ring of ten; the mean and variance follow once ten are held.
void clocksync_history_update(TimeDif& timedif, double difference);

// The engine's own job instance (wall clock, display job through the platform) and the entry
// points over it; the job's thread only.
ClockSyncJob& zub_clocksync_job();
void zub_clocksync_ccp_rcv(sock_data_t* data);
void clocksync_tx_update_to_anchor(Anchor* master, BYTE seq);
bool zub_ccp_rx_send_to_dac(report_ccp_rx_v4_t* report, Anchor* slave);
