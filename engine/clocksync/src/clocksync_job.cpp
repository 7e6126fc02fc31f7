#include "zub_clocksync.h"

#include <cmath>
#include <cstring>
#include <mutex>

#include "rtls_interface.h"
#include "zub_context.h"
#include "zub_device_time.h"
#include "zub_print.h"
#include "zub_shared_field.h"

namespace {

// A report copied into zeroed storage of its declared size: a short payload then reads as
// zeros past its end instead of past the message, and every length rule still sees the
// real length.
template <class Report>
Report copy_report(const BYTE* payload, WORD16 len)
{
    Report r;
    std::memset(&r, 0, sizeof r);
    const std::size_t n = len < sizeof r ? len : sizeof r;
    if (payload != nullptr && n > 0) {
        std::memcpy(&r, payload, n);
    }
    return r;
}

// Distance D between slave and master, m: the configured radio distance when there is one,
// else the straight line between the configured positions.
double pair_distance(const Anchor& slave, const Anchor& master)
{
    const double rf = slave.rf_distance_to(master.hardware_id);
    if (rf != 0.0) {
        return rf;
    }
    const AnchorConfig s = slave.config_snapshot();
    const AnchorConfig m = master.config_snapshot();
    const double dx = s.position[0] - m.position[0];
    const double dy = s.position[1] - m.position[1];
    const double dz = s.position[2] - m.position[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// Feeds one matched pair of times into a pair's copy: history, filter, update time.
void apply_pair(ClockSync& pair, double rx_time, double tx_time, BYTE seq, WORD64 now)
{
    clocksync_history_update(pair.timedif, rx_time - tx_time);
    const double master_time = tx_time + pair.syncAnchorsTOF;
    pair.cs_kalman.updateFilter(rx_time, master_time);
    pair.cs_kalman.log(rx_time, master_time, seq);
    pair.last_update_time = now;
}

bool seq_matched(const Anchor& master, BYTE seq)
{
    return master.validCCPSeqNum[seq] == seq;
}

}  // namespace

bool clocksync_anchor_usable(const Anchor* anchor)
{
    return anchor != nullptr && anchor->id < ZUB_MAX_ANCHOR_NUM && anchor->hardware_id != 0;
}

namespace {

bool report_check(const Anchor* anchor, bool report_present, unsigned head_len, BYTE ext_len, BYTE length)
{
    if (anchor == nullptr || !report_present) {
        return false;
    }
    if (static_cast<unsigned>(length) != head_len + ext_len) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "rcv ccp rx,but length is error");
        return false;
    }
    if (!clocksync_anchor_usable(anchor)) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "rcv ccp rx,but anchor cannot used");
        return false;
    }
    return true;
}

}  // namespace

bool clocksync_rx_check(const Anchor* anchor, const report_ccp_rx_v4_t* report, BYTE length)
{
    return report_check(anchor, report != nullptr, ZUB_CCP_RX_HEAD_LEN, report ? report->extLen : 0, length);
}

bool clocksync_tx_check(const Anchor* anchor, const report_ccp_tx_v4_t* report, BYTE length)
{
    return report_check(anchor, report != nullptr, ZUB_CCP_TX_HEAD_LEN, report ? report->extLen : 0, length);
}

Anchor* clocksync_master_anchor_get(const Anchor* slave, WORD64 master_hardware_id)
{
    if (slave == nullptr || master_hardware_id == 0) {
        return nullptr;
    }
    anchor_idx_t entry{};
    if (!slave->find_master(master_hardware_id, &entry) || entry.id >= ZUB_MAX_ANCHOR_NUM) {
        return nullptr;
    }
    return &zub_context()->anchors[entry.id];
}

ClockSync* clocksync_rx_add_to_anchor(Anchor* slave, Anchor* master)
{
    if (slave == nullptr || master == nullptr) {
        return nullptr;
    }
    const WORD16 k = slave->nMaster;
    if (k >= ZUB_MAX_MASTERS) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "slave anchor has save %d master", static_cast<int>(k));
        return nullptr;
    }
    // A slot left by a reset still holds the filter and history of the master it followed:
    // the new pair starts from a fresh one.
    ClockSync fresh;
    fresh.master = master;
    fresh.syncAnchorsTOF = pair_distance(*slave, *master) / ZUB_CCP_SPEED_OF_PROPAGATION;
    fresh.cs_kalman.id = slave->id;
    slave->cs_publish(k, fresh);
    slave->cs_set_count(static_cast<WORD16>(k + 1));
    return &slave->csMaster[k];
}

