#include "zub_anchor.h"

#include <arpa/inet.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include "zub_anchor_id.h"
#include "zub_context.h"
#include "zub_shared_field.h"
#include "zub_tag_index.h"

namespace {

timeval time_of_day()
{
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return tv;
}

// Zeroes n bytes. The whole pages inside are handed back instead of written: they read as
// zero again and stay out of resident memory until a tag is counted into them (the tag
// table is 160 KB per anchor, mostly never used).
void zero_and_release(void* p, size_t n)
{
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<uintptr_t>(p);
    const uintptr_t end = begin + n;
    const uintptr_t inner_begin = (begin + page - 1) & ~(page - 1);
    const uintptr_t inner_end = end & ~(page - 1);
    if (inner_end <= inner_begin) {
        std::memset(p, 0, n);
        return;
    }
    std::memset(p, 0, inner_begin - begin);
    std::memset(reinterpret_cast<void*>(inner_end), 0, end - inner_end);
    if (madvise(reinterpret_cast<void*>(inner_begin), inner_end - inner_begin, MADV_DONTNEED) != 0) {
        std::memset(reinterpret_cast<void*>(inner_begin), 0, inner_end - inner_begin);
    }
}

}  // namespace

TagTraining::TagTraining() : pendingToa(), rxTime(0.0), seqNum(255.0), rxTime64(0) {}

std::mutex& zub_ccp_lock()
{
    return zub_context()->ccpLock;
}

Anchor* Anchor::zub_get_anchor_by_hardware_id(WORD64 hardware_id)
{
    const WORD16 local = zub_search_anchor_id(hardware_id);
    if (local >= ZUB_MAX_ANCHOR_NUM) {
        return nullptr;
    }
    return &zub_context()->anchors[local];
}

void Anchor::init(WORD64 hw, WORD16 local_id)
{
    idx = 0;
    hardware_id = hw;
    id = local_id;
    configured = 0;
    master = 0;
    ant_delay_rx = 0;
    ant_delay_tx = 0;
    id_to_follow = 0;
    lag_delay = 20000;
    area = nullptr;
    tag_cnt = 0;
    is_req_cfg = false;
    reference = 0;
    rxDiffCount = 0;
    rxDiffprev = 1000.0;
    clockOffset = 0.0;
    sumClockOffset = 0.0;
    training = 0;
    numTrainingBlinks = 0;
    totalTrainingBlinks = 200;
    use_tof = 0;
    four_anc_mode = 0;
    use_ant_delay = 0;
    tof_delayed = 0;
    tof_anc_id = 0;
    anc_power = 0;
    area_attribute = AreaAttribute{10000.0, 2.4, 0};
    if (position.n_elem != 3) {
        position.zeros(3);
    }
    {
        std::lock_guard<GuardMutex> lock(cfg_lock);
        trainingTags.clear();
        trainingState.clear();
    }
    ResetCCP();
    zero_and_release(tag_blink, sizeof tag_blink);
    zero_and_release(tag_index, sizeof tag_index);
}

void Anchor::ResetCCP()
{
    std::lock_guard<std::mutex> lock(zub_ccp_lock());
    cs_set_count(0);
    for (int& entry : validCCPSeqNum) {
        entry = -1;
    }
    for (double& t : CCPTxTime) {
        t = 0.0;
    }
    pendingSync.clear();
    for (unsigned i = 0; i < ZUB_MAX_MASTERS; ++i) {
        ClockSync slot = csMaster[i];
        slot.master = nullptr;
        cs_publish(i, slot);
    }
}

const char* Anchor::getIpPrint() const
{
    thread_local char text[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, &ip, text, sizeof text) == nullptr) {
        text[0] = '\0';
    }
    return text;
}

