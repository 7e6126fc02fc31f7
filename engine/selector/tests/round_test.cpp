// The TDoA round end to end through the selector core on a fake clock: blinks every
// 100 ms, solve wait 20 ms.
#include <cmath>
#include <cstring>

#include "selector_fixture.h"
#include "zub_position_filter.h"

using namespace selector_test;

namespace {

constexpr double C = 299702547.0;
constexpr double P = 17.207401025641026;

// One area with one sub-area of two points, kept for the whole test program.
area_t* make_area(WORD64 hw, e_sub_area_type type, float x1, float y1, float x2, float y2)
{
    auto* area = new area_t{};
    qk_queue_init(&area->sub_area);
    area->id = hw;
    auto* sub = new sub_area_t{};
    sub->type = type;
    qk_queue_init(&sub->points);
    qk_queue_push(&sub->points, &(new point_t{{}, x1, y1, 0})->node);
    qk_queue_push(&sub->points, &(new point_t{{}, x2, y2, 0})->node);
    qk_queue_push(&area->sub_area, &sub->node);
    return area;
}

class SelectorRound : public ::testing::Test {
protected:
    void SetUp() override
    {
        reset_context();
        const double xy[5][2] = {{0, 0}, {20, 0}, {0, 10}, {20, 10}, {10, 5}};
        for (WORD16 i = 0; i < 5; ++i) {
            set_anchor(i, 0xB000 + i, xy[i][0], xy[i][1], 0);
        }
        for (WORD16 i = 1; i <= 4; ++i) {
            set_sync(i, 0, 0, h.now, 1e-3 * i);
        }
        ASSERT_EQ(Selector::ComputeGlobalDistanceMatrix(0), 0);
    }
    static double offset(WORD16 id) { return id >= 1 && id <= 4 ? 1e-3 * id : 0.0; }
    // One blink heard by `order`, then the tick 20 ms later. Returns the records it sent.
    std::vector<Record> blink(WORD64 tag, std::initializer_list<WORD16> order, double x, double y, double z, BYTE seq)
    {
        h.records.clear();
        for (WORD16 id : order) {
            const double toa = std::fmod(3.0 + 0.1 * seq + anchor_distance(id, x, y, z) / C + offset(id), P);
            h.sel.process_toa_report(&zub_context()->anchors[id], seq, tag, toa);
        }
        h.now += 20;
        h.sel.recv_timer_periodic_calculate();
        h.now += 80;
        return h.records;
    }
    Harness h;
};

}  // namespace

TEST_F(SelectorRound, MultipleModeSendsFromTheEighthRound)
{
    // Motion filter types: 0 trimmed mean, 1 moving average (eight results over a window of
    // nine that starts zero-filled: 8/9 of the position), 3 Kalman, 4 none (unfiltered).
    // Round 8 without A0, the previous round's first anchor: the Kalman filter has nothing
    // to step with and the estimate goes out unfiltered.
    struct Row { bool zero; WORD64 hw; int filter; WORD64 tag; double share; bool without_a0; };
    for (const Row r : {Row{false, 0xB001, 0, 0x500, 1.0, false}, Row{true, 0xB002, 0, 0x501, 1.0, false},
                        Row{false, 0xB001, 1, 0x502, 8.0 / 9.0, false}, Row{false, 0xB001, 3, 0x503, 1.0, false},
                        Row{false, 0xB001, 3, 0x505, 1.0, true}, Row{false, 0xB001, 4, 0x504, 1.0, false}}) {
        SCOPED_TRACE(r.tag);
        zub_context()->zeroAlgorithmEnable = r.zero ? 1 : 0;
        zub_context()->enable_motion_filter = r.filter;
        zub_context()->toa_ignore_time = 60000;  // the slots stay fresh for these rounds
        const WORD64 tag = r.tag;
        for (BYTE seq = 1; seq <= 7; ++seq) {
            EXPECT_TRUE(blink(tag, {1, 0, 2, 3, 4}, 7, 9, 0, seq).empty()) << int(seq);
        }
        if (r.without_a0) {
            h.sel.find_tag(tag)->prev_blink.id = 0;
        }
        const std::vector<Record> out =
            r.without_a0 ? blink(tag, {1, 2, 3, 4}, 7, 9, 0, 8) : blink(tag, {1, 0, 2, 3, 4}, 7, 9, 0, 8);
        ASSERT_EQ(out.size(), 1u);
        const Position m = position_of(out[0]);
        EXPECT_EQ(m.anchor_mode, 4);
        EXPECT_EQ(m.tag_id, tag);
        EXPECT_NEAR(m.x, 7000 * r.share, 10);
        EXPECT_NEAR(m.y, 9000 * r.share, 10);
        EXPECT_EQ(m.z, 0);
        EXPECT_EQ(m.anchor_id, r.hw);
        const Tag* t = h.sel.tags.find_key(tag);
        EXPECT_EQ(t->statistic.multi_total, 8u);
        EXPECT_EQ(t->statistic.multi_failed, 0u);
        EXPECT_EQ(t->blinkReports.nBlinks, 0);
        EXPECT_EQ(t->prevSeqNum, 8);
    }
}