void clocksync_history_update(TimeDif& t, double difference)
{
    t.history_time_difference[t.history_time_idx % 10] = difference;
    t.history_time_count = static_cast<WORD16>(t.history_time_count + 1);
    t.history_time_idx = static_cast<WORD16>(t.history_time_idx + 1);
    if (t.history_time_idx > 9) {
        t.history_time_idx = 0;
    }
    if (t.history_time_count > 10) {
        t.history_time_count = 10;
    }
    if (t.history_time_count == 10) {
        double sum = 0.0;
        for (double d : t.history_time_difference) {
            sum += d;
        }
        t.average_timedif = sum / 10.0;
        double squares = 0.0;
        for (double d : t.history_time_difference) {
            squares += (d - t.average_timedif) * (d - t.average_timedif);
        }
        t.variance = squares / 10.0;
    }
}

ClockSyncJob::ClockSyncJob(ClockSyncPorts ports) : ports_(std::move(ports)), cap_logged_() {}

void ClockSyncJob::ccp_rcv(const sock_data_t* data)
{
    if (data == nullptr || data->data_len == 0) {
        return;
    }
    // The payload runs past the declared 128 bytes: address it from the head.
    const BYTE* payload = reinterpret_cast<const BYTE*>(data) + ZUB_SOCK_DATA_HEAD_LEN;
    Anchor* anchor = data->anc_id < ZUB_MAX_ANCHOR_NUM ? &zub_context()->anchors[data->anc_id] : nullptr;
    switch (payload[0]) {
    case RTLS_CMD_REPORT_RX_CS_V4:
        rx_handle(anchor, payload, data->data_len);
        return;
    case RTLS_CMD_REPORT_TX_CS_V4:
        tx_handle(anchor, payload, data->data_len);
        return;
    default:
        return;
    }
}

bool ClockSyncJob::ccp_rx_send_to_dac(const report_ccp_rx_v4_t* report, const Anchor* slave)
{
    if (report == nullptr || !clocksync_anchor_usable(slave)) {
        return false;
    }
    dac_ccp_rx_t rec{};
    rec.slave_id = slave->hardware_id;
    rec.master_id = read64bitIDfrommessagebuffer(report->masterID);
    rec.seq_num = report->seqNum;
    rec.first_path = static_cast<WORD16>(read16bitIDfrommessagebuffer(report->firstPath16) >> 6);
    if (ports_.send_display) {
        ports_.send_display(rec);
    }
    return true;
}

void ClockSyncJob::rx_handle(Anchor* slave, const BYTE* payload, WORD16 len)
{
    const auto report = copy_report<report_ccp_rx_v4_t>(payload, len);
    // The display record goes first, whatever the checks decide, but only from bytes the
    // anchor sent.
    if (payload != nullptr && len >= ZUB_CCP_RX_DAC_LEN) {
        ccp_rx_send_to_dac(&report, slave);
    }
    if (!clocksync_rx_check(slave, payload != nullptr ? &report : nullptr, static_cast<BYTE>(len))) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "recv ccp rx,but check failed.");
        return;
    }
    const WORD64 now = ports_.now_ms();
    zub_store(slave->last_ccp_time, now);
    const double rx_time = convertdevicetimetosecu(read40bittimefrommessagebuffer(report.csRxTime));
    if (report.extLen >= 4 && zub_load(zub_context()->log_ctrl.diagnostics_log) != 0) {
        zub_store(slave->prevLogNum, read32bitIDfrommessagebuffer(report.logNum32));
        zub_store(slave->prevLogNumSet, 1);
    }
    const WORD64 master_id = read64bitIDfrommessagebuffer(report.masterID);
    Anchor* master = clocksync_master_anchor_get(slave, master_id);
    if (master == nullptr) {
        return;  // a master the configuration did not give this anchor
    }
    const BYTE seq = report.seqNum;
    std::lock_guard<std::mutex> lock(zub_ccp_lock());
    ClockSync* pair = slave->GetCCPSynchronizer(master_id);
    if (pair == nullptr) {
        clocksync_rx_add_to_anchor(slave, master);
        return;  // the report that creates a pair is not used further
    }
    const unsigned first_path = read16bitIDfrommessagebuffer(report.firstPath16) >> 6;
    if (zub_context()->zubFPIRF != 0 && (first_path < ZUB_CCP_FIRST_PATH_MIN || first_path > ZUB_CCP_FIRST_PATH_MAX)) {
        return;
    }
    const bool matched = seq_matched(*master, seq);
    slave->cs_edit(pair, [&](ClockSync& p) {
        const BYTE old = p.seqNum;
        p.seqNum = seq;
        if (static_cast<BYTE>(seq - old) != 1) {
            p.missedCS += 1;
        }
        if (matched) {
            apply_pair(p, rx_time, master->CCPTxTime[seq], seq, now);
        }
    });
    if (!matched) {
        append_pending(master, RxCCPReport{rx_time, seq, slave});
    }
}

