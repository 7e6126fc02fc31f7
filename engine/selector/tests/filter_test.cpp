// The position filter, area lookup through masters, sub-area typing, fitting and the
// metre-to-millimetre conversion of the records.
#include <cmath>
#include <limits>

#include "selector_fixture.h"
#include "zub_position_filter.h"

using namespace selector_test;

namespace {

sub_area_t* make_sub(e_sub_area_type type, std::initializer_list<std::pair<float, float>> points)
{
    auto* sub = new sub_area_t{};
    sub->type = type;
    qk_queue_init(&sub->points);
    for (auto [x, y] : points) {
        qk_queue_push(&sub->points, &(new point_t{{}, x, y, 0})->node);
    }
    return sub;
}

area_t* make_area(std::initializer_list<sub_area_t*> subs)
{
    auto* area = new area_t{};
    qk_queue_init(&area->sub_area);
    for (sub_area_t* s : subs) {
        qk_queue_push(&area->sub_area, &s->node);
    }
    return area;
}

pos_t at(double x, double y, WORD64 msec)
{
    return pos_t{x, y, 0.0, 0, msec, ZUB_SUB_AREA_TYPE_MULTI};
}

class PositionFilter : public ::testing::Test {
protected:
    void SetUp() override
    {
        reset_context();
        set_anchor(1, 0xF1, 0, 0, 0);
        set_anchor(2, 0xF2, 0, 0, 0, ZUB_ANCHOR_WORKING_MODE_SINGLE);
    }
    // 16 accepted positions around (10, 10), one a second.
    void settle(Tag& t)
    {
        WORD16 anc = 1;
        for (int i = 0; i < 16; ++i) {
            pos_t p = at(10.0 + 0.01 * (i % 2), 10.0, 1000 * (i + 1));
            ASSERT_EQ(zub_position_filter(*zub_context(), &t, p, anc, true), 0);
        }
    }
};

}  // namespace

