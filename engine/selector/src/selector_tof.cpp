// The TOF round: every due tag's ranges become a position (one anchor along x, two on a
// line, three or four by circle geometry or a least-squares fit), offset, filtered,
// smoothed and sent to the display job; then the tag's ranging round is closed. Also the
// immediate fix of a negative range from a master anchor.
#include <algorithm>
#include <cinttypes>
#include <cmath>

#include "Multivariate.h"
#include "zub_circle_geometry.h"
#include "zub_msg_id.h"
#include "zub_position_filter.h"
#include "zub_print.h"
#include "zub_print_layer.h"
#include "zub_selector.h"

namespace {

constexpr double kPlacementOffset = 0.08;  // m, added to x and y of every ranging position
constexpr double kSmoothingJump = 10.0;    // m
constexpr double kAxisTolerance = 1.0;     // m
constexpr BYTE kModeCouple = ZUB_ANCHOR_WORKING_MODE_COUPLE;
constexpr BYTE kModeAnchorY = 11;  // a single anchor whose own y is the tag's
constexpr int kMaster = 1;

// Reported anchor of a matched row: one of the range records, or the farthest from the
// site origin among the first three.
constexpr signed char kFarthest = -1;

// One row of a ranging solver's table: the exact set of range records whose anchors
// work in couple mode (bit i: record i), the circles it hands to the circle geometry and
// the anchor it reports.
struct CoupleRow {
    unsigned char mask;
    unsigned char circles[4];
    unsigned char count;
    signed char reported;
};

const CoupleRow kThreeRanges[] = {
    {0b111, {0, 1, 2}, 3, kFarthest},
    {0b011, {0, 1}, 2, 1},
    {0b101, {0, 2}, 2, 2},
    {0b110, {1, 2}, 2, 2},
};

const CoupleRow kFourRanges[] = {
    {0b1111, {0, 1, 2, 3}, 4, kFarthest},
    {0b0111, {0, 1, 2}, 3, 1},
    {0b1011, {0, 1, 3}, 3, 1},
    {0b1101, {0, 2, 3}, 3, 0},
    {0b1110, {1, 2, 3}, 3, 1},
    {0b0011, {0, 1}, 2, 1},
    {0b0101, {0, 2}, 2, 2},
    {0b1001, {0, 3}, 2, 3},
    {0b0110, {1, 2}, 2, 2},
    {0b1010, {1, 3}, 2, 3},
    {0b1100, {2, 3}, 2, 2},
};

// The anchors of a tag's first range records, each configuration taken once.
struct RangeSet {
    unsigned n = 0;
    WORD16 id[4]{};
    const Anchor* anchor[4]{};
    AnchorConfig cfg[4]{};
    double range[4]{};  // m

