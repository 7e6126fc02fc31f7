// The TOF round and the immediate single-anchor fix through the selector core on a fake
// clock: ranging tag prefix 0x12 (short id 3 is tag 0x123), tags 1.0 m above the ground,
// solve wait 20 ms. Expected millimetres are worked out from the anchors' geometry; the
// default anchor area is a straight line 2.4 m wide.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "selector_fixture.h"
#include "zub_selector_job.h"
#include "zub_timer.h"

using namespace selector_test;

namespace {

constexpr WORD16 kShortId = 0x3;
constexpr WORD64 kTag = 0x123;
constexpr int kNotSent = -1;

struct Anc {
    double x, y, z;
    BYTE mode = ZUB_ANCHOR_WORKING_MODE_MULTIPLE;
    int master = 0;
    int dimension = 0;
};

constexpr BYTE kCouple = ZUB_ANCHOR_WORKING_MODE_COUPLE;

// Range in mm (truncated, as an anchor reports it) from an anchor to the tag.
int32_t mm_to(const Anc& a, double x, double y, double z)
{
    return static_cast<int32_t>(std::sqrt((a.x - x) * (a.x - x) + (a.y - y) * (a.y - y) + (a.z - z) * (a.z - z)) *
                                1000.0);
}

WORD64 hw_of(unsigned local_id) { return 0xA000 + local_id; }

void setup_context()
{
    reset_context();
    context_t& c = *zub_context();
    c.tad_id_prefix = 0x12;
    c.ground_clearance = 1.0;
    c.zubSolveWaitTime = 20;
}

// Anchors at local ids 1, 2, ...
void place(const std::vector<Anc>& anchors, bool four)
{
    for (unsigned i = 0; i < anchors.size(); ++i) {
        const Anc& a = anchors[i];
        const auto id = static_cast<WORD16>(i + 1);
        set_anchor(id, hw_of(id), a.x, a.y, a.z, a.mode);
        set_master_flag(id, a.master);
        set_four_anc_mode(id, four);
        zub_context()->anchors[id].area_attribute.dimension = a.dimension;
    }
}

struct Tof : ::testing::Test {
    void SetUp() override { setup_context(); }
    void range(Harness& h, WORD16 anchor, BYTE seq, int32_t mm)
    {
        const std::vector<BYTE> m = tof_msg(anchor, seq, kShortId, mm);
        ASSERT_EQ(0, h.sel.recv_tof_report(m.data(), static_cast<WORD32>(m.size())));
    }
    // The selector's solve timer: both rounds.
    static void tick(Harness& h) { zub_selector_timeout(zub_timer_para(ZUB_TIMER_TYPE_SOLVE, 0), h.sel); }
};

}  // namespace