TEST_F(SelectorRound, SingleModeFromTheFourthHitAndHitsExpire)
{
    set_anchor(9, 0xB009, 30, 5, 3, ZUB_ANCHOR_WORKING_MODE_SINGLE);
    zub_context()->single_blink_expire = 22;
    for (BYTE seq = 1; seq <= 5; ++seq) {
        const std::vector<Record> out = blink(0x600, {9}, 30, 5, 3, seq);
        ASSERT_EQ(out.size(), seq >= 4 ? 1u : 0u) << int(seq);
        if (seq >= 4) {
            const Position m = position_of(out[0]);
            EXPECT_EQ(m.anchor_mode, 1);
            EXPECT_EQ(m.x, 30000);
            EXPECT_EQ(m.y, 5000);
            EXPECT_EQ(m.z, 3000);
            EXPECT_EQ(m.anchor_id, 0xB009u);
        }
    }
    // Four hits 100 ms apart, the last one `age` ms old at the solve: the first is 300 ms older.
    struct Row { WORD64 age_ms; bool ok; };
    for (const Row r : {Row{0, true}, Row{21'700, true}, Row{21'701, false}}) {
        SCOPED_TRACE(r.age_ms);
        Tag* t = h.sel.find_tag(0x601);
        t->blinkReports = blinks_t{};
        for (int i = 0; i < 4; ++i) {
            t->blinkReports.single_mode_anchor[i] = single_blink_t{9, h.now - r.age_ms - 100 * (3 - i)};
        }
        t->blinkReports.single_mode_count = 4;
        arma::rowvec pos;
        WORD16 anc = 0;
        EXPECT_EQ(h.sel.calculete_position_in_single_mode(t, pos, anc, false), r.ok);
    }
}

TEST_F(SelectorRound, CorridorPositions)
{
    reset_context();
    set_anchor(10, 0xC00A, 0, 2, 3, ZUB_ANCHOR_WORKING_MODE_COUPLE);
    set_anchor(11, 0xC00B, 20, 2, 3, ZUB_ANCHOR_WORKING_MODE_COUPLE);
    set_sync(11, 0, 10, h.now, 0.0);
    zub_context()->anchors[10].area = make_area(0xC00A, ZUB_SUB_AREA_TYPE_CORRIDOR, -1, 0, 21, 4);
    ASSERT_EQ(Selector::ComputeGlobalDistanceMatrix(0), 0);
    struct Row { WORD64 tag; double x; int32_t want_x, want_y; };
    const Row rows[] = {
        {0x701, 6, 6000, 2680},
        {0x702, 6, 6000, 1320},
        {0x703, 25, 20000, 2680},  // beyond B: the difference is the full distance, x = B.x
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.tag);
        const std::vector<Record> out = blink(r.tag, {10, 11}, r.x, 2, 3, 1);
        ASSERT_EQ(out.size(), 1u);
        const Position m = position_of(out[0]);
        EXPECT_EQ(m.anchor_mode, 2);
        EXPECT_NEAR(m.x, r.want_x, 1);
        EXPECT_NEAR(m.y, r.want_y, 1);
        EXPECT_EQ(m.z, 0);
        EXPECT_EQ(m.anchor_id, 0xC00Au);
    }
    // A corridor sub-area of one point is no corridor.
    LogCapture log;
    zub_context()->anchors[10].area = make_area(0xC00A, ZUB_SUB_AREA_TYPE_CORRIDOR, -1, 0, 21, 4);
    auto* sub = reinterpret_cast<sub_area_t*>(zub_context()->anchors[10].area->sub_area.head);
    qk_queue_detach(&sub->points, sub->points.tail);
    EXPECT_TRUE(blink(0x705, {10, 11}, 6, 2, 3, 1).empty());
    EXPECT_TRUE(log.contains("area has no sub area,anchor(10)."));
    zub_context()->anchors[10].area = nullptr;
    EXPECT_TRUE(blink(0x706, {10, 11}, 6, 2, 3, 1).empty());
    EXPECT_TRUE(log.contains("area get by anchor(10) failed."));
}

