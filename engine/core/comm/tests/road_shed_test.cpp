// Load shedding on the report road as plain code: the source a report or an anchor's reply is
// counted under, which of them the frame router's gate lets on at which backlog (calibration
// kept longer than arrivals, refused tags and then the few sources of a flood dropped before the
// quiet ones, unread link bytes counted as load), which tags a refusal marks for how long, and the
// one drop line a second with its counts.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "zub_road_shed.h"

namespace {

constexpr WORD64 kMaster = 0xA0B1000000000008ull;

std::vector<BYTE> payload(std::initializer_list<BYTE> head, size_t len)
{
    std::vector<BYTE> p(head);
    p.resize(len, 0);
    return p;
}

std::vector<BYTE> with_le(std::vector<BYTE> p, size_t at, WORD64 v, size_t n)
{
    for (size_t i = 0; i < n; ++i) p[at + i] = static_cast<BYTE>(v >> (8 * i));
    return p;
}

}  // namespace

TEST(engine_comm_RoadShed, SourceOfAReport)
{
    struct Row {
        const char* name;
        std::vector<BYTE> payload;
        WORD16 anc_id;
        bool sheddable;
        RoadLoad kind;
        WORD64 key;
        unsigned selector;
    } rows[] = {
        {"arrival", with_le(payload({0x32, 1}, 18), 2, 0x1001, 8), 3, true, RoadLoad::tag_report, 0x1001,
         4097 % 18},
        {"arrival with inertial data", with_le(payload({0x33, 1}, 48), 2, 37, 8), 3, true,
         RoadLoad::tag_report, 37, 1},
        {"arrival cut after its tag id", with_le(payload({0x32, 1}, 10), 2, 36, 8), 3, true,
         RoadLoad::tag_report, 36, 0},
        {"arrival without its whole tag id", payload({0x32, 1}, 9), 3, false, {}, 0, 0},
        {"range: the short id", with_le(payload({0x83, 1, 9, 9}, 14), 4, 0x0105, 2), 3, true,
         RoadLoad::tag_report, 0x0105, 9},
        {"range without its short id", payload({0x83, 1, 9, 9, 5}, 5), 3, false, {}, 0, 0},
        {"receive report: anchor and master", with_le(payload({0x31, 7}, 18), 2, kMaster, 8), 5, true,
         RoadLoad::calibration_report, kMaster ^ (WORD64{5} << 48), (kMaster ^ (WORD64{5} << 48)) % 18},
        {"transmit report: the master itself", payload({0x30, 7}, 8), 6, true, RoadLoad::calibration_report,
         6, 6},
        {"configuration request: its anchor", payload({0x42}, 1), 21, true, RoadLoad::anchor_reply, 21, 3},
        {"power test done: its anchor", payload({0x85}, 1), 3, true, RoadLoad::anchor_reply, 3, 3},
        {"final range reply: its anchor", payload({0x84, 0, 0, 7}, 12), 40, true, RoadLoad::anchor_reply, 40,
         4},
        {"a code nobody knows goes to the control job too", payload({0x10}, 3), 5, true,
         RoadLoad::anchor_reply, 5, 5},
        {"empty payload", {}, 3, false, {}, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ReportSource s;
        ASSERT_EQ(road_report_source(r.payload.data(), static_cast<WORD16>(r.payload.size()), r.anc_id, &s),
                  r.sheddable);
        if (!r.sheddable) continue;
        EXPECT_EQ(s.kind, r.kind);
        EXPECT_EQ(s.key, r.key);
        EXPECT_EQ(s.selector, r.selector);
    }
}

TEST(engine_comm_RoadShed, GateLetsOnByBacklogAndSource)
{
    const ReportSource tag{RoadLoad::tag_report, 0x20001, 0};
    const ReportSource other_tag{RoadLoad::tag_report, 0x1001, 0};
    const ReportSource pair{RoadLoad::calibration_report, kMaster ^ (WORD64{5} << 48), 0};
    const ReportSource anchor{RoadLoad::anchor_reply, 5, 5};
    const ReportSource other_anchor{RoadLoad::anchor_reply, 6, 6};
    constexpr size_t soft = kRoadSoftMarkBytes, hard = kRoadHardMarkBytes, cal_hard = kRoadCalibrationHardMarkBytes;
    constexpr size_t reply_hard = kRoadAnchorReplyHardMarkBytes, refused_mark = kRoadRefusedMarkBytes;
    constexpr WORD64 window = ReportGate::kWindowMs;
    constexpr RoadDrop go = RoadDrop::none, busy = RoadDrop::busy_source, full = RoadDrop::hard_mark;
    constexpr RoadDrop refused = RoadDrop::refused_tag;
    struct Row {
        const char* name;
        ReportSource source;
        unsigned earlier;  // reports of the source earlier in the window (at time 0, backlog 0)
        WORD64 at_ms;
        size_t backlog;
        RoadDrop verdict;
        ReportSource flooder{};  // another source with `flooded` reports earlier in the window
        unsigned flooded = 0;
        size_t link = 0;         // bytes unread on the report's link
        bool refused_tag = false;
    } rows[] = {
        {"quiet tag, empty road", tag, 0, 0, 0, go},
        {"quiet tag at the soft mark", tag, 0, 0, soft, go},
        {"quiet tag below the hard mark", tag, 10, 0, hard - 1, go},
        {"any tag at the hard mark", tag, 0, 0, hard, full},
        {"busy tag below the soft mark", tag, 100, 0, soft - 1, go},
        {"tag at its limit, soft mark", tag, ReportGate::kTagLimit - 1, 0, soft, go},
        {"tag past its limit, soft mark", tag, ReportGate::kTagLimit, 0, soft, busy},
        {"a busy tag leaves another alone", other_tag, 0, 0, soft, go, tag, 1000},
        {"busy in the window before: still busy at the turn", tag, 100, window, soft, busy},
        {"busy two windows ago: afresh", tag, 100, 2 * window, soft, go},
        {"still the same window", tag, 100, window - 1, soft, busy},
        {"busy in the window before, the road below the soft mark", tag, 100, window, soft - 1, go},
        {"calibration kept at the tags' hard mark", pair, 0, 0, hard, go},
        {"calibration at its own hard mark", pair, 0, 0, cal_hard, full},
        {"calibration pair at its limit", pair, ReportGate::kCalibrationLimit - 1, 0, soft, go},
        {"calibration pair past its limit", pair, ReportGate::kCalibrationLimit, 0, soft, busy},
        {"anchor replies below the soft mark, however many", anchor, 5000, 0, soft - 1, go},
        {"anchor at its limit, soft mark", anchor, ReportGate::kAnchorReplyLimit - 1, 0, soft, go},
        {"anchor past its limit, soft mark", anchor, ReportGate::kAnchorReplyLimit, 0, soft, busy},
        {"a repeating anchor leaves another's reply alone", other_anchor, 0, 0, reply_hard - 1, go, anchor, 5000},
        {"any anchor reply at the control job's hard mark", other_anchor, 0, 0, reply_hard, full},
        {"an anchor's replies are counted apart from its transmit reports",
         ReportSource{RoadLoad::calibration_report, 5, 5}, 0, 0, soft, go, anchor, 5000},
        {"refused tag, no queue: goes on to be refused", tag, 0, 0, refused_mark - 1, go, {}, 0, 0, true},
        {"refused tag once a queue forms: goes first", tag, 0, 0, refused_mark, refused, {}, 0, 0, true},
        {"refused tag, its link holding unread bytes", tag, 0, 0, 0, refused, {}, 0, refused_mark, true},
        {"quiet tag with its record at the refused mark", other_tag, 0, 0, refused_mark, go, tag, 1000, 0, false},
        {"refused tag at the hard mark: the hard mark", tag, 0, 0, hard, full, {}, 0, 0, true},
        {"busy tag while its link is behind", tag, ReportGate::kTagLimit, 0, 0, busy, {}, 0, soft},
        {"quiet tag, its link far behind: no hard mark for unread bytes", tag, 10, 0, 0, go, {}, 0, 2 * cal_hard},
        {"busy tag, queue and link below the soft mark", tag, 100, 0, soft - 1, go, {}, 0, soft - 1},
        {"only tag reports are refused tags", pair, 0, 0, soft - 1, go, {}, 0, 0, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ReportGate gate;
        for (unsigned i = 0; i < r.earlier; ++i) {
            ASSERT_TRUE(gate.admit(r.source, 0, 0));
        }
        for (unsigned i = 0; i < r.flooded; ++i) {
            gate.admit(r.flooder, 0, 0);
        }
        EXPECT_EQ(gate.admit(r.source, GateLoad{r.backlog, r.link, r.refused_tag}, r.at_ms), r.verdict);
        EXPECT_EQ(gate.count_of(r.source), r.at_ms >= window ? 1u : r.earlier + 1);
    }
}

// A refusal marks its tag for a second.
TEST(engine_comm_RoadShed, RefusedTagsMarkedForASecond)
{
    constexpr WORD64 t0 = 5000, hold = RefusedTags::kHoldMs;
    struct Row {
        const char* name;
        std::vector<std::pair<WORD64, WORD64>> refusals;  // (tag, at ms)
        WORD64 asked_tag;
        WORD64 asked_at;
        bool refused;
    } rows[] = {
        {"never refused", {}, 0x20001, t0, false},
        {"refused just now", {{0x20001, t0}}, 0x20001, t0, true},
        {"refused a moment before the second is out", {{0x20001, t0}}, 0x20001, t0 + hold - 1, true},
        {"a second after its refusal", {{0x20001, t0}}, 0x20001, t0 + hold, false},
        {"another tag refused", {{0x20002, t0}}, 0x20001, t0, false},
        {"refused again: the second starts anew", {{0x20001, t0}, {0x20001, t0 + 900}}, 0x20001, t0 + 1500, true},
        {"tag 0 is a tag like any other", {{0, t0}}, 0, t0 + 1, true},
        {"refused at a clock read a little later than the gate's", {{0x20001, t0 + 3}}, 0x20001, t0, false},
        {"refused across the low word's wrap", {{0x20001, 0xFFFFFF00ull}}, 0x20001, 0x100000010ull, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        RefusedTags table;
        for (const auto& [tag, at] : r.refusals) {
            table.note(tag, at);
        }
        EXPECT_EQ(table.refused(r.asked_tag, r.asked_at), r.refused);
    }
}

TEST(engine_comm_RoadShed, OneLineASecondWithTheCounts)
{
    constexpr RoadDrop refused = RoadDrop::refused_tag, busy = RoadDrop::busy_source, full = RoadDrop::hard_mark;
    struct Row {
        WORD64 at_ms;
        RoadLoad kind;
        RoadDrop cause;
        bool line;
        RoadShedLine expected;  // when a line is written
    } rows[] = {
        {1000, RoadLoad::tag_report, refused, true, {{1, 0, 0, 0}, {1, 0, 0, 0}, 0, {1, 0, 0}, {1, 0, 0}}},
        {1200, RoadLoad::calibration_report, busy, false, {}},
        {1500, RoadLoad::anchor_reply, full, false, {}},
        {1999, RoadLoad::display_copy, full, false, {}},
        {2000, RoadLoad::tag_report, busy, true, {{1, 1, 1, 1}, {2, 1, 1, 1}, 1000, {0, 2, 2}, {1, 2, 2}}},
        {2500, RoadLoad::tag_report, refused, false, {}},
        {5000, RoadLoad::calibration_report, full, true, {{1, 1, 0, 0}, {3, 2, 1, 1}, 3000, {1, 0, 1}, {2, 2, 3}}},
        {5001, RoadLoad::calibration_report, full, false, {}},
        {6000, RoadLoad::anchor_reply, busy, true, {{0, 1, 0, 1}, {3, 3, 1, 2}, 1000, {0, 1, 1}, {2, 3, 4}}},
    };
    RoadShedCounter counter;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.at_ms);
        RoadShedLine line;
        ASSERT_EQ(counter.count(r.kind, r.cause, r.at_ms, &line), r.line);
        if (!r.line) continue;
        EXPECT_EQ(line.since_last, r.expected.since_last);
        EXPECT_EQ(line.total, r.expected.total);
        EXPECT_EQ(line.ms_since_last, r.expected.ms_since_last);
        EXPECT_EQ(line.cause_since_last, r.expected.cause_since_last);
        EXPECT_EQ(line.cause_total, r.expected.cause_total);
    }
    EXPECT_EQ(counter.total(RoadLoad::tag_report), 3u);
    EXPECT_EQ(counter.total(RoadLoad::calibration_report), 3u);
    EXPECT_EQ(counter.total(RoadLoad::display_copy), 1u);
    EXPECT_EQ(counter.total(RoadLoad::anchor_reply), 2u);
    EXPECT_EQ(counter.total(RoadDrop::refused_tag), 2u);
    EXPECT_EQ(counter.total(RoadDrop::busy_source), 3u);
    EXPECT_EQ(counter.total(RoadDrop::hard_mark), 4u);
}
