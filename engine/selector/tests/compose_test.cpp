// Composition over the five-anchor fixture (A0 master of A1..A4), the distance matrix and
// the reference-anchor choice.
#include <cmath>

#include "selector_fixture.h"

using namespace selector_test;

namespace {

constexpr WORD64 kTag = 0x4242;
constexpr double C = 299702547.0;
constexpr double P = 17.207401025641026;

// A0 (0,0) master of A1 (20,0), A2 (0,10), A3 (20,10), A4 (10,5); slaves run 1 ms, 2 ms...
// ahead of A0. Anchors 5 (a root of its own) and 6 (its slave) lie at (5,0) and (15,0).
class SelectorCompose : public ::testing::Test {
protected:
    void SetUp() override
    {
        reset_context();
        const double xy[7][2] = {{0, 0}, {20, 0}, {0, 10}, {20, 10}, {10, 5}, {5, 0}, {15, 0}};
        for (WORD16 i = 0; i < 7; ++i) {
            set_anchor(i, 0xB000 + i, xy[i][0], xy[i][1], 0);
        }
        for (WORD16 i = 1; i <= 4; ++i) {
            set_sync(i, 0, 0, h.now - 10, offset(i));
        }
        set_sync(6, 0, 5, h.now - 10, offset(6));
        ASSERT_EQ(Selector::ComputeGlobalDistanceMatrix(0), 0);
    }
    static double offset(WORD16 id) { return id == 0 || id == 5 ? 0.0 : 1e-3 * id; }
    // The tag's round: one arrival per anchor, in the given order, blink sent at t0.
    Tag* blink(std::initializer_list<WORD16> order, double x, double y, double t0 = 3.0)
    {
        Tag* t = h.sel.find_tag(kTag);
        t->blinkReports.nBlinks = 0;
        for (WORD16 id : order) {
            const double toa = std::fmod(t0 + anchor_distance(id, x, y) / C + offset(id), P);
            h.sel.process_toa_report(&zub_context()->anchors[id], 1, kTag, toa);
        }
        return t;
    }
    double row_of(WORD16 id) const
    {
        for (unsigned r = 0; r < h.sel.syncbl.nBlinks; ++r) {
            if (h.sel.syncbl.blinks[r].id == id) {
                return r;
            }
        }
        return -1;
    }
    Harness h;
};

}  // namespace

TEST_F(SelectorCompose, HopCountsOfDirectAndSiblingPairs)
{
    struct Row { WORD16 a, b; int hops; };
    const Row rows[] = {{0, 1, 1}, {1, 0, 1}, {1, 2, 2}, {3, 4, 2}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.a << "-" << r.b);
        paths_t pa{}, pb{};
        h.sel.forget_cs_cache();
        h.sel.build_paths(r.a, 1.0 + offset(r.a), h.now, 350, pa);
        h.sel.build_paths(r.b, 1.0 + offset(r.b), h.now, 350, pb);
        double diff = -1;
        int hops = 0;
        EXPECT_EQ(h.sel.find_min_distance(pa, pb, 30.0, diff, hops, kTag), 1);
        EXPECT_EQ(hops, r.hops);
        EXPECT_NEAR(diff, 0.0, 1e-12);
    }
}

TEST_F(SelectorCompose, ReferenceIsTheMasterInAnyOrderAndRowsHoldTheDifferences)
{
    const std::initializer_list<WORD16> orders[] = {{0, 1, 2, 3, 4}, {4, 3, 2, 1, 0}, {2, 0, 4, 1, 3}};
    for (const auto& order : orders) {
        Tag* t = blink(order, 7, 9);
        ASSERT_EQ(h.sel.calculate_tdoa(t), 1);
        EXPECT_EQ(h.sel.base_anchor_id, 0);
        ASSERT_EQ(h.sel.syncbl.nBlinks, 5);
        ASSERT_EQ(h.sel.anchorCoords.n_rows, 5u);
        for (unsigned r = 0; r < 5; ++r) {
            const WORD16 id = h.sel.syncbl.blinks[r].id;
            SCOPED_TRACE(id);
            EXPECT_EQ(id, *(order.begin() + r));  // arrival order kept
            EXPECT_NEAR(h.sel.tdoa(r) * C, anchor_distance(id, 7, 9) - anchor_distance(0, 7, 9), 1e-5);
        }
        EXPECT_EQ(h.sel.anchorCoords(row_of(1), 0), 20.0);
        EXPECT_EQ(h.sel.anchorCoords(row_of(2), 1), 10.0);
    }
}