TEST_F(Tof, SolversPlaceTheTag)
{
    struct Row {
        const char* what;
        std::vector<Anc> anchors;
        std::vector<int32_t> mm;
        bool four;
        int mode;      // kNotSent: no record
        unsigned hw;   // local id of the reported anchor
        int32_t x, y, z;
        int32_t tol;
    };
    const Anc master5{5, 0, 3, 0, 1};
    const Anc tri[4] = {{0, 0, 3}, {20, 0, 3}, {10, 20, 3}, {0, 20, 5}};
    const Anc line_x[2] = {{0, 2, 3, kCouple}, {20, 2, 3, kCouple}};
    const Anc line_y[2] = {{2, 0, 3, kCouple}, {2, 20, 3, kCouple}};
    const Anc cor[3] = {{0, 0, 3, kCouple}, {10, 0, 3, kCouple}, {20, 0, 3, kCouple}};
    const Anc cross[4] = {{0, 0, 4, kCouple}, {8, 0, 4, kCouple}, {20, 5, 4, kCouple}, {20, 13, 4, kCouple}};
    const Anc apart = {30, 15, 4, kCouple};
    const Anc skew = {20, 3, 3, kCouple};
    // sqrt(3^2 - 2^2) = 2.23607 less the half width: sqrt(5 - 1.44) = 1.88680.
    const Row rows[] = {
        {"one range from a master", {master5}, {3000}, false, 0, 1, 6966, 80, 1000, 0},
        {"master at x = 0", {{0, 0, 3, 0, 1}}, {3000}, false, 0, 1, -1806, 80, 1000, 0},
        {"mode-11 master at y = 4", {{5, 4, 3, 11, 1}}, {3000}, false, 11, 1, 6966, 4000, 1000, 0},
        {"range below the anchor's height", {master5}, {1500}, false, 0, 1, 5080, 80, 1000, 0},
        {"plane area: no corridor width", {{5, 0, 3, 0, 1, 1}}, {3000}, false, 0, 1, 7316, 80, 1000, 0},
        {"plane area, range below the height", {{5, 0, 3, 0, 1, 1}}, {1500}, false, 0, 1, 5080, 80, 1000, 0},
        {"one range from no master", {{5, 0, 3, 0, 0}}, {3000}, false, kNotSent, 0, 0, 0, 0, 0},
        {"three ranges, none couple",
         {tri[0], tri[1], tri[2]},
         {mm_to(tri[0], 5, 5, 1), mm_to(tri[1], 5, 5, 1), mm_to(tri[2], 5, 5, 1)},
         false, 0, 3, 5080, 5080, 1000, 2},
        {"four ranges, none couple",
         {tri[0], tri[1], tri[2], tri[3]},
         {mm_to(tri[0], 5, 5, 1), mm_to(tri[1], 5, 5, 1), mm_to(tri[2], 5, 5, 1), mm_to(tri[3], 5, 5, 1)},
         true, 0, 3, 5080, 5080, 1000, 2},
        {"two couple anchors along x",
         {line_x[0], line_x[1]},
         {mm_to(line_x[0], 6, 2, 1), mm_to(line_x[1], 6, 2, 1)},
         false, 2, 2, 6080, 2080, 1000, 1},
        {"two couple anchors along y",
         {line_y[0], line_y[1]},
         {mm_to(line_y[0], 2, 6, 1), mm_to(line_y[1], 2, 6, 1)},
         false, 2, 2, 2080, 6080, 1000, 1},
        {"two couple anchors off the axes", {{0, 0, 3, kCouple}, {5, 5, 3, kCouple}}, {4000, 4000}, false, kNotSent,
         0, 0, 0, 0, 0},
        {"two couple anchors within a metre", {{0, 0, 3, kCouple}, {0.5, 0.5, 3, kCouple}}, {4000, 4000}, false,
         kNotSent, 0, 0, 0, 0, 0},
        {"two anchors, one not couple", {line_x[0], {20, 2, 3}}, {6324, 14142}, false, kNotSent, 0, 0, 0, 0, 0},
        {"couple pair equally far from the origin: the first reported",
         {{-10, 2, 3, kCouple}, {10, 2, 3, kCouple}},
         {mm_to({-10, 2, 3}, 6, 2, 1), mm_to({10, 2, 3}, 6, 2, 1)},
         false, 2, 1, 6080, 2080, 1000, 1},
        {"three ranges, last two couple: the line of those at the second's y",
         {tri[2], {0, 0.5, 3, kCouple}, {10, 0, 3, kCouple}},
         {1000, mm_to({0, 0.5, 3}, 6, 0.5, 1), mm_to({10, 0, 3}, 6, 0, 1)},
         false, 0, 3, 6080, 580, 1000, 1},
        {"four ranges, all but the second couple: the first reported",
         {cor[0], tri[2], cor[1], cor[2]},
         {mm_to(cor[0], 6, 0, 1), 1000, mm_to(cor[1], 6, 0, 1), mm_to(cor[2], 6, 0, 1)},
         true, 0, 1, 6080, 80, 1000, 2},
        {"three corridor anchors",
         {cor[0], cor[1], cor[2]},
         {mm_to(cor[0], 6, 0, 1), mm_to(cor[1], 6, 0, 1), mm_to(cor[2], 6, 0, 1)},
         false, 0, 3, 6080, 80, 1000, 2},
        {"three ranges, first two couple",
         {cor[0], {20, 0, 3, kCouple}, tri[2]},
         {mm_to(cor[0], 6, 0, 1), mm_to(tri[1], 6, 0, 1), 1000},
         false, 0, 2, 6080, 80, 1000, 1},
        {"four couple anchors crossing", {cross[0], cross[1], cross[2], cross[3]}, {5000, 5000, 5000, 5000}, true, 0,
         3, 12080, 4580, 1000, 1},
        {"crossing, cross pair apart", {cross[0], cross[1], cross[2], apart}, {5000, 5000, 5000, 5000}, true, 0, 3,
         4080, 80, 1000, 1},
        {"four ranges, first two couple",
         {cross[0], cross[1], {20, 5, 4}, {20, 13, 4}},
         {5000, 5000, 1000, 1000},
         true, 0, 2, 4080, 80, 1000, 1},
        {"four ranges, couple pair off the axes: the fit over four",
         {cor[0], skew, tri[2], tri[3]},
         {mm_to(tri[0], 5, 5, 1), mm_to(skew, 5, 5, 1), mm_to(tri[2], 5, 5, 1), mm_to(tri[3], 5, 5, 1)},
         true, 0, 2, 5080, 5080, 1000, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        setup_context();
        place(row.anchors, row.four);
        Harness h;
        for (unsigned i = 0; i < row.mm.size(); ++i) {
            range(h, static_cast<WORD16>(i + 1), 7, row.mm[i]);
        }
        h.now += 20;
        tick(h);
        Tag* tag = h.sel.find_tag(kTag);
        EXPECT_EQ(0, tag->blinkReports.nTofBlinks);  // closed, solved or not
        if (row.mode == kNotSent) {
            EXPECT_TRUE(h.records.empty());
            continue;
        }
        ASSERT_EQ(1u, h.records.size());
        const Position p = position_of(h.records[0]);
        EXPECT_EQ(row.mode, p.anchor_mode);
        EXPECT_EQ(kTag, p.tag_id);
        EXPECT_EQ(hw_of(row.hw), p.anchor_id);
        EXPECT_NEAR(row.x, p.x, row.tol);
        EXPECT_NEAR(row.y, p.y, row.tol);
        EXPECT_EQ(row.z, p.z);
        // The filter and the last position follow the anchor the record names.
        EXPECT_EQ(row.hw, tag->last_push_pos.anchor_id);
    }
}

TEST_F(Tof, HorizontalProjections)
{
    struct Row {
        double anchor_y, anchor_z;
        double d;
        double xy, y_to_x;
    };
    // Tags 1.0 m above the ground: the anchor's height above them is anchor z - 1.
    const Row rows[] = {
        {4, 4, 5, 4, 3},              // 3-4-5 both ways
        {0, 3, 2, 0, 2},              // no height left over: 0, not a NaN
        {6, 1, 5, 5, 0},              // anchor at the tags' height; y beyond the range
        {-3, 2, std::sqrt(2.0), 1, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.d);
        place({{1, row.anchor_y, row.anchor_z}}, false);
        Harness h;
        const Anchor* a = &zub_context()->anchors[1];
        EXPECT_NEAR(row.xy, h.sel.calculate_distance_projection_xy(a, row.d), 1e-12);
        EXPECT_NEAR(row.y_to_x, h.sel.calculate_distance_projection_y_to_x(a, row.d), 1e-12);
        EXPECT_NEAR(std::sqrt(1 + row.anchor_y * row.anchor_y + row.anchor_z * row.anchor_z),
                    Selector::anchor_to_base_point_distance(a), 1e-12);
    }
}

TEST_F(Tof, RoundIsDueAfterTheSolveWait)
{
    struct Row {
        WORD64 after_ms;
        bool solved;
    };
    for (const Row& row : {Row{0, false}, Row{19, false}, Row{20, true}, Row{500, true}}) {
        SCOPED_TRACE(row.after_ms);
        setup_context();
        place({{5, 0, 3, 0, 1}}, false);
        Harness h;
        // A tag with arrivals only is not the TOF round's business.
        h.sel.process_toa_report(&zub_context()->anchors[1], 40, 0x777, 1.0);
        range(h, 1, 9, 3000);
        h.now += row.after_ms;
        h.sel.recv_timer_periodic_calculate_tof();
        EXPECT_EQ(row.solved ? 1u : 0u, h.records.size());
        EXPECT_EQ(row.solved ? 0 : 1, h.sel.find_tag(kTag)->blinkReports.nTofBlinks);
        const Tag* other = h.sel.find_tag(0x777);
        EXPECT_EQ(1, other->blinkReports.nBlinks);
        EXPECT_FALSE(other->prev_sequence_valid);
    }
}

TEST_F(Tof, SeveralDueTagsGoInTheTreesOrder)
{
    place({{5, 0, 3, 0, 1}}, false);
    Harness h;
    const WORD16 ids[] = {0x9, 0x1, 0x5, 0x3, 0x7, 0x2};
    for (WORD16 id : ids) {
        const std::vector<BYTE> m = tof_msg(1, 1, id, 3000);
        h.sel.recv_tof_report(m.data(), static_cast<WORD32>(m.size()));
    }
    h.now += 20;
    tick(h);
    // Inserting 9, 1, 5, 3, 7, 2 builds the red-black tree 5 (2 (1, 3), 9 (7, -)).
    const std::vector<WORD64> pre_order = {0x125, 0x122, 0x121, 0x123, 0x129, 0x127};
    std::vector<WORD64> sent;
    for (const Record& r : h.records) {
        sent.push_back(position_of(r).tag_id);
    }
    EXPECT_EQ(pre_order, sent);
}

TEST_F(Tof, ClosedRoundsCountMissingSequenceNumbers)
{
    struct Row {
        BYTE first, second;
        WORD64 missing;
    };
    for (const Row& row : {Row{10, 13, 2}, Row{255, 0, 0}, Row{5, 6, 0}, Row{200, 100, 155}}) {
        SCOPED_TRACE(std::to_string(row.first) + " " + std::to_string(row.second));
        setup_context();
        place({{5, 0, 3, 0, 0}}, false);  // no master: nothing solved, the rounds still close
        Harness h;
        range(h, 1, row.first, 3000);
        h.now += 20;
        tick(h);
        range(h, 1, row.second, 3000);
        h.now += 20;
        tick(h);
        const Tag* tag = h.sel.find_tag(kTag);
        EXPECT_EQ(row.missing, tag->statistic.multi_missing);
        EXPECT_EQ(row.second, tag->prevSeqNum);
        EXPECT_TRUE(h.records.empty());
    }
}

TEST_F(Tof, SmoothingAgainstTheLastPushedPosition)
{
    struct Row {
        double last_x, last_y;
        int32_t x, y;
        bool delta_line;
    };
    // The new position is (40, 5.08): a couple pair along x at y = 5 centred on x = 39.92.
    const Row rows[] = {
        {10, 5, 25000, 5040, true},
        {35, 5, 37500, 5040, false},
        {0, 5, 40000, 5080, false},
        {10, 0, 40000, 5080, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.last_x) + " " + std::to_string(row.last_y));
        setup_context();
        place({{35.92, 5, 4, kCouple}, {43.92, 5, 4, kCouple}}, false);
        Harness h;
        LogCapture log;
        Tag* tag = h.sel.find_tag(kTag);
        tag->last_push_pos.x = row.last_x;
        tag->last_push_pos.y = row.last_y;
        range(h, 1, 1, 5000);
        range(h, 2, 1, 5000);
        h.now += 20;
        tick(h);
        ASSERT_EQ(1u, h.records.size());
        const Position p = position_of(h.records[0]);
        EXPECT_NEAR(row.x, p.x, 1);
        EXPECT_EQ(row.y, p.y);
        EXPECT_EQ(row.delta_line ? 1u : 0u, log.count("tag_id:123 delta=30.0"));
        EXPECT_NEAR(row.x / 1000.0, tag->last_push_pos.x, 1e-3);
        EXPECT_EQ(h.now, tag->last_time);
    }
}