TEST_F(SelectorRound, SmoothingOverrideAndMissingCounts)
{
    set_anchor(9, 0xB009, 21, 1, 0, ZUB_ANCHOR_WORKING_MODE_SINGLE);
    zub_context()->single_blink_count = 1;
    {
        LogCapture log;
        Tag* t = h.sel.find_tag(0x801);
        t->last_push_pos.x = 1;
        t->last_push_pos.y = 1;
        const std::vector<Record> out = blink(0x801, {9}, 21, 1, 0, 1);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(position_of(out[0]).x, 11000);
        EXPECT_EQ(position_of(out[0]).y, 1000);
        EXPECT_TRUE(log.contains("tag_id:801 delta=20.0"));
    }
    // A failed round of a tag last placed in a single sub-area keeps that place, z 0.
    {
        Tag* t = h.sel.find_tag(0x802);
        t->last_push_pos = pos_t{4.5, 6.5, 2.0, 3, 0, ZUB_SUB_AREA_TYPE_SIINGLE};
        const std::vector<Record> out = blink(0x802, {0, 1}, 7, 9, 0, 1);
        ASSERT_EQ(out.size(), 1u);
        const Position m = position_of(out[0]);
        EXPECT_EQ(m.anchor_mode, 1);
        EXPECT_EQ(m.x, 4500);
        EXPECT_EQ(m.y, 6500);
        EXPECT_EQ(m.z, 0);
        EXPECT_EQ(m.anchor_id, 0xB003u);
        // An anchor id outside the table gives hardware id 0.
        Tag* u = h.sel.find_tag(0x803);
        u->last_push_pos = pos_t{4.5, 6.5, 2.0, 12000, 0, ZUB_SUB_AREA_TYPE_SIINGLE};
        const std::vector<Record> other = blink(0x803, {0, 1}, 7, 9, 0, 1);
        ASSERT_EQ(other.size(), 1u);
        EXPECT_EQ(position_of(other[0]).anchor_id, 0u);
    }
    struct Row { BYTE prev, seq; WORD64 missing; };
    WORD64 id = 0x810;
    for (const Row r : {Row{5, 9, 3}, Row{255, 0, 0}, Row{5, 6, 0}, Row{250, 2, 7}}) {
        SCOPED_TRACE(int(r.seq));
        Tag* t = h.sel.find_tag(++id);
        t->prev_sequence_valid = true;
        t->prevSeqNum = r.prev;
        blink(id, {0, 1}, 7, 9, 0, r.seq);
        EXPECT_EQ(t->statistic.multi_missing, r.missing);
        EXPECT_EQ(t->prevSeqNum, r.seq);
    }
}

TEST_F(SelectorRound, NonFinitePositionIsAFailedSolve)
{
    struct Row { double x; bool sent; };
    WORD64 tag = 0x900;
    for (const Row r : {Row{std::nan(""), false}, Row{INFINITY, false}, Row{30.0, true}}) {
        SCOPED_TRACE(r.x);
        set_anchor(9, 0xB009, r.x, 5, 3, ZUB_ANCHOR_WORKING_MODE_SINGLE);
        zub_context()->single_blink_count = 1;
        const std::vector<Record> out = blink(++tag, {9}, 30, 5, 3, 1);
        EXPECT_EQ(out.size(), r.sent ? 1u : 0u);
        const Tag* t = h.sel.tags.find_key(tag);
        EXPECT_EQ(t->ignore_count, r.sent ? 0 : 1);  // the filter's failure path
        EXPECT_EQ(t->multi_idx, r.sent ? 0 : 1);
    }
}

