// zub_road_shed.h - load shedding on the report road. Under a flood of valid reports beyond what
// the road can handle, a report is dropped before it joins a queue that already holds a
// fraction of a second of work, instead of waiting behind seconds of others: the engine's
// memory stays bounded and what the road takes is handled in time.
//
// Who gives way: the frame router's gate (ReportGate) keeps, per report source (a tag, or a
// clock-calibration pair), a count of its reports in the current tenth of a second and in the
// one before. Under load, first the reports of a tag that a selector refused in the last second
// (it has no record, and is refused again at once), from the refused mark; then, from the soft
// mark, the reports of sources far above what any tag or pair sends in normal work, in this
// window or the last (a flood source stays cut across the window's turn), so a flood of a few
// sources leaves the others their positions. Load is the receiving queue's backlog or, for
// these two, also the bytes waiting unread on the anchor's link (the socket job is behind). At
// the hard mark of the queue every tag report is dropped, whatever its source. Clock-
// calibration reports, on which every tag's accuracy depends, have a hard mark twice as high.
// Further down the road, a manager's report to its selector and the copies of reports for the
// display job give way at the hard mark. An anchor's replies to the control job (test results,
// configuration requests) pass the same gate on the control job's queue, so an anchor that
// repeats one cannot bury the controller's requests behind it. Below the marks a send is the
// job send it always was (it waits while the receiver's queue is full).
//
// The rule (keys, counts, marks) and the drop counter are plain code; zub_road_report_send and
// zub_road_send apply them to the platform's queues. Drops are told in one trace line at most a
// second (error level), with the counts since the last line and since start.
//
// Threads: ReportGate and zub_road_report_send belong to the socket job's thread (the frame
// router). zub_road_send and the counter: any job thread (the managers, the clock-sync job and
// the router count at once; the counts are atomic and one thread at a time writes the line).
// RefusedTags: the selectors write, the socket job's thread reads (single atomic words).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>

#include "VorlenTypes.h"

enum class RoadLoad : unsigned {
    tag_report,          // an arrival or ranging report, to a manager and on to a selector
    calibration_report,  // a clock-calibration report, to the clock-sync job
    display_copy,        // a copy of a report for the display job's interface ports
    anchor_reply,        // an anchor's reply or request to the control job ('B', 0x81 to 0x85)
};
constexpr unsigned kRoadLoadKinds = 4;

// Why a report was dropped (the drop line counts each).
enum class RoadDrop : unsigned {
    none,          // not dropped
    refused_tag,   // its tag was refused a record in the last second and the road is loaded
    busy_source,   // its source is far above normal work and the road is loaded
    hard_mark,     // its receiver holds the hard mark
};
constexpr unsigned kRoadDropCauses = 3;  // the causes after none

// A manager forwards some 100,000 to 200,000 short tag reports a second (67 bytes of queue each).
// The soft mark, a few milliseconds of its work, is where a queue starts to form: the busy
// sources of a flood are cut there, before the quiet tags feel it. The hard mark is some 50 ms:
// a report that waits longer than the solve wait (100 ms on most sites) misses its round anyway.
constexpr size_t kRoadSoftMarkBytes = size_t{32} << 10;
// A tag refused a record is refused again at once: its reports are only work. They go as soon
// as a queue forms at all (some sixty reports waiting) or its link holds more than one read.
constexpr size_t kRoadRefusedMarkBytes = size_t{4} << 10;
constexpr size_t kRoadHardMarkBytes = size_t{512} << 10;
constexpr size_t kRoadCalibrationHardMarkBytes = size_t{1} << 20;
// The control job takes an anchor's reply in a few microseconds; at its hard mark (some ten
// thousand replies) a controller's request waits some milliseconds behind them.
constexpr size_t kRoadAnchorReplyHardMarkBytes = size_t{512} << 10;

// The mark at which every message of the kind is dropped.
constexpr size_t road_hard_mark(RoadLoad kind)
{
    return kind == RoadLoad::calibration_report ? kRoadCalibrationHardMarkBytes
           : kind == RoadLoad::anchor_reply     ? kRoadAnchorReplyHardMarkBytes
                                                : kRoadHardMarkBytes;
}

// A report's source and where it goes, from its first payload bytes.
struct ReportSource {
    RoadLoad kind = RoadLoad::tag_report;
    WORD64 key = 0;         // tag id (ranging: the short id); calibration: anchor and master;
                            // anchor reply: the anchor's local id
    unsigned selector = 0;  // tag reports: the selector of the tag (key mod 18)
};

// The source of an anchor payload of `len` bytes from the anchor of local id anc_id: a report, or
// (any other first byte) a reply to the control job; false for an empty payload and for reports
// too short to name their source (their receiver refuses them anyway).
bool road_report_source(const BYTE* payload, WORD16 len, WORD16 anc_id, ReportSource* out);

// The tags a selector refused a record at the bound, for the frame router's gate: each refusal
// marks the tag for kHoldMs. A table of single 64-bit words (a fingerprint of the tag id and
// the low 32 bits of the refusal's time), so a reader sees a whole mark; a tag whose slot a
// later refusal took is simply no longer marked. Times are monotonic milliseconds.
// Threads: note() any selector thread, refused() any thread; no lock.
class RefusedTags {
public:
    static constexpr unsigned kSlots = 4096;
    static constexpr WORD64 kHoldMs = 1000;