TEST_F(SelectorCompose, StaleSlotsDifferentRootsAndZeroDistance)
{
    struct Row { WORD64 age_ms; bool a1_in; };
    const Row rows[] = {{350, true}, {351, false}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.age_ms);
        set_sync(1, 0, 0, h.now - r.age_ms, offset(1));
        ASSERT_EQ(h.sel.calculate_tdoa(blink({0, 1, 2, 3, 4}, 7, 9)), 1);
        EXPECT_EQ(h.sel.syncbl.nBlinks, r.a1_in ? 5 : 4);
        EXPECT_EQ(row_of(1) >= 0, r.a1_in);
    }
    // Different roots (A1 under A0, A6 under A5) never pair, whatever the distance.
    paths_t pa{}, pb{};
    h.sel.build_paths(1, 1.0 + offset(1), h.now, 350, pa);
    h.sel.build_paths(6, 1.0 + offset(6), h.now, 350, pb);
    double diff = 0;
    int hops = 0;
    EXPECT_EQ(h.sel.find_min_distance(pa, pb, 1e9, diff, hops, kTag), 0);
    // Distance 0: only a zero difference pairs (A1 without offset, so the times stay exact).
    set_sync(1, 0, 0, h.now - 10, 0.0);
    h.sel.forget_cs_cache();
    h.sel.build_paths(0, 1.0, h.now, 350, pa);
    struct Zero { double dt; int found; };
    for (const Zero z : {Zero{0.0, 1}, Zero{1e-12, 0}, Zero{-1e-12, 0}}) {
        h.sel.build_paths(1, 1.0 + z.dt, h.now, 350, pb);
        EXPECT_EQ(h.sel.find_min_distance(pa, pb, 0.0, diff, hops, kTag), z.found);
    }
}