    RangeSet(const context_t& c, const Tag* tag, unsigned count)
    {
        n = std::min<unsigned>(count, 4);
        for (unsigned i = 0; i < n; ++i) {
            const TofBlink& t = tag->blinkReports.tof_blink[i];
            id[i] = t.id % ZUB_MAX_ANCHOR_NUM;
            anchor[i] = &c.anchors[id[i]];
            cfg[i] = anchor[i]->config_snapshot();
            range[i] = t.distance / 1000.0;
        }
    }
    bool couple(unsigned i) const { return cfg[i].mode == kModeCouple; }
    unsigned couple_mask() const
    {
        unsigned m = 0;
        for (unsigned i = 0; i < n; ++i) {
            m |= couple(i) ? 1u << i : 0u;
        }
        return m;
    }
    double origin_distance(unsigned i) const
    {
        const double* p = cfg[i].position;
        return std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    }
    // The farther of the first two (the first on a tie), then the third when farther still.
    unsigned farthest(unsigned among) const
    {
        unsigned best = origin_distance(0) < origin_distance(1) ? 1 : 0;
        if (among > 2 && origin_distance(best) < origin_distance(2)) {
            best = 2;
        }
        return best;
    }
    circle circle_of(unsigned i) const
    {
        return circle{point{cfg[i].position[0], cfg[i].position[1], cfg[i].position[2]}, range[i]};
    }
    arma::mat positions() const
    {
        arma::mat m(n, 3);
        for (unsigned i = 0; i < n; ++i) {
            m(i, 0) = cfg[i].position[0];
            m(i, 1) = cfg[i].position[1];
            m(i, 2) = cfg[i].position[2];
        }
        return m;
    }
    arma::rowvec ranges() const
    {
        arma::rowvec r(n);
        for (unsigned i = 0; i < n; ++i) {
            r(i) = range[i];
        }
        return r;
    }
};

// Runs the circle geometry of a matched row.
bool solve_row(const RangeSet& rs, const CoupleRow& row, arma::rowvec& result)
{
    circle c[4];
    for (unsigned i = 0; i < row.count; ++i) {
        c[i] = rs.circle_of(row.circles[i]);
    }
    switch (row.count) {
    case 2:
        return multivariate_2_position(c, result);
    case 3:
        return multivariate_3_position(c, result);
    default:
        return multivariate_4_position(c, result);
    }
}

template <size_t N>
const CoupleRow* match_row(const CoupleRow (&table)[N], unsigned mask)
{
    for (const CoupleRow& row : table) {
        if (row.mask == mask) {
            return &row;
        }
    }
    return nullptr;
}

bool finite_xy(const arma::rowvec& v)
{
    return v.n_elem >= 3 && std::isfinite(v(0)) && std::isfinite(v(1));
}

// Halfway towards the last pushed position, unless that one has an x or y of 0 (none yet);
// a jump of more than 10 m is logged first.
void smooth_against_last(const Tag* tag, pos_t& p)
{
    const pos_t& last = tag->last_push_pos;
    if (last.x == 0.0 || last.y == 0.0) {
        return;
    }
    if (std::fabs(p.x - last.x) > kSmoothingJump) {
        ZUB_TAG_PRINT(tag->id, ZUB_PRINT_MSG, "tag_id:%" PRIx64 " delta=%.1f", tag->id, p.x - last.x);
    }
    p.x = (last.x + p.x) / 2;
    p.y = (last.y + p.y) / 2;
}

// The local id of the round's range record whose anchor carries `hw`; the first record's
// when none does.
WORD16 record_anchor(const context_t& c, const blinks_t& r, unsigned n, WORD64 hw)
{
    for (unsigned i = 0; i < std::min(n, 4u); ++i) {
        const WORD16 k = r.tof_blink[i].id % ZUB_MAX_ANCHOR_NUM;
        if (c.anchors[k].hardware_id == hw) {
            return k;
        }
    }
    return r.tof_blink[0].id % ZUB_MAX_ANCHOR_NUM;
}

}  // namespace

double Selector::calculate_distance_projection_x(const Anchor* anchor, const Tag* tag) const
{
    const double r = tag->blinkReports.tof_blink[0].distance / 1000.0;
    const double h = anchor->config_snapshot().position[2] - ctx().ground_clearance;
    // A range shorter than the anchor's height above the tags puts the tag right below it.
    double p = std::sqrt(std::max(0.0, r * r - h * h));
    if (anchor->area_attribute.dimension == 0) {
        const double half = anchor->area_attribute.width / 2;
        const double q = p * p - half * half;
        p = q > 0 ? std::sqrt(q) : 0.0;
    }
    return p;
}

double Selector::calculate_distance_projection_xy(const Anchor* anchor, double d) const
{
    const double h = anchor->config_snapshot().position[2] - ctx().ground_clearance;
    const double v = d * d - h * h;
    return v > 0 ? std::sqrt(v) : 0.0;
}

