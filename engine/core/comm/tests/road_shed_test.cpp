// Load shedding on the report road as plain code: the source a report or an anchor's reply is
// counted under, which of them the frame router's gate lets on at which backlog (calibration
// kept longer than arrivals, the few sources of a flood dropped before the quiet ones), and the
// one drop line a second with its counts.
#include <gtest/gtest.h>

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
    constexpr size_t reply_hard = kRoadAnchorReplyHardMarkBytes;
    struct Row {
        const char* name;
        ReportSource source;
        unsigned earlier;  // reports of the source earlier in the window (at time 0, backlog 0)
        WORD64 at_ms;
        size_t backlog;
        bool admitted;
        ReportSource flooder{};  // another source with `flooded` reports earlier in the window
        unsigned flooded = 0;
    } rows[] = {
        {"quiet tag, empty road", tag, 0, 0, 0, true},
        {"quiet tag at the soft mark", tag, 0, 0, soft, true},
        {"quiet tag below the hard mark", tag, 10, 0, hard - 1, true},
        {"any tag at the hard mark", tag, 0, 0, hard, false},
        {"busy tag below the soft mark", tag, 100, 0, soft - 1, true},
        {"tag at its limit, soft mark", tag, ReportGate::kTagLimit - 1, 0, soft, true},
        {"tag past its limit, soft mark", tag, ReportGate::kTagLimit, 0, soft, false},
        {"a busy tag leaves another alone", other_tag, 0, 0, soft, true, tag, 1000},
        {"the next window starts afresh", tag, 100, ReportGate::kWindowMs, soft, true},
        {"still the same window", tag, 100, ReportGate::kWindowMs - 1, soft, false},
        {"calibration kept at the tags' hard mark", pair, 0, 0, hard, true},
        {"calibration at its own hard mark", pair, 0, 0, cal_hard, false},
        {"calibration pair at its limit", pair, ReportGate::kCalibrationLimit - 1, 0, soft, true},
        {"calibration pair past its limit", pair, ReportGate::kCalibrationLimit, 0, soft, false},
        {"anchor replies below the soft mark, however many", anchor, 5000, 0, soft - 1, true},
        {"anchor at its limit, soft mark", anchor, ReportGate::kAnchorReplyLimit - 1, 0, soft, true},
        {"anchor past its limit, soft mark", anchor, ReportGate::kAnchorReplyLimit, 0, soft, false},
        {"a repeating anchor leaves another's reply alone", other_anchor, 0, 0, reply_hard - 1, true, anchor,
         5000},
        {"any anchor reply at the control job's hard mark", other_anchor, 0, 0, reply_hard, false},
        {"an anchor's replies are counted apart from its transmit reports",
         ReportSource{RoadLoad::calibration_report, 5, 5}, 0, 0, soft, true, anchor, 5000},
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
        EXPECT_EQ(gate.admit(r.source, r.backlog, r.at_ms), r.admitted);
        EXPECT_EQ(gate.count_of(r.source), r.at_ms >= ReportGate::kWindowMs ? 1u : r.earlier + 1);
    }
}

TEST(engine_comm_RoadShed, OneLineASecondWithTheCounts)
{
    struct Row {
        WORD64 at_ms;
        RoadLoad kind;
        bool line;
        RoadShedLine expected;  // when a line is written
    } rows[] = {
        {1000, RoadLoad::tag_report, true, {{1, 0, 0, 0}, {1, 0, 0, 0}, 0}},
        {1200, RoadLoad::calibration_report, false, {}},
        {1500, RoadLoad::anchor_reply, false, {}},
        {1999, RoadLoad::display_copy, false, {}},
        {2000, RoadLoad::tag_report, true, {{1, 1, 1, 1}, {2, 1, 1, 1}, 1000}},
        {2500, RoadLoad::tag_report, false, {}},
        {5000, RoadLoad::calibration_report, true, {{1, 1, 0, 0}, {3, 2, 1, 1}, 3000}},
        {5001, RoadLoad::calibration_report, false, {}},
        {6000, RoadLoad::anchor_reply, true, {{0, 1, 0, 1}, {3, 3, 1, 2}, 1000}},
    };
    RoadShedCounter counter;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.at_ms);
        RoadShedLine line;
        ASSERT_EQ(counter.count(r.kind, r.at_ms, &line), r.line);
        if (!r.line) continue;
        EXPECT_EQ(line.since_last, r.expected.since_last);
        EXPECT_EQ(line.total, r.expected.total);
        EXPECT_EQ(line.ms_since_last, r.expected.ms_since_last);
    }
    EXPECT_EQ(counter.total(RoadLoad::tag_report), 3u);
    EXPECT_EQ(counter.total(RoadLoad::calibration_report), 3u);
    EXPECT_EQ(counter.total(RoadLoad::display_copy), 1u);
    EXPECT_EQ(counter.total(RoadLoad::anchor_reply), 2u);
}