TEST_F(SelectorCompose, HowManyPairingsTheReferenceNeeds)
{
    struct Row {
        const char* name;
        int min_mulitiple;
        WORD64 root_hw;
        std::initializer_list<WORD16> order;
        int result;
        int base;
        int rows;
    };
    const Row rows[] = {
        // A6 pairs only with A5: with 3 it cannot be the reference, A0 is; with 2 it wins the tie.
        {"min 3", 3, 0xB000, {6, 5, 0, 1, 2}, 1, 0, 3},
        {"min 2", 2, 0xB000, {6, 5, 0, 1, 2}, 1, 6, 2},
        // A5 pairs with nothing: its mean hop count is infinite, A0's is 1.
        {"min 1", 1, 0xB000, {5, 0, 1}, 1, 0, 2},
        {"min 0", 0, 0xB000, {5, 0, 1}, 1, 0, 2},
        // Roots at a listed anchor ask for four-way pairing.
        {"three slaves", 3, 0xB000, {1, 2, 3}, 1, 1, 3},
        {"three slaves, listed root", 3, ZUB_SPECIAL_ANCHOR_A, {1, 2, 3}, 0, -1, 0},
        {"four slaves, listed root", 3, ZUB_SPECIAL_ANCHOR_B, {1, 2, 3, 4}, 1, 1, 4},
        {"too few", 3, 0xB000, {1, 2}, 0, -1, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        zub_context()->min_mulitiple = r.min_mulitiple;
        zub_context()->anchors[0].hardware_id = r.root_hw;
        LogCapture log;
        h.sel.base_anchor_id = -1;
        EXPECT_EQ(h.sel.calculate_tdoa(blink(r.order, 7, 9)), r.result);
        EXPECT_EQ(h.sel.base_anchor_id, r.base);
        if (r.result == 1) {
            EXPECT_EQ(h.sel.syncbl.nBlinks, r.rows);
            EXPECT_EQ(h.sel.tdoa(row_of(static_cast<WORD16>(r.base))), 0.0);
        } else if (r.order.size() >= 3) {
            EXPECT_TRUE(log.contains("can't find mulitiple array"));
        }
    }
}

TEST_F(SelectorCompose, BlinkAcrossTheWrapPairs)
{
    // Sent 2 ns before the master's clock wraps: A4 (11.18 m) hears it after the wrap.
    const double t0 = P - anchor_distance(0, 10, 5) / C - 1e-9;
    Tag* t = blink({0, 1, 2, 3, 4}, 10, 5, t0);
    ASSERT_LT(t->blinkReports.blinks[4].toa, 1.0);
    ASSERT_EQ(h.sel.calculate_tdoa(t), 1);
    ASSERT_EQ(h.sel.syncbl.nBlinks, 5);
    EXPECT_NEAR(h.sel.tdoa(4) * C, anchor_distance(4, 10, 5) - anchor_distance(0, 10, 5), 1e-4);
}

TEST_F(SelectorCompose, WiredRoundKeepsItsOwnSequenceAndRanges)
{
    zub_context()->zubWirelessSync = 0;
    set_reference(2, 1);
    set_clock_offset(3, 0.5);
    Tag* t = h.sel.find_tag(kTag);
    t->blinkReports.seqNum = 77;
    t->blinkReports.nTofBlinks = 2;
    t->blinkReports.tof_blink[1].distance = 4321;
    t->blinkReports.count_multiple_mode = 3;
    h.sel.syncbl.seqNum = 5;
    h.sel.syncbl.nTofBlinks = 0;
    const double toas[4] = {1.0, 1.25, 16.9, 16.95};
    const WORD16 ids[4] = {1, 2, 3, 4};
    for (int i = 0; i < 4; ++i) {
        h.sel.process_toa_report(&zub_context()->anchors[ids[i]], 77, kTag, toas[i]);
    }
    // A3 with its 0.5-s offset wraps: 16.9 + 0.5 - P.
    EXPECT_NEAR(t->blinkReports.blinks[2].syncedToa[0], 17.4 - P, 1e-12);
    ASSERT_EQ(h.sel.SelectAndComposeForWiredSynch(&t->blinkReports), 1);
    EXPECT_EQ(t->blinkReports.seqNum, 77);
    EXPECT_EQ(t->blinkReports.nTofBlinks, 2);
    EXPECT_EQ(t->blinkReports.tof_blink[1].distance, 4321);
    EXPECT_EQ(t->blinkReports.count_multiple_mode, 3 + 4);
    EXPECT_EQ(t->blinkReports.nBlinks, 4);
    // Time base: A2, the last reference-flagged arrival (it follows A0, so not a root).
    ASSERT_EQ(h.sel.tdoa.n_elem, 4u);
    double by_id[5] = {};
    for (unsigned r = 0; r < 4; ++r) {
        by_id[h.sel.syncbl.blinks[r].id] = h.sel.tdoa(r);
    }
    EXPECT_DOUBLE_EQ(by_id[2], 0.0);
    EXPECT_NEAR(by_id[1], -0.25, 1e-12);
    EXPECT_NEAR(by_id[3], 17.4 - P - 1.25, 1e-12);
    // 16.95 - 1.25 lies beyond half a period: brought back across the wrap.
    EXPECT_NEAR(by_id[4], 16.95 - 1.25 - P, 1e-12);
}

TEST_F(SelectorCompose, WiredTimeBase)
{
    struct Row { const char* name; int ref_a, ref_b, ref_c; unsigned base; };
    // Arrivals from A1 (slave), A5 (root), A2 (slave).
    const Row rows[] = {
        {"none flagged: the last", 0, 0, 0, 2},
        {"flagged root first", 1, 1, 1, 1},
        {"only slaves flagged: the last of them", 1, 0, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        set_reference(1, r.ref_a);
        set_reference(5, r.ref_b);
        set_reference(2, r.ref_c);
        blinks_t b{};
        b.nBlinks = 3;
        b.blinks[0].id = 1;
        b.blinks[1].id = 5;
        b.blinks[2].id = 2;
        unsigned index = 99;
        Anchor* a = h.sel.findTimeBaseAnchorWired(&b, index);
        EXPECT_EQ(index, r.base);
        EXPECT_EQ(a, &zub_context()->anchors[b.blinks[r.base].id]);
    }
}

TEST_F(SelectorCompose, DistanceMatrix)
{
    reset_context();
    EXPECT_EQ(Selector::ComputeGlobalDistanceMatrix(0), -1);
    EXPECT_EQ(zub_distance_snapshot(), nullptr);
    set_anchor(0, 0xC0, 0, 0, 0);
    set_anchor(1, 0xC1, 3, 4, 0);
    set_anchor(3, 0xC3, 3, 4, 12);  // slot 2 left unconfigured
    LogCapture log;
    EXPECT_EQ(Selector::ComputeGlobalDistanceMatrix(0), 0);
    const DistanceRef m = zub_distance_snapshot();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->n, 4u);
    struct Row { unsigned i, j; float d; };
    for (const Row r : {Row{0, 1, 5.0f}, Row{1, 0, 5.0f}, Row{0, 3, 13.0f}, Row{1, 3, 12.0f}, Row{0, 0, 0.0f},
                        Row{0, 2, 0.0f}, Row{2, 1, 0.0f}, Row{9, 0, 0.0f}}) {
        EXPECT_EQ(zub_distance_at(m.get(), r.i, r.j), r.d) << r.i << "," << r.j;
    }
    EXPECT_EQ(log.count("i == 2,anc_id = 2 hardware_id = 0"), 1u);
    EXPECT_EQ(log.count("j == 2,anc_id = 2 hardware_id = 0"), 3u);
    zub_context()->anchor_count = 10000;
    EXPECT_EQ(Selector::ComputeGlobalDistanceMatrix(0), -1);
    EXPECT_EQ(zub_distance_snapshot(), m);  // left as it was
    EXPECT_EQ(zub_distance_at(nullptr, 0, 1), 0.0f);
}

TEST_F(SelectorCompose, ReferenceChoice)
{
    struct Row { const char* name; double x, y; bool zero_on; int chosen; };
    const Row rows[] = {
        {"(7, 9)", 7, 9, true, 2},
        {"(15.5, 3.25)", 15.5, 3.25, true, 1},
        {"off", 7, 9, false, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        zub_context()->zeroAlgorithmEnable = r.zero_on ? 1 : 0;
        ASSERT_EQ(h.sel.calculate_tdoa(blink({0, 1, 2, 3, 4}, r.x, r.y)), 1);
        EXPECT_EQ(h.sel.syncbl.blinks[0].id, r.chosen);
        // Swapped as values: row 0 holds the chosen anchor's position and difference.
        const AnchorConfig cfg = zub_context()->anchors[r.chosen].config_snapshot();
        EXPECT_EQ(h.sel.anchorCoords(0, 0), cfg.position[0]);
        EXPECT_EQ(h.sel.anchorCoords(0, 1), cfg.position[1]);
        EXPECT_NEAR(h.sel.tdoa(0) * C, anchor_distance(r.chosen, r.x, r.y) - anchor_distance(0, r.x, r.y), 1e-5);
    }
}

TEST_F(SelectorCompose, ReferenceChoiceEdges)
{
    // Four anchors on a square: equal spreads, the first position is the first candidate and
    // its trial places the tag at (2, 3): the nearest anchor (0, 0)... fits best.
    reset_context();
    const double sq[4][2] = {{10, 10}, {0, 0}, {10, 0}, {0, 10}};
    for (WORD16 i = 0; i < 4; ++i) {
        set_anchor(i, 0xD000 + i, sq[i][0], sq[i][1], 0);
    }
    ASSERT_EQ(Selector::ComputeGlobalDistanceMatrix(0), 0);
    auto load = [&](unsigned n, double x, double y) {
        h.sel.syncbl.nBlinks = static_cast<BYTE>(n);
        h.sel.anchorCoords.set_size(n, 3);
        h.sel.tdoa.set_size(n);
        for (unsigned i = 0; i < n; ++i) {
            h.sel.syncbl.blinks[i].id = static_cast<WORD16>(i);
            h.sel.anchorCoords(i, 0) = sq[i][0];
            h.sel.anchorCoords(i, 1) = sq[i][1];
            h.sel.anchorCoords(i, 2) = 0.0;
            h.sel.tdoa(i) = (anchor_distance(static_cast<WORD16>(i), x, y) - anchor_distance(0, x, y)) / C;
        }
    };
    struct Row { const char* name; unsigned n; bool matrix; int index; };
    const Row rows[] = {
        {"equal spreads", 4, true, 1},
        {"three rows", 3, true, -1},
        {"one row", 1, true, -1},
        {"no matrix", 4, false, -1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        if (!r.matrix) {
            Selector::FreeGlobalDistanceMatrix();
        }
        load(r.n, 2, 3);
        unsigned index = 77;
        Anchor* a = nullptr;
        EXPECT_NO_THROW(a = h.sel.find_zeroth_anchor(&h.sel.syncbl, index));
        if (r.index < 0) {
            EXPECT_EQ(a, nullptr);
            EXPECT_EQ(index, 77u);
        } else {
            EXPECT_EQ(a, &zub_context()->anchors[r.index]);
            EXPECT_EQ(index, static_cast<unsigned>(r.index));
        }
    }
    // A matrix that does not cover a row's anchor: no choice.
    ASSERT_EQ(Selector::ComputeGlobalDistanceMatrix(0), 0);
    load(4, 2, 3);
    h.sel.syncbl.blinks[3].id = 40;
    unsigned index = 77;
    EXPECT_EQ(h.sel.find_zeroth_anchor(&h.sel.syncbl, index), nullptr);
}

TEST_F(SelectorCompose, EveryPathToARoot)
{
    set_sync(1, 1, 5, h.now, 0.0);  // A1 also follows A5
    set_sync(1, 2, 6, h.now, 0.0);  // and A6, which follows A5
    h.sel.forget_cs_cache();
    struct Row { WORD16 anchor; std::vector<std::vector<WORD16>> paths; };
    const Row rows[] = {
        {1, {{1, 0}, {1, 5}, {1, 6, 5}}},
        {6, {{6, 5}}},
        {0, {{0}}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.anchor);
        paths_t p{};
        EXPECT_EQ(h.sel.zub_create_paths_new(p, 20, r.anchor, 2.0 + offset(r.anchor)),
                  static_cast<int>(r.paths.size()));
        for (unsigned i = 0; i < p.count && i < r.paths.size(); ++i) {
            EXPECT_EQ(std::vector<WORD16>(p.path[i].node, p.path[i].node + p.path[i].deep), r.paths[i]);
        }
        // Each anchor's own offset comes off on the way to its first root.
        EXPECT_NEAR(p.path[0].toa, 2.0, 1e-12);
    }
}

TEST_F(SelectorCompose, AlternativeCompositionUsesTheMasterNearestTheTag)
{
    zub_context()->min_mulitiple = 2;
    struct Row { double ax, ay; std::vector<WORD16> rows; };
    const Row rows[] = {
        {4, 1, {6, 5}},     // nearest A5 (5, 0): its group is A5 itself and A6
        {1, 1, {1, 2, 3}},  // nearest A0 (0, 0): the anchors following it
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.ax);
        Tag* t = blink({1, 2, 6, 5, 3}, 8, 4);
        t->average_pos.x = r.ax;
        t->average_pos.y = r.ay;
        ASSERT_EQ(h.sel.calculate_tdoa_new(t), 1);
        ASSERT_EQ(h.sel.syncbl.nBlinks, r.rows.size());
        for (unsigned i = 0; i < r.rows.size(); ++i) {
            EXPECT_EQ(h.sel.syncbl.blinks[i].id, r.rows[i]);
            EXPECT_NEAR(h.sel.tdoa(i) * C, anchor_distance(r.rows[i], 8, 4) - anchor_distance(r.rows[0], 8, 4), 1e-5);
        }
    }
}