double Selector::calculate_distance_projection_y_to_x(const Anchor* anchor, double d) const
{
    const double y = anchor->config_snapshot().position[1];
    const double v = d * d - y * y;
    return v > 0 ? std::sqrt(v) : 0.0;
}

double Selector::anchor_to_base_point_distance(const Anchor* anchor)
{
    const AnchorConfig cfg = anchor->config_snapshot();
    const double* p = cfg.position;
    return std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
}

bool Selector::calculete_position_in_single_mode_tof(Tag* tag, arma::rowvec& result, WORD64& anchor_hw_id, bool,
                                                      BYTE& mode)
{
    const Anchor* a1 = &ctx().anchors[tag->blinkReports.tof_blink[0].id % ZUB_MAX_ANCHOR_NUM];
    const AnchorConfig cfg = a1->config_snapshot();
    mode = cfg.mode;
    anchor_hw_id = a1->hardware_id;
    const double d = calculate_distance_projection_x(a1, tag);
    if (cfg.master != kMaster) {
        return false;
    }
    if (result.n_elem < 3) {
        result.resize(3);
    }
    // Anchors away from the origin look towards positive x; one at x = 0 looks back.
    result(0) = cfg.position[0] == 0.0 ? 0.0 - d : cfg.position[0] + d;
    result(1) = 0.0;
    result(2) = 0.0;
    return true;
}

bool Selector::calculete_position_in_couple_mode_tof(Tag* tag, arma::rowvec& result, WORD64& anchor_hw_id, bool,
                                                      BYTE& mode)
{
    const RangeSet rs(ctx(), tag, 2);
    anchor_hw_id = rs.anchor[rs.farthest(2)]->hardware_id;
    tag->blinkReports.nTofBlinks = 0;
    const bool both_couple = rs.couple(0) && rs.couple(1);
    mode = both_couple ? kModeCouple : 0;
    if (!both_couple) {
        return false;
    }
    const circle c[2] = {rs.circle_of(0), rs.circle_of(1)};
    const double dx = std::fabs(c[0].center.x - c[1].center.x);
    const double dy = std::fabs(c[0].center.y - c[1].center.y);
    if (dx > kAxisTolerance && dy > kAxisTolerance) {
        return false;  // not on an axis-parallel line
    }
    // Anchors level in y lie on a line along x: the fit gives x (and z) at their y.
    if (dx > kAxisTolerance) {
        return multivariate2D_x_parallel(x_line_matrix(c, {0, 1}), line_radii(c, {0, 1}), c[0].center.y, result);
    }
    if (dy > kAxisTolerance) {
        return multivariate2D_y_parallel(y_line_matrix(c, {0, 1}), line_radii(c, {0, 1}), c[0].center.x, result);
    }
    return false;  // both within a metre of each other: no line to speak of
}

bool Selector::trilateration_tof_2d(Tag* tag, arma::rowvec& result, WORD64& anchor_hw_id, BYTE& mode, bool)
{
    const RangeSet rs(ctx(), tag, 3);
    mode = 0;
    anchor_hw_id = rs.anchor[rs.farthest(3)]->hardware_id;
    tag->blinkReports.nTofBlinks = 0;
    if (const CoupleRow* row = match_row(kThreeRanges, rs.couple_mask())) {
        if (row->reported != kFarthest) {
            anchor_hw_id = rs.anchor[static_cast<unsigned>(row->reported)]->hardware_id;
        }
        return solve_row(rs, *row, result);
    }
    const arma::vec s = Multivariate2D(rs.positions(), rs.ranges(), true);
    if (s.n_elem < 2) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "trilateration_tof_2d->Multivariate3D tag at: unknown");
        return false;
    }
    if (result.n_elem < 3) {
        result.resize(3);
    }
    result(0) = s(0);
    result(1) = s(1);
    result(2) = 0.0;
    return true;
}