void ClockSyncJob::append_pending(Anchor* master, const RxCCPReport& entry)
{
    std::list<RxCCPReport>& pending = master->pendingSync;
    const unsigned index = master->id % ZUB_MAX_ANCHOR_NUM;
    if (pending.size() >= ZUB_CCP_PENDING_CAP) {
        pending.pop_front();
        if (!cap_logged_.test(index)) {
            cap_logged_.set(index);
            ZUB_PRINT(ZUB_PRINT_ERROR, "master anchor(%lx) has %zu ccp rx waiting for their tx, oldest dropped",
                      static_cast<unsigned long>(master->hardware_id), ZUB_CCP_PENDING_CAP);
        }
    } else {
        cap_logged_.reset(index);
    }
    pending.push_back(entry);
}

void ClockSyncJob::tx_handle(Anchor* master, const BYTE* payload, WORD16 len)
{
    const auto report = copy_report<report_ccp_tx_v4_t>(payload, len);
    if (!clocksync_tx_check(master, payload != nullptr ? &report : nullptr, static_cast<BYTE>(len))) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "recv ccp tx,but check failed.");
        return;
    }
    zub_store(master->last_ccp_time, ports_.now_ms());
    const double tx_time = convertdevicetimetosecu(read40bittimefrommessagebuffer(report.csTxTime));
    const BYTE seq = report.seqNum;
    {
        std::lock_guard<std::mutex> lock(zub_ccp_lock());
        // The 17 numbers before seq keep their times: a reception up to 17 numbers late
        // still finds its transmit time.
        for (unsigned i = 0; i < ZUB_CCP_INVALIDATION_RUN; ++i) {
            master->validCCPSeqNum[(seq + i) & 0xFFu] = -1;
        }
        master->validCCPSeqNum[seq] = seq;
        master->CCPTxTime[seq] = tx_time;
        if (!master->pendingSync.empty()) {
            tx_update_to_anchor(master, seq);
        }
    }
    const log_ctrl_t& log_ctrl = zub_context()->log_ctrl;
    if (report.extLen >= 4 && zub_load(log_ctrl.vector_log_level) != 0 && zub_load(log_ctrl.diagnostics_log) == 1) {
        zub_store(master->prevLogNum, read32bitIDfrommessagebuffer(report.ext));
        zub_store(master->prevLogNumSet, 1);
    }
}

void ClockSyncJob::tx_update_to_anchor(Anchor* master, BYTE seq)
{
    if (master == nullptr) {
        return;
    }
    const WORD64 now = ports_.now_ms();
    const double tx_time = master->CCPTxTime[seq];
    std::list<RxCCPReport>& pending = master->pendingSync;
    for (auto it = pending.begin(); it != pending.end();) {
        const RxCCPReport& p = *it;
        if (p.seqNum == seq) {
            ClockSync* pair = p.anc != nullptr ? p.anc->GetCCPSynchronizer(master->hardware_id) : nullptr;
            if (pair != nullptr) {
                p.anc->cs_edit(pair, [&](ClockSync& w) { apply_pair(w, p.rxTime, tx_time, seq, now); });
            }
            it = pending.erase(it);
            continue;
        }
        const unsigned ahead = static_cast<BYTE>(p.seqNum - seq);
        if (ahead >= 1 && ahead <= ZUB_CCP_PENDING_WINDOW) {
            ++it;
        } else {
            it = pending.erase(it);
        }
    }
}