TEST_F(Tof, ImmediateFixOfANegativeRange)
{
    struct Row {
        const char* what;
        bool stored;       // a range of the round is held before the negative one
        Anc first;         // anchor 1: the stored range's
        BYTE reporter_mode;
        int filter;
        bool rejected;     // the position filter refuses the fix
        int32_t x, y, z;   // kNotSent in x: no record
    };
    const Anc master5{5, 0, 3, 0, 1};
    const Row rows[] = {
        {"a new tag's negative range", false, master5, 0, 0, false, kNotSent, 0, 0},
        {"after a stored 3000-mm range", true, master5, 0, 0, false, 6886, 0, 0},
        {"y from the stored range's anchor", true, {5, 4, 3, 0, 1}, 2, 0, false, 6886, 4000, 0},
        {"fitted: z at the tags' height", true, master5, 1, 1, false, 6886, 0, 1000},
        {"refused by the filter", true, master5, 0, 0, true, kNotSent, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        setup_context();
        zub_context()->filter = row.filter;
        place({row.first, {9, 9, 3, row.reporter_mode, 1}}, false);
        Harness h;
        if (row.stored) {
            range(h, 1, 4, 3000);
        }
        if (row.rejected) {
            Tag* t = h.sel.find_tag(kTag);
            t->history_count = ZUB_TAG_HISTORY;
            t->history_idx = 0;
            t->history_pos[ZUB_TAG_HISTORY - 1] = pos_t{100, 100, 0, 0, h.now, ZUB_SUB_AREA_TYPE_MULTI};
        }
        range(h, 2, 4, -1);
        const Tag* tag = h.sel.find_tag(kTag);
        if (row.x == kNotSent) {
            EXPECT_TRUE(h.records.empty());
        } else {
            ASSERT_EQ(1u, h.records.size());
            const Position p = position_of(h.records[0]);
            EXPECT_EQ(row.reporter_mode, p.anchor_mode);
            EXPECT_EQ(kTag, p.tag_id);
            EXPECT_EQ(hw_of(1), p.anchor_id);
            EXPECT_EQ(row.x, p.x);
            EXPECT_EQ(row.y, p.y);
            EXPECT_EQ(row.z, p.z);
        }
        if (row.stored) {
            EXPECT_EQ(2u, tag->last_push_pos.anchor_id);  // the reporting anchor, kept or refused
            EXPECT_NEAR(6.8868, tag->last_push_pos.x, 1e-4);
            EXPECT_EQ(1, tag->blinkReports.nTofBlinks);  // the round stays open
        } else {
            EXPECT_EQ(0.0, tag->last_push_pos.x);
        }
    }
}