bool Selector::trilateration_tof_3d(Tag* tag, arma::rowvec& result, WORD64& anchor_hw_id, BYTE& mode, bool)
{
    const RangeSet rs(ctx(), tag, 4);
    mode = 0;
    anchor_hw_id = rs.anchor[rs.farthest(3)]->hardware_id;
    tag->blinkReports.nTofBlinks = 0;
    if (const CoupleRow* row = match_row(kFourRanges, rs.couple_mask())) {
        if (row->reported != kFarthest) {
            anchor_hw_id = rs.anchor[static_cast<unsigned>(row->reported)]->hardware_id;
        }
        const bool ok = solve_row(rs, *row, result);
        if (ok || row->count > 2) {
            return ok;
        }
    }
    const arma::vec s = Multivariate3D(rs.positions(), rs.ranges());
    if (s.n_elem < 3) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "trilateration_tof_3d->Multivariate3D tag at: unknown");
        return false;
    }
    if (result.n_elem < 3) {
        result.resize(3);
    }
    result(0) = s(0);
    result(1) = s(1);
    result(2) = s(2);
    return true;
}

void Selector::recv_timer_periodic_calculate_tof()
{
    if (tof_open_.empty()) {
        return;
    }
    const WORD64 now_ms = now();
    const int32_t wait = ctx().zubSolveWaitTime;
    auto due = [&](const Tag* t) {
        return t->blinkReports.nTofBlinks != 0 &&
               static_cast<int32_t>(static_cast<WORD32>(now_ms - t->blinkReports.timeFirstBlink)) >= wait;
    };
    // A tag listed twice, or whose round was emptied from outside, is looked at once.
    std::sort(tof_open_.begin(), tof_open_.end());
    tof_open_.erase(std::unique(tof_open_.begin(), tof_open_.end()), tof_open_.end());
    tof_due_.clear();
    for (Tag* t : tof_open_) {
        if (due(t)) {
            tof_due_.push_back(t);
        }
    }
    if (tof_due_.size() == 1) {
        solve_tof_tag(tof_due_.front(), now_ms);
    } else if (tof_due_.size() > 1) {
        // Several due: they go in the tree's order, as every tag of the tree would.
        for (auto it = tags.begin(); it; ++it) {
            Tag* t = it;
            if (due(t)) {
                solve_tof_tag(t, now_ms);
            }
        }
    }
    tof_open_.erase(std::remove_if(tof_open_.begin(), tof_open_.end(),
                                   [](const Tag* t) { return t->blinkReports.nTofBlinks == 0; }),
                    tof_open_.end());
}

