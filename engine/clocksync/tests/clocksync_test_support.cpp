#include "clocksync_test_support.h"

#include <cmath>

#include "zub_device_time.h"
#include "zub_print.h"

namespace cst {

namespace {

void put_le(std::vector<BYTE>& out, WORD64 v, unsigned bytes)
{
    for (unsigned i = 0; i < bytes; ++i) {
        out.push_back(static_cast<BYTE>(v >> (8 * i)));
    }
}

}  // namespace

WORD64 ticks_of(double seconds)
{
    const double ticks = std::floor(seconds / ZUB_DEVICE_TICK_S + 0.5);
    return static_cast<WORD64>(static_cast<int64_t>(ticks)) & ZUB_DEVICE_TIME_MASK;
}

std::vector<BYTE> tx_payload(BYTE seq, WORD64 ticks, const std::vector<BYTE>& ext)
{
    std::vector<BYTE> p{0x30, seq};
    put_le(p, ticks, 5);
    p.push_back(static_cast<BYTE>(ext.size()));
    p.insert(p.end(), ext.begin(), ext.end());
    return p;
}

std::vector<BYTE> rx_payload(BYTE seq, WORD64 master_id, WORD64 ticks, WORD16 first_path_index,
                             const std::vector<BYTE>& ext)
{
    std::vector<BYTE> p{0x31, seq};
    put_le(p, master_id, 8);
    put_le(p, ticks, 5);
    put_le(p, static_cast<WORD16>(first_path_index << 6), 2);
    p.push_back(static_cast<BYTE>(ext.size()));
    p.insert(p.end(), ext.begin(), ext.end());
    return p;
}

std::vector<BYTE> frame_body(WORD16 anc_id, const std::vector<BYTE>& payload)
{
    std::vector<BYTE> b;
    put_le(b, anc_id, 2);
    put_le(b, payload.size(), 2);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Anchor* prepare_anchor(WORD16 local, WORD64 hardware_id, double x, double y, double z)
{
    Anchor* a = &zub_context()->anchors[local];
    a->init(hardware_id, local);
    {
        std::lock_guard<GuardMutex> lock(a->cfg_lock);
        a->masters.clear();
        a->rfDistanceToMaster.clear();
        AnchorConfig c = a->config_snapshot();
        c.position[0] = x;
        c.position[1] = y;
        c.position[2] = z;
        a->config_publish(c);
    }
    std::lock_guard<std::mutex> lock(zub_ccp_lock());
    for (unsigned i = 0; i < ZUB_MAX_MASTERS; ++i) {
        a->cs_publish(i, ClockSync{});
    }
    a->last_ccp_time = 0;
    a->prevLogNum = 0;
    a->prevLogNumSet = 0;
    return a;
}

void follow(Anchor* slave, const Anchor* master, double rf_distance)
{
    anchor_idx_t entry{};
    entry.id = master->id;
    entry.anc_id = master->hardware_id;
    slave->add_master(entry, rf_distance);
}

ClockSyncPorts FakePorts::ports()
{
    return ClockSyncPorts{[this] { return now; }, [this](const dac_ccp_rx_t& r) { records.push_back(r); }};
}

}  // namespace cst
