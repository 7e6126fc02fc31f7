// Fuzz target: clock-calibration reports of any length and content, from a master, two slaves
// that follow it and an anchor id past the table, fed to the clock-sync job in any order.
//
// Input: records of [anchor selector][payload length][payload]; the last record takes what is
// left. Each payload is copied into a block of exactly its length, so a read past it is seen by
// AddressSanitizer. After every record the job's bounds must hold: at most 16 pairs per slave,
// every counted pair with its master, a pending list within its cap and its window.
#include <cstdint>
#include <cstring>
#include <memory>

#include "zub_clocksync.h"
#include "zub_context.h"

namespace {

constexpr WORD16 kMaster = 600;
constexpr WORD16 kSlaves[] = {601, 602};
constexpr WORD16 kBeyondTable = 10000;

ClockSyncJob* g_job = nullptr;
WORD64 g_now = 0;

void prepare(WORD16 local, WORD64 hardware_id, double x)
{
    Anchor& a = zub_context()->anchors[local];
    a.init(hardware_id, local);
    std::lock_guard<GuardMutex> lock(a.cfg_lock);
    AnchorConfig c = a.config_snapshot();
    c.position[0] = x;
    a.config_publish(c);
}

void check_bounds()
{
    for (WORD16 id : kSlaves) {
        const Anchor& s = zub_context()->anchors[id];
        const WORD16 n = s.cs_count();
        if (n > ZUB_MAX_MASTERS) {
            __builtin_trap();
        }
        for (unsigned k = 0; k < n; ++k) {
            if (s.cs_snapshot(k).master == nullptr) {
                __builtin_trap();
            }
        }
    }
    if (zub_context()->anchors[kMaster].pendingSync.size() > ZUB_CCP_PENDING_CAP) {
        __builtin_trap();
    }
}

}  // namespace

// The engine context and what its anchors hold live until the process ends and are never
// freed: at exit they are not leaks.
extern "C" const char* __lsan_default_options()
{
    return "detect_leaks=0";
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    prepare(kMaster, 0xF600, 0.0);
    for (WORD16 id : kSlaves) {
        prepare(id, 0xF000 + id, 10.0 * (id - kMaster));
        anchor_idx_t entry{};
        entry.id = kMaster;
        entry.anc_id = 0xF600;
        zub_context()->anchors[id].add_master(entry, id == kSlaves[1] ? 7.5 : 0.0);
    }
    static ClockSyncJob job(ClockSyncPorts{[] { return g_now; }, [](const dac_ccp_rx_t&) {}});
    g_job = &job;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (g_job == nullptr) {
        LLVMFuzzerInitialize(nullptr, nullptr);
    }
    // Every input starts from no pairs and no transmit times, as after "rtls start".
    zub_context()->anchors[kMaster].ResetCCP();
    for (WORD16 id : kSlaves) {
        zub_context()->anchors[id].ResetCCP();
    }
    zub_context()->zubFPIRF = 1;
    size_t at = 0;
    while (at + 2 <= size) {
        const BYTE selector = data[at];
        const size_t len = std::min<size_t>(data[at + 1], size - at - 2);
        at += 2;
        const WORD16 ids[] = {kMaster, kSlaves[0], kSlaves[1], kBeyondTable};
        auto body = std::make_unique<BYTE[]>(ZUB_SOCK_DATA_HEAD_LEN + len);
        const WORD16 anc_id = ids[selector % 4];
        const auto data_len = static_cast<WORD16>(len);
        std::memcpy(body.get(), &anc_id, 2);
        std::memcpy(body.get() + 2, &data_len, 2);
        if (len > 0) {
            std::memcpy(body.get() + ZUB_SOCK_DATA_HEAD_LEN, data + at, len);
        }
        at += len;
        ++g_now;
        g_job->ccp_rcv(reinterpret_cast<const sock_data_t*>(body.get()));
        check_bounds();
    }
    return 0;
}