int Anchor::GetSynchedToaIndex(WORD64 master_hardware_id) const
{
    for (unsigned i = 0; i < ZUB_MAX_MASTERS; ++i) {
        const Anchor* m = zub_load(csMaster[i].master);
        if (m != nullptr && m->hardware_id == master_hardware_id) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

ClockSync* Anchor::GetCCPSynchronizer(WORD64 master_hardware_id)
{
    const int i = GetSynchedToaIndex(master_hardware_id);
    return i < 0 ? nullptr : &csMaster[i];
}

WORD16 Anchor::cs_count() const
{
    return zub_load(nMaster, std::memory_order_acquire);
}

ClockSync Anchor::cs_snapshot(unsigned slot) const
{
    return cs_lock.read(csMaster[slot % ZUB_MAX_MASTERS]);
}

void Anchor::cs_publish(unsigned slot, const ClockSync& value)
{
    cs_lock.write(csMaster[slot % ZUB_MAX_MASTERS], value);
}

void Anchor::cs_set_count(WORD16 n)
{
    // Release: a reader that sees the new count also sees the slots published before it.
    zub_store(nMaster, n, std::memory_order_release);
}

// The scalar fields of the run-time configuration, in AnchorConfig's names.
#define ZUB_ANCHOR_CONFIG_FIELDS(X)                                                               \
    X(idx) X(mode) X(master) X(reference) X(id_to_follow) X(use_tof) X(four_anc_mode)             \
    X(use_ant_delay) X(tof_delayed) X(tof_anc_id) X(ant_delay_rx) X(ant_delay_tx) X(lag_delay)     \
    X(anc_power) X(training) X(clockOffset) X(tofDiff)

AnchorConfig Anchor::config_snapshot() const
{
    AnchorConfig c{};
    for (;;) {
        const uint32_t s = cfg_seq.read_begin();
#define ZUB_LOAD_FIELD(f) c.f = SeqLock::load(f);
        ZUB_ANCHOR_CONFIG_FIELDS(ZUB_LOAD_FIELD)
#undef ZUB_LOAD_FIELD
        // position is sized only by init, before the jobs start; its elements are guarded.
        const double* p = position.memptr();
        for (unsigned i = 0; i < 3; ++i) {
            c.position[i] = (position.n_elem == 3) ? SeqLock::load(p[i]) : 0.0;
        }
        if (!cfg_seq.read_retry(s)) {
            return c;
        }
    }
}

void Anchor::config_publish(const AnchorConfig& c)
{
    cfg_seq.write_begin();
#define ZUB_STORE_FIELD(f) SeqLock::store(f, c.f);
    ZUB_ANCHOR_CONFIG_FIELDS(ZUB_STORE_FIELD)
#undef ZUB_STORE_FIELD
    if (position.n_elem == 3) {
        double* p = position.memptr();
        for (unsigned i = 0; i < 3; ++i) {
            SeqLock::store(p[i], c.position[i]);
        }
    }
    cfg_seq.write_end();
}

bool Anchor::find_master(WORD64 master_hardware_id, anchor_idx_t* out) const
{
    std::lock_guard<GuardMutex> lock(cfg_lock);
    for (const anchor_idx_t& entry : masters) {
        if (entry.anc_id == master_hardware_id) {
            if (out != nullptr) {
                *out = entry;
            }
            return true;
        }
    }
    return false;
}

double Anchor::rf_distance_to(WORD64 master_hardware_id) const
{
    std::lock_guard<GuardMutex> lock(cfg_lock);
    const auto it = rfDistanceToMaster.find(master_hardware_id);
    return it == rfDistanceToMaster.end() ? 0.0 : it->second;
}

void Anchor::add_master(const anchor_idx_t& entry, double rfdistance)
{
    std::lock_guard<GuardMutex> lock(cfg_lock);
    masters.push_back(entry);
    rfDistanceToMaster.emplace(entry.anc_id, rfdistance);
}

bool Anchor::count_tag_blink(WORD64 tag_id)
{
    // Published entries never change their tag id and their index slots are never freed,
    // so a known tag is found without the lock; only an addition is serialised.
    const unsigned seen = zub_load(tag_cnt, std::memory_order_acquire);
    TagIndexProbe found = zub_tag_index_probe(tag_index, tag_blink, ZUB_MAX_TAG_PER_ANCHOR, tag_id);
    if (found.entry < 0) {
        if (seen >= ZUB_MAX_TAG_PER_ANCHOR) {
            return false;
        }
        std::lock_guard<GuardMutex> lock(count_lock);
        found = zub_tag_index_probe(tag_index, tag_blink, ZUB_MAX_TAG_PER_ANCHOR, tag_id);
        if (found.entry < 0) {
            const unsigned now = zub_load(tag_cnt, std::memory_order_relaxed);
            if (now >= ZUB_MAX_TAG_PER_ANCHOR || found.slot >= ZUB_TAG_INDEX_SLOTS) {
                return false;
            }
            // The first report of a tag adds it with the count its entry holds.
            tag_blink[now].tag_id = tag_id;
            zub_store(tag_index[found.slot], static_cast<WORD16>(now + 1), std::memory_order_release);
            zub_store(tag_cnt, static_cast<WORD16>(now + 1), std::memory_order_release);
            return true;
        }
    }
    std::atomic_ref<WORD64>(tag_blink[found.entry].blink_cnt).fetch_add(1, std::memory_order_relaxed);
    return true;
}

WORD16 Anchor::blink_table_size() const
{
    return zub_load(tag_cnt, std::memory_order_acquire);
}

tag_blink_info_t Anchor::blink_entry(unsigned i) const
{
    const tag_blink_info_t& e = tag_blink[i % ZUB_MAX_TAG_PER_ANCHOR];
    return tag_blink_info_t{zub_load(e.blink_cnt), e.tag_id};
}

bool Anchor::link_record(WORD32 sock, struct event* ev)
{
    std::lock_guard<GuardMutex> lock(link_lock);
    if (tcp_sock.sock != 0) {
        return false;
    }
    zub_store(tcp_sock.sock, sock, std::memory_order_release);
    tcp_sock.ev = ev;
    timeConnected = time_of_day();
    return true;
}

bool Anchor::link_set_event(WORD32 sock, struct event* ev)
{
    std::lock_guard<GuardMutex> lock(link_lock);
    if (sock == 0 || tcp_sock.sock != sock || tcp_sock.ev != nullptr) {
        return false;
    }
    tcp_sock.ev = ev;
    return true;
}

bool Anchor::link_take(WORD32* sock, struct event** ev)
{
    std::lock_guard<GuardMutex> lock(link_lock);
    if (tcp_sock.sock == 0) {
        return false;
    }
    if (sock != nullptr) {
        *sock = tcp_sock.sock;
    }
    if (ev != nullptr) {
        *ev = tcp_sock.ev;
    }
    zub_store(tcp_sock.sock, WORD32{0}, std::memory_order_release);
    tcp_sock.ev = nullptr;
    timeDisconnected = time_of_day();
    return true;
}

WORD32 Anchor::link_socket() const
{
    return zub_load(tcp_sock.sock, std::memory_order_acquire);
}

AnchorLinkState Anchor::link_state() const
{
    std::lock_guard<GuardMutex> lock(link_lock);
    AnchorLinkState s{};
    s.sock = tcp_sock.sock;
    s.ever_connected = timeConnected.tv_sec != 0 || timeConnected.tv_usec != 0;
    s.timeConnected = timeConnected;
    s.timeDisconnected = timeDisconnected;
    return s;
}