TEST_F(SelectorRound, CorridorRetryAndBusyTagsLeavingSingleMode)
{
    // Couple anchors A10 (0, 2) and A11 (20, 2) follow A0, whose area is one corridor.
    set_anchor(10, 0xB00A, 0, 2, 0, ZUB_ANCHOR_WORKING_MODE_COUPLE);
    set_anchor(11, 0xB00B, 20, 2, 0, ZUB_ANCHOR_WORKING_MODE_COUPLE);
    set_anchor(9, 0xB009, 30, 5, 0, ZUB_ANCHOR_WORKING_MODE_SINGLE);
    set_sync(10, 0, 0, h.now, 0.0);
    set_sync(11, 0, 0, h.now, 0.0);
    zub_context()->anchors[0].area = make_area(0xB000, ZUB_SUB_AREA_TYPE_CORRIDOR, -1, 0, 21, 4);
    zub_context()->toa_ignore_time = 60000;
    ASSERT_EQ(Selector::ComputeGlobalDistanceMatrix(0), 0);

    // Multiple mode solves (6, 2), which lies in the corridor, so the tag never gathers eight
    // multi-type results: every round is retried in couple mode.
    for (BYTE seq = 1; seq <= 3; ++seq) {
        const std::vector<Record> out = blink(0x1001, {1, 0, 2, 3, 4, 10, 11}, 6, 2, 0, seq);
        ASSERT_EQ(out.size(), 1u);
        const Position m = position_of(out[0]);
        EXPECT_EQ(m.anchor_mode, 2);
        EXPECT_NEAR(m.x, 6000, 1);
        EXPECT_NEAR(m.y, 2680, 1);
        EXPECT_EQ(m.anchor_id, 0xB00Au);
    }
    EXPECT_EQ(h.sel.tags.find_key(0x1001)->statistic.multi_total, 3u);
    // Without couple anchors the retry has nothing to offer: no record.
    EXPECT_TRUE(blink(0x1003, {1, 0, 2, 3, 4}, 6, 2, 0, 1).empty());

    zub_context()->single_blink_count = 1;
    struct Row { const char* name; bool busy; bool couple; WORD64 root_hw; int mode; };
    const Row rows[] = {
        {"single-ish", false, true, 0xB000, 1},
        {"busy, couple heard", true, true, 0xB000, 2},
        {"busy, no couple", true, false, 0xB000, 0},
        {"busy, listed root", true, true, ZUB_SPECIAL_ANCHOR_B, 1},
    };
    WORD64 tag = 0x1101;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        zub_context()->anchors[0].hardware_id = r.root_hw;
        tag += 2;
        Tag* t = h.sel.find_tag(tag);
        for (BYTE& c : t->multi_couple_count) {
            c = r.busy ? 4 : 0;
        }
        const std::vector<Record> out =
            r.couple ? blink(tag, {9, 10, 11}, 6, 2, 0, 1) : blink(tag, {9}, 6, 2, 0, 1);
        ASSERT_EQ(out.size(), r.mode == 0 ? 0u : 1u);
        if (r.mode != 0) {
            const Position m = position_of(out[0]);
            EXPECT_EQ(m.anchor_mode, r.mode);
            EXPECT_NEAR(m.x, r.mode == 1 ? 30000 : 6000, 1);
        }
    }
}

TEST_F(SelectorRound, DueTagsInAscendingIdOrder)
{
    set_anchor(9, 0xB009, 30, 5, 3, ZUB_ANCHOR_WORKING_MODE_SINGLE);
    zub_context()->single_blink_count = 1;
    // Heard in this order; the tree holds them in its own shape; the round goes by id.
    const WORD64 heard[] = {0x30, 0x10, 0x50, 0x20, 0x40};
    for (WORD64 id : heard) {
        h.sel.process_toa_report(&zub_context()->anchors[9], 1, id, 1.0);
        h.now += 1;
    }
    h.now += 18;  // 0x30, 0x10, 0x50 and 0x20 have waited 23 to 20 ms: due; 0x40 19 ms
    h.records.clear();
    h.sel.recv_timer_periodic_calculate();
    std::vector<WORD64> order;
    for (const Record& r : h.records) {
        order.push_back(position_of(r).tag_id);
    }
    EXPECT_EQ(order, (std::vector<WORD64>{0x10, 0x20, 0x30, 0x50}));
    h.records.clear();
    h.now += 1;
    h.sel.recv_timer_periodic_calculate();
    ASSERT_EQ(h.records.size(), 1u);
    EXPECT_EQ(position_of(h.records[0]).tag_id, 0x40u);
    h.records.clear();
    h.sel.recv_timer_periodic_calculate();
    EXPECT_TRUE(h.records.empty());

    // A round emptied from outside and opened again 10 ms later is solved once, 20 ms after
    // its second opening.
    h.sel.process_toa_report(&zub_context()->anchors[9], 2, 0x60, 1.0);
    h.sel.find_tag(0x60)->blinkReports.nBlinks = 0;
    h.now += 10;
    h.sel.process_toa_report(&zub_context()->anchors[9], 2, 0x60, 1.0);
    struct Step { WORD64 advance; size_t records; };
    for (const Step st : {Step{10, 0}, Step{9, 0}, Step{1, 1}, Step{10, 0}}) {
        h.records.clear();
        h.now += st.advance;
        h.sel.recv_timer_periodic_calculate();
        EXPECT_EQ(h.records.size(), st.records);
    }
}
