// road_shed.cpp - see zub_road_shed.h.
#include "zub_road_shed.h"

#include <algorithm>

#include "CNPlatform.h"
#include "CNTaskQueue.h"
#include "pub_pqe_jobtype.h"
#include "rtls_interface.h"
#include "zub_context.h"
#include "zub_device_time.h"
#include "zub_job_records.h"
#include "zub_msg.h"
#include "zub_print.h"

namespace {

// The engine's job types, from the control job's up: the queues the router may ask about.
constexpr unsigned kEngineJobTypes = 32;
// Payload bytes a report needs to name its source: an arrival's tag id ends at 10, a ranging
// report's short id at 6, a receive report's master id at 10, a transmit report is its anchor's.
constexpr WORD16 kArrivalSourceEnd = 10;
constexpr WORD16 kRangingSourceEnd = 6;
constexpr WORD16 kCalibrationRxSourceEnd = 10;

// The backlog of an engine job's queue, its queue found once (the queues live as long as the
// process). The socket job's thread only.
size_t backlog_of(const JID& jid)
{
    static const CNTaskQueue* queues[kEngineJobTypes] = {};
    const unsigned slot = (jid.dwJno >> 16) - QE_JOBTYPE_ZUB_CONTROL;
    if (slot >= kEngineJobTypes) {
        return CN_JobBacklogBytes(&jid);
    }
    if (queues[slot] == nullptr) {
        queues[slot] = CN_JobQueue(&jid);
    }
    return queues[slot] != nullptr ? queues[slot]->backlog_bytes() : 0;
}

// Hashes of a key for the two rows of the gate's table (a 64-bit finaliser: every key bit moves
// every slot bit).
WORD64 mix(WORD64 x)
{
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

unsigned slot(const ReportSource& s, unsigned row)
{
    const WORD64 h = mix(s.key ^ (static_cast<WORD64>(s.kind) << 60));
    return static_cast<unsigned>((row == 0 ? h : h >> 32) % ReportGate::kSlots);
}

void print_line(const RoadShedLine& l)
{
    const auto n = [](WORD64 v) { return static_cast<unsigned long long>(v); };
    const auto& last = l.since_last;
    const auto& total = l.total;
    const auto& why = l.cause_since_last;
    const auto& why_total = l.cause_total;
    ZUB_PRINT(ZUB_PRINT_ERROR,
              "report road full: dropped %llu tag reports, %llu clock reports, %llu display records, "
              "%llu anchor replies in %llu ms (since start %llu, %llu, %llu, %llu); of refused tags %llu, "
              "of busy sources %llu, at a hard mark %llu (since start %llu, %llu, %llu)",
              n(last[0]), n(last[1]), n(last[2]), n(last[3]), n(l.ms_since_last), n(total[0]), n(total[1]),
              n(total[2]), n(total[3]), n(why[0]), n(why[1]), n(why[2]), n(why_total[0]), n(why_total[1]),
              n(why_total[2]));
}
static_assert(static_cast<unsigned>(RoadLoad::tag_report) == 0 &&
                  static_cast<unsigned>(RoadLoad::anchor_reply) == 3,
              "the drop line names the kinds in their order");
static_assert(static_cast<unsigned>(RoadDrop::refused_tag) == 1 &&
                  static_cast<unsigned>(RoadDrop::hard_mark) == kRoadDropCauses,
              "the drop line names the causes in their order");

void count_drop(RoadLoad kind, RoadDrop cause)
{
    RoadShedLine line;
    if (zub_road_shed().count(kind, cause, CN_CoarseMonotonicMs(), &line)) {
        print_line(line);
    }
}

// A refused tag's mark: the high word a fingerprint of its id (never 0, so an empty slot marks
// nothing), the low word the time of the refusal.
WORD64 refusal_fingerprint(WORD64 tag_id) { return (mix(tag_id) >> 32) | 0x80000000ull; }

}  // namespace

bool road_report_source(const BYTE* payload, WORD16 len, WORD16 anc_id, ReportSource* out)
{
    if (len == 0) {
        return false;
    }
    ReportSource s;
    switch (payload[0]) {
    case RTLS_CMD_REPORT_TOA_V4:
    case RTLS_CMD_REPORT_TOA_IMU_V4:
        if (len < kArrivalSourceEnd) return false;
        s.key = read64bitIDfrommessagebuffer(payload + 2);
        break;
    case RTLS_CMD_REPORT_TOF_V4:
        if (len < kRangingSourceEnd) return false;
        s.key = read16bitIDfrommessagebuffer(payload + 4);
        break;
    case RTLS_CMD_REPORT_RX_CS_V4:
        if (len < kCalibrationRxSourceEnd) return false;
        s.kind = RoadLoad::calibration_report;
        s.key = read64bitIDfrommessagebuffer(payload + 2) ^ (static_cast<WORD64>(anc_id) << 48);
        break;
    case RTLS_CMD_REPORT_TX_CS_V4:
        s.kind = RoadLoad::calibration_report;
        s.key = anc_id;
        break;
    default:
        // Everything else goes to the control job: test results, configuration requests.
        s.kind = RoadLoad::anchor_reply;
        s.key = anc_id;
        break;
    }
    s.selector = static_cast<unsigned>(s.key % ZUB_SELECTOR_NUM);
    *out = s;
    return true;
}

unsigned RefusedTags::slot_of(WORD64 tag_id) { return static_cast<unsigned>(mix(tag_id) % kSlots); }

void RefusedTags::note(WORD64 tag_id, WORD64 now_ms)
{
    const WORD64 mark = refusal_fingerprint(tag_id) << 32 | (now_ms & 0xFFFFFFFFull);
    slots_[slot_of(tag_id)].store(mark, std::memory_order_relaxed);
}

bool RefusedTags::refused(WORD64 tag_id, WORD64 now_ms) const
{
    const WORD64 mark = slots_[slot_of(tag_id)].load(std::memory_order_relaxed);
    if (mark >> 32 != refusal_fingerprint(tag_id)) {
        return false;
    }
    // The age modulo 2^32 ms; a refusal stamped a little after now_ms (another thread's later
    // clock read) comes out huge and counts as old, which only lets a report through.
    const auto age = static_cast<WORD32>(static_cast<WORD32>(now_ms) - static_cast<WORD32>(mark));
    return age < kHoldMs;
}

RefusedTags& zub_refused_tags()
{
    static RefusedTags table;
    return table;
}

void ReportGate::roll(WORD64 now_ms)
{
    if (now_ms - window_start_ < kWindowMs && now_ms >= window_start_) {
        return;
    }
    // The window just ended is the one before only when the new one follows it directly.
    if (now_ms >= window_start_ && now_ms - window_start_ < 2 * kWindowMs) {
        last_counts_ = counts_;
    } else {
        for (auto& row : last_counts_) {
            row.fill(0);
        }
    }
    for (auto& row : counts_) {
        row.fill(0);
    }
    window_start_ = now_ms;
}

unsigned ReportGate::count_in(const Counts& counts, const ReportSource& source)
{
    return std::min(counts[0][slot(source, 0)], counts[1][slot(source, 1)]);
}

unsigned ReportGate::count_of(const ReportSource& source) const { return count_in(counts_, source); }

unsigned ReportGate::last_count_of(const ReportSource& source) const { return count_in(last_counts_, source); }

RoadDrop ReportGate::admit(const ReportSource& source, const GateLoad& load, WORD64 now_ms)
{
    roll(now_ms);
    for (unsigned row = 0; row < 2; ++row) {
        WORD16& c = counts_[row][slot(source, row)];
        if (c != 0xFFFF) {
            ++c;
        }
    }
    if (load.queue >= road_hard_mark(source.kind)) {
        return RoadDrop::hard_mark;
    }
    // Bytes unread on the link are load too, but only for the sources that give way first:
    // dropping everything would not read the link any faster.
    const size_t loaded = std::max(load.queue, load.link);
    if (load.refused_tag && source.kind == RoadLoad::tag_report && loaded >= kRoadRefusedMarkBytes) {
        return RoadDrop::refused_tag;
    }
    if (loaded < kRoadSoftMarkBytes) {
        return RoadDrop::none;
    }
    const unsigned limit = source.kind == RoadLoad::calibration_report ? kCalibrationLimit
                           : source.kind == RoadLoad::anchor_reply     ? kAnchorReplyLimit
                                                                       : kTagLimit;
    const bool busy = count_of(source) > limit || last_count_of(source) > limit;
    return busy ? RoadDrop::busy_source : RoadDrop::none;
}

bool RoadShedCounter::count(RoadLoad kind, RoadDrop cause, WORD64 now_ms, RoadShedLine* line)
{
    total_[static_cast<unsigned>(kind)].fetch_add(1, std::memory_order_relaxed);
    if (cause != RoadDrop::none) {
        cause_total_[static_cast<unsigned>(cause) - 1].fetch_add(1, std::memory_order_relaxed);
    }
    if (now_ms < next_line_ms_.load(std::memory_order_relaxed) || writing_.exchange(true, std::memory_order_acquire)) {
        return false;
    }
    // Another thread may have written the line between the two reads.
    const bool due = now_ms >= next_line_ms_.load(std::memory_order_relaxed);
    if (due) {
        for (unsigned k = 0; k < kRoadLoadKinds; ++k) {
            line->total[k] = total_[k].load(std::memory_order_relaxed);
            line->since_last[k] = line->total[k] - at_last_line_[k];
            at_last_line_[k] = line->total[k];
        }
        for (unsigned k = 0; k < kRoadDropCauses; ++k) {
            line->cause_total[k] = cause_total_[k].load(std::memory_order_relaxed);
            line->cause_since_last[k] = line->cause_total[k] - cause_at_last_line_[k];
            cause_at_last_line_[k] = line->cause_total[k];
        }
        line->ms_since_last = any_line_ ? now_ms - last_line_ms_ : 0;
        any_line_ = true;
        last_line_ms_ = now_ms;
        next_line_ms_.store(now_ms + kLinePeriodMs, std::memory_order_relaxed);
    }
    writing_.store(false, std::memory_order_release);
    return due;
}

WORD64 RoadShedCounter::total(RoadLoad kind) const
{
    return total_[static_cast<unsigned>(kind)].load(std::memory_order_relaxed);
}

WORD64 RoadShedCounter::total(RoadDrop cause) const
{
    return cause == RoadDrop::none ? 0 : cause_total_[static_cast<unsigned>(cause) - 1].load(std::memory_order_relaxed);
}

RoadShedCounter& zub_road_shed()
{
    static RoadShedCounter counter;
    return counter;
}

bool zub_road_report_send(WORD32 msg_id, const BYTE* body, WORD16 len, const JID* dst, size_t link_backlog)
{
    static ReportGate gate;  // the socket job's thread only
    ReportSource source;
    if (dst == nullptr || len <= ZUB_SOCK_DATA_HEAD_LEN ||
        !road_report_source(body + ZUB_SOCK_DATA_HEAD_LEN, static_cast<WORD16>(len - ZUB_SOCK_DATA_HEAD_LEN),
                            static_cast<WORD16>(body[0] | body[1] << 8), &source)) {
        return zub_asyn_msg_send(msg_id, body, len, dst);
    }
    const WORD64 now_ms = CN_CoarseMonotonicMs();
    GateLoad load{backlog_of(*dst), link_backlog, false};
    if (source.kind == RoadLoad::tag_report) {
        load.queue = std::max(load.queue, backlog_of(zub_context()->jid_selector[source.selector]));
        load.refused_tag = zub_refused_tags().refused(source.key, now_ms);
    }
    const RoadDrop verdict = gate.admit(source, load, now_ms);
    if (verdict == RoadDrop::none) {
        return zub_asyn_msg_send(msg_id, body, len, dst);
    }
    count_drop(source.kind, verdict);
    return false;
}

bool zub_road_send(RoadLoad kind, WORD32 msg_id, const BYTE* buf, WORD16 len, const JID* dst)
{
    const zub_send_result sent = zub_asyn_msg_send_under_mark(msg_id, buf, len, dst, road_hard_mark(kind));
    if (sent == zub_send_result::shed) {
        count_drop(kind, RoadDrop::hard_mark);
    }
    return sent == zub_send_result::sent;
}