TEST_F(PositionFilter, JumpTest)
{
    zub_context()->max_human_speed = 2.0f;
    struct Row { const char* name; float max_variance; double jump; WORD64 dt_ms; int rejected; };
    const Row rows[] = {
        {"settled, 3.0 m in 1 s", 1.0f, 3.0, 1000, 0},
        {"settled, 3.1 m in 1 s", 1.0f, 3.1, 1000, 1},
        {"settled, 3.1 m in 2 s", 1.0f, 3.1, 2000, 0},
        {"variance bound 0, 3.1 m in 1 s", 0.0f, 3.1, 1000, 0},
        {"variance bound 0, 900 m in 1 s", 0.0f, 900, 1000, 0},
        {"variance bound 0, 1001 m in 1 s", 0.0f, 1001, 1000, 1},
        {"same time", 0.0f, 1, 0, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        zub_context()->max_position_variance = r.max_variance;
        Tag t(1);
        settle(t);
        EXPECT_NEAR(t.average_pos.x, 10.005, 1e-12);
        EXPECT_NEAR(t.variance, 0.000025, 1e-12);
        WORD16 anc = 1;
        pos_t p = at(10.01 + r.jump, 10.0, 16000 + r.dt_ms);
        EXPECT_EQ(zub_position_filter(*zub_context(), &t, p, anc, true), r.rejected);
        EXPECT_EQ(t.history_idx, r.rejected ? 0 : 1);
        EXPECT_EQ(t.ignore_count, r.rejected ? 1 : 0);
    }
}

TEST_F(PositionFilter, SixteenthRejectionRestartsTheHistory)
{
    zub_context()->max_position_variance = 0.0f;
    Tag t(1);
    settle(t);
    WORD16 anc = 1;
    for (int i = 1; i <= 16; ++i) {
        pos_t p = at(5000.0, 10.0, 16000 + i);
        EXPECT_EQ(zub_position_filter(*zub_context(), &t, p, anc, true), i < 16 ? 1 : 0) << i;
    }
    EXPECT_EQ(t.history_count, 1);
    EXPECT_EQ(t.history_idx, 1);
    EXPECT_EQ(t.history_pos[0].x, 5000.0);
    EXPECT_EQ(t.ignore_count, 0);
}

TEST_F(PositionFilter, FailedRoundsMarkAndReset)
{
    Tag t(1);
    settle(t);
    const WORD16 multi_before = t.multi_idx;
    EXPECT_EQ(multi_before, 0);  // 16 multiple-mode results wrapped round to slot 0
    WORD16 anc = 0;
    LogCapture log;
    for (int i = 1; i <= 16; ++i) {
        pos_t p = at(0, 0, 0);
        EXPECT_EQ(zub_position_filter(*zub_context(), &t, p, anc, false), 1);
        EXPECT_EQ(t.multi_idx, std::min(i, 15));
        EXPECT_EQ(t.multi_pos[t.multi_idx].sub_area_type, ZUB_SUB_AREA_TYPE_UNKNOWN);
        EXPECT_EQ(t.history_count, i < 16 ? 16 : 0);
    }
    EXPECT_EQ(log.count("               1: failed"), 16u);
}

TEST_F(PositionFilter, SubAreaTyping)
{
    area_t* with_multi = make_area({make_sub(ZUB_SUB_AREA_TYPE_CORRIDOR, {{0, 0}}),  // one point: skipped
                                    make_sub(ZUB_SUB_AREA_TYPE_CORRIDOR, {{0, 0}, {5, 0.5f}, {10, 4}}),
                                    make_sub(ZUB_SUB_AREA_TYPE_MULTI, {{20, 0}, {30, 10}})});
    area_t* without_multi = make_area({make_sub(ZUB_SUB_AREA_TYPE_SIINGLE, {{0, 0}, {10, 4}})});
    struct Row { const char* name; const area_t* area; double x, y; e_sub_area_type type; };
    const Row rows[] = {
        {"inside the corridor", with_multi, 5, 2, ZUB_SUB_AREA_TYPE_CORRIDOR},
        {"on its edge", with_multi, 10, 2, ZUB_SUB_AREA_TYPE_UNKNOWN},
        {"inside the multi", with_multi, 25, 5, ZUB_SUB_AREA_TYPE_MULTI},
        {"outside, a multi exists", with_multi, 50, 50, ZUB_SUB_AREA_TYPE_UNKNOWN},
        {"inside the single", without_multi, 5, 2, ZUB_SUB_AREA_TYPE_SIINGLE},
        {"outside, no multi", without_multi, 50, 50, ZUB_SUB_AREA_TYPE_MULTI},
        {"no area", nullptr, 5, 2, ZUB_SUB_AREA_TYPE_MULTI},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(zub_judge_sub_area(at(r.x, r.y, 0), r.area), r.type);
    }
    // Through the filter: a single-mode anchor types single whatever the area.
    zub_context()->anchors[1].area = with_multi;
    zub_context()->anchors[2].area = with_multi;
    struct Through { WORD16 anchor; e_sub_area_type type; };
    for (const Through th : {Through{1, ZUB_SUB_AREA_TYPE_CORRIDOR}, Through{2, ZUB_SUB_AREA_TYPE_SIINGLE},
                             Through{0xFFFF, ZUB_SUB_AREA_TYPE_MULTI}}) {
        Tag t(1);
        pos_t p = at(5, 2, 1);
        WORD16 anc = th.anchor;
        EXPECT_EQ(zub_position_filter(*zub_context(), &t, p, anc, true), 0);
        EXPECT_EQ(p.sub_area_type, th.type);
        EXPECT_EQ(t.multi_idx, th.anchor == 1 ? 1 : 0);
    }
    struct Corridor { double x; int in; };
    for (const Corridor c : {Corridor{3.0, 0}, Corridor{3.1, 1}, Corridor{6.9, 1}, Corridor{7.0, 0}}) {
        EXPECT_EQ(zub_in_corridor_area(*zub_context(), at(c.x, 2, 0), 1), c.in) << c.x;
    }
}

TEST_F(PositionFilter, AreaThroughMastersAndCycles)
{
    area_t* area = make_area({});
    set_anchor(3, 0xF3, 0, 0, 0);
    set_anchor(4, 0xF4, 0, 0, 0);
    zub_context()->anchors[3].area = area;
    set_sync(4, 0, 3, 0);  // 4 follows 3
    set_sync(1, 0, 4, 0);  // 1 follows 4
    struct Row { const char* name; WORD16 id; const area_t* want; };
    const Row rows[] = {{"root", 3, area}, {"one master", 4, area}, {"two masters", 1, area},
                        {"no area", 2, nullptr}, {"id 10000", 10000, nullptr}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(zub_get_anchor_area(*zub_context(), r.id), r.want);
    }
    set_sync(3, 0, 1, 0);  // 3 follows 1: a cycle
    EXPECT_EQ(zub_get_anchor_area(*zub_context(), 1), nullptr);
}

TEST(SelectorRecords, MillimetresAndFitting)
{
    struct Row { double m; int32_t mm; };
    const Row rows[] = {{7.0, 7000}, {-1.2345, -1234}, {0.0009, 0}, {2147483.647, 2147483647},
                        {1e12, std::numeric_limits<int32_t>::max()}, {-1e12, std::numeric_limits<int32_t>::min()}};
    for (const Row& r : rows) {
        EXPECT_EQ(zub_metres_to_mm(r.m), r.mm) << r.m;
    }
    reset_context();
    zub_context()->ground_clearance = 1.5;
    Harness h;
    Tag t(1);
    struct Fit { WORD16 history; WORD64 last_time; WORD64 msec; };
    for (const Fit f : {Fit{3, h.now - 10, h.now}, Fit{2, h.now - 10, 5}, Fit{3, h.now - 120000001, 5}}) {
        t.history_count = f.history;
        t.last_time = f.last_time;
        const pos_t out = h.sel.fitting_position(&t, pos_t{1, 2, 9, 4, 5, ZUB_SUB_AREA_TYPE_CORRIDOR}, 1);
        EXPECT_EQ(out.z, 1.5);
        EXPECT_EQ(out.msec, f.msec);
        EXPECT_EQ(out.x, 1.0);
        EXPECT_EQ(out.anchor_id, 4u);
    }
    EXPECT_EQ(Selector::pos_distance(pos_t{0, 0, 5, 0, 0, {}}, pos_t{3, 4, -5, 0, 0, {}}), 5.0);
}