void Selector::solve_tof_tag(Tag* tag, WORD64 now_ms)
{
    const context_t& c = ctx();
    blinks_t& r = tag->blinkReports;
    const unsigned n = r.nTofBlinks;
    const WORD16 first_id = r.tof_blink[0].id % ZUB_MAX_ANCHOR_NUM;
    const AnchorConfig first = c.anchors[first_id].config_snapshot();

    arma::rowvec result(3, arma::fill::zeros);
    WORD64 hw = 0;
    BYTE mode = 0;
    bool ok = false;
    switch (n) {
    case 1:
        if (first.master == kMaster) {
            ok = calculete_position_in_single_mode_tof(tag, result, hw, false, mode);
        }
        break;
    case 2:
        ok = calculete_position_in_couple_mode_tof(tag, result, hw, false, mode);
        break;
    case 3:
        ok = trilateration_tof_2d(tag, result, hw, mode, false);
        break;
    case 4:
        ok = trilateration_tof_3d(tag, result, hw, mode, false);
        break;
    default:
        break;
    }
    if (ok && finite_xy(result)) {
        // The filter types the position by the anchor the record names.
        WORD16 id = record_anchor(c, r, n, hw);
        pos_t p{result(0) + kPlacementOffset, result(1) + kPlacementOffset, c.ground_clearance, 0, now_ms,
                ZUB_SUB_AREA_TYPE_MULTI};
        if (c.filter == 1) {
            p = fitting_position(tag, p, mode);
        }
        const bool rejected = zub_position_filter(c, tag, p, id, true) != 0;
        smooth_against_last(tag, p);
        tag->last_push_pos = p;
        tag->last_time = now();
        ZUB_TAG_PRINT(tag->id, ZUB_PRINT_MSG,
                      "recv_timer_periodic_calculate_tof: %16" PRIx64 ":%4u [%.1f %.1f] M%d B%u %u-%u-%u-%u %.1f %s single=%d",
                      tag->id, static_cast<unsigned>(first.idx), p.x, p.y, mode, syncbl.nTofBlinks,
                      r.count_single_mode, r.count_couple_mode, r.count_multiple_mode, r.nTofBlinks, tag->variance,
                      rejected ? " ignore" : "", 1);
        if (!rejected) {
            tag->last_push_pos.anchor_id = id;
            msg_position_t m{};
            m.anchor_mode = mode;
            m.tag_id = tag->id;
            m.anchor_id = hw;
            m.x = zub_metres_to_mm(p.x);
            m.y = zub_metres_to_mm(p.y);
            m.z = zub_metres_to_mm(p.z);
            if (mode == kModeAnchorY) {
                m.y = zub_metres_to_mm(first.position[1]);
            }
            send(ZUB_EV_SELECTOR_DISPLAY_TAG_LOC, &m, sizeof m);
        }
    }
    close_tof_round(tag);
}

void Selector::close_tof_round(Tag* tag)
{
    blinks_t& r = tag->blinkReports;
    count_missing_blinks(tag);
    r.nTofBlinks = 0;
    r.count_multiple_mode = 0;
    r.count_single_mode = 0;
    r.count_couple_mode = 0;
    syncbl.nTofBlinks = 0;
}

void Selector::tof_immediate_fix(WORD64 tag_id, WORD16 reporting_anchor)
{
    const context_t& c = ctx();
    // Only a range stored in this round says where the tag is: a tag without a record holds none,
    // so it is not given one here.
    Tag* tag = hear_held_tag(tag_id, steady_now());
    if (tag == nullptr || tag->blinkReports.nTofBlinks == 0) {
        return;
    }
    arma::rowvec result(3, arma::fill::zeros);
    WORD64 hw = 0;
    BYTE first_mode = 0;
    if (!calculete_position_in_single_mode_tof(tag, result, hw, false, first_mode) || !std::isfinite(result(0))) {
        return;
    }
    const WORD16 reporter = reporting_anchor % ZUB_MAX_ANCHOR_NUM;
    const BYTE mode = c.anchors[reporter].config_snapshot().mode;
    const WORD64 now_ms = now();
    pos_t p{result(0), 0.0, 0.0, 0, now_ms, ZUB_SUB_AREA_TYPE_MULTI};
    if (c.filter == 1) {
        p = fitting_position(tag, p, mode);
    }
    WORD16 id = reporter;
    const bool rejected = zub_position_filter(c, tag, p, id, true) != 0;
    smooth_against_last(tag, p);
    tag->last_push_pos = p;
    tag->last_time = now_ms;
    // The single-area override of the TDoA round reads this id whatever the filter said.
    tag->last_push_pos.anchor_id = reporter;
    if (rejected) {
        return;
    }
    const AnchorConfig first = c.anchors[tag->blinkReports.tof_blink[0].id % ZUB_MAX_ANCHOR_NUM].config_snapshot();
    msg_position_t m{};
    m.anchor_mode = mode;
    m.tag_id = tag_id;
    m.anchor_id = hw;
    m.x = zub_metres_to_mm(p.x);
    m.y = zub_metres_to_mm(first.position[1]);
    m.z = zub_metres_to_mm(p.z);
    send(ZUB_EV_SELECTOR_DISPLAY_TAG_LOC, &m, sizeof m);
}