    void note(WORD64 tag_id, WORD64 now_ms);
    // Whether tag_id was refused within kHoldMs before now_ms.
    bool refused(WORD64 tag_id, WORD64 now_ms) const;
    // The slot that holds the tag's mark: the tags of one slot mark only the last refused.
    static unsigned slot_of(WORD64 tag_id);

private:
    std::array<std::atomic<WORD64>, kSlots> slots_{};
};

// The engine's one table.
RefusedTags& zub_refused_tags();

// What the gate weighs besides the report's source.
struct GateLoad {
    size_t queue = 0;           // bytes its receiver holds (tag reports: the larger of the
                                // manager's and the selector's)
    size_t link = 0;            // bytes waiting unread on the anchor's link
    bool refused_tag = false;   // a tag report whose tag was refused a record in the last second
};

// The frame router's gate: which reports go on, given how much their receiver holds.
class ReportGate {
public:
    static constexpr WORD64 kWindowMs = 100;
    // Reports of one source in a window beyond which it is far above normal work: a round of a
    // tag takes at most 22 arrivals, and a master sends a few calibration packets a second; an
    // anchor replies once to each command and asks for its configuration once a link.
    static constexpr unsigned kTagLimit = 44;
    static constexpr unsigned kCalibrationLimit = 8;
    static constexpr unsigned kAnchorReplyLimit = 8;
    static constexpr unsigned kSlots = 4096;  // per row of the count table

    // Counts the report and says why it is dropped, or RoadDrop::none when it goes on.
    RoadDrop admit(const ReportSource& source, const GateLoad& load, WORD64 now_ms);
    // The same, the load only its receiver's backlog (bytes).
    bool admit(const ReportSource& source, size_t backlog, WORD64 now_ms)
    {
        return admit(source, GateLoad{backlog, 0, false}, now_ms) == RoadDrop::none;
    }
    // The source's reports so far in the current window (never fewer than were counted).
    unsigned count_of(const ReportSource& source) const;
    // Its reports in the window before (0 when that window is older than one window).
    unsigned last_count_of(const ReportSource& source) const;

private:
    using Counts = std::array<std::array<WORD16, kSlots>, 2>;
    void roll(WORD64 now_ms);
    static unsigned count_in(const Counts& counts, const ReportSource& source);

    // Two rows of counters indexed by two hashes of the key: a source's count is the smaller
    // of its two, so only a collision in both rows makes a quiet source look busy. The window
    // before is kept, so a source busy there is still busy at the window's turn.
    Counts counts_{};
    Counts last_counts_{};
    WORD64 window_start_ = 0;
};

// The counts of one drop line.
struct RoadShedLine {
    std::array<WORD64, kRoadLoadKinds> since_last{};  // since the previous line
    std::array<WORD64, kRoadLoadKinds> total{};       // since start
    WORD64 ms_since_last = 0;                         // 0 for the first line
    std::array<WORD64, kRoadDropCauses> cause_since_last{};  // by RoadDrop, from refused_tag on
    std::array<WORD64, kRoadDropCauses> cause_total{};
};

class RoadShedCounter {
public:
    static constexpr WORD64 kLinePeriodMs = 1000;

    // Counts one drop at now_ms (a monotonic clock). True when the calling thread is to write
    // the line now, with its counts in *line: the first drop, then the first drop at least a
    // second after the last line.
    bool count(RoadLoad kind, RoadDrop cause, WORD64 now_ms, RoadShedLine* line);
    bool count(RoadLoad kind, WORD64 now_ms, RoadShedLine* line)
    {
        return count(kind, RoadDrop::hard_mark, now_ms, line);
    }
    WORD64 total(RoadLoad kind) const;
    WORD64 total(RoadDrop cause) const;

private:
    std::array<std::atomic<WORD64>, kRoadLoadKinds> total_{};
    std::array<std::atomic<WORD64>, kRoadDropCauses> cause_total_{};
    std::array<WORD64, kRoadLoadKinds> at_last_line_{};  // under writing_
    std::array<WORD64, kRoadDropCauses> cause_at_last_line_{};  // under writing_
    std::atomic<WORD64> next_line_ms_{0};
    std::atomic<bool> writing_{false};                  // a thread is taking the line's turn
    WORD64 last_line_ms_ = 0;                           // under writing_
    bool any_line_ = false;                             // under writing_
};

// The engine's one counter.
RoadShedCounter& zub_road_shed();

// The frame router's send of an anchor frame's message (sock_data_t of `len` bytes): a report
// or a reply to the control job goes through the gate with its receiver's backlog, the bytes
// waiting unread on its link (`link_backlog`) and, for a tag report, whether its tag was
// refused; a message without a source is sent as zub_asyn_msg_send sends it. True when sent.
// The socket job's thread.
bool zub_road_report_send(WORD32 msg_id, const BYTE* body, WORD16 len, const JID* dst, size_t link_backlog = 0);

// A send of `kind` from a job further down the road (a manager's report to its selector and its
// copy for the display job; the clock-sync job's copy): dropped and counted when `dst` already
// holds the kind's hard mark, else sent as zub_asyn_msg_send sends it (a refused send printed).
// True when sent. A job's own thread.
bool zub_road_send(RoadLoad kind, WORD32 msg_id, const BYTE* buf, WORD16 len, const JID* dst);
